// Kavo.exe: one instance at a time, the common controls, GDI+ and OLE, then the main frame on
// the home page and the message loop.
// The Windows header first, then OLE, whose types GDI+ needs (the lean Windows header leaves
// them out).
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>
#include <gdiplus.h>
// clang-format on

#include "shell/main_frame.h"
#include "shell/res/resource.h"

namespace {

constexpr wchar_t kMutexName[] = L"Kavo.AppID.NoVersion";

// A crash ends the program with a code that says so (under wine a crash may otherwise exit 0).
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), 99);
  return EXCEPTION_EXECUTE_HANDLER;
}

int Run() {
  kavo::shell::ShellContext context;
  kavo::shell::CMainFrame frame(context);
  if (!frame.CreateFrame()) return 1;
  ShowWindow(frame.Handle(), SW_SHOW);
  UpdateWindow(frame.Handle());
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  SetUnhandledExceptionFilter(&EndOnCrash);
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, L"An Instance of this application is already running.", L"Warning",
                MB_ICONERROR | MB_OK);
    return 0;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
  if (FAILED(OleInitialize(nullptr))) {
    wchar_t text[256] = {};
    LoadStringW(instance, IDS_OLE_INIT_FAILED, text, 256);
    MessageBoxW(nullptr, text, kavo::shell::kProgramName, MB_ICONERROR | MB_OK);
    return 1;
  }
  const int code = Run();
  OleUninitialize();
  Gdiplus::GdiplusShutdown(gdiplusToken);
  CloseHandle(mutex);
  return code;
}
