#include "support/process.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace kavo::test {

namespace {
std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

#ifdef _WIN32
std::wstring ToWide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::wstring Quote(const std::wstring& arg) {
  std::wstring q = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') q.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    q.push_back(c);
  }
  q.append(backslashes, L'\\');
  return q + L"\"";
}
#else
std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}
#endif
}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  ScratchDir dir;
  const auto outPath = dir / "out.txt";
  const auto errPath = dir / "err.txt";
  ProcessResult result;
#ifdef _WIN32
  std::wstring commandLine = Quote(ToWide(program));
  for (const auto& a : args) commandLine += L" " + Quote(ToWide(a));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(errPath.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0,
                          nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                     &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
#else
  std::string commandLine = Quote(program);
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict on `" " + string&&`.
  for (const auto& a : args) {
    commandLine += ' ';
    commandLine += Quote(a);
  }
  commandLine += " </dev/null >" + Quote(outPath.string()) + " 2>" + Quote(errPath.string());
  const int status = std::system(commandLine.c_str());
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

int RunShell(const std::string& commandLine) {
#ifdef _WIN32
  (void)commandLine;
  return -1;
#else
  const int status = std::system(commandLine.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
#endif
}

bool HaveTool(const std::string& tool) {
#ifdef _WIN32
  (void)tool;
  return false;
#else
  return RunShell("command -v " + Quote(tool) + " >/dev/null 2>&1") == 0;
#endif
}

}  // namespace kavo::test
