// Entry point of every test program. On Windows a crash must end the process with a non-zero
// code: under wine an access violation can otherwise exit 0.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

namespace {
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), 99);
  return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  SetUnhandledExceptionFilter(EndOnCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
