#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {
void (*g_onInterrupt)() = nullptr;

void HandleInterrupt(int) {
  if (g_onInterrupt) g_onInterrupt();
  // The next Ctrl-C ends the program.
  ::signal(SIGINT, SIG_DFL);
}
}  // namespace

std::vector<std::u16string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToUtf16(argv[i]));
  return args;
}

void Write(Stream stream, std::string_view utf8) {
  FILE* f = stream == Stream::Out ? stdout : stderr;
  std::fwrite(utf8.data(), 1, utf8.size(), f);
  if (stream == Stream::Err) std::fflush(f);
}

bool IsTerminal(Stream stream) {
  return ::isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void OnInterrupt(void (*onInterrupt)()) {
  g_onInterrupt = onInterrupt;
  struct sigaction action{};
  action.sa_handler = HandleInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace kavo::platform
