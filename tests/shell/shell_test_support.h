// What the page tests of Kavo.exe share: the program's path and the holders' windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "shell/shell_driver.h"

namespace kavo::test {

// The program's path as the build wrote it; a Unix path (a cross build run under wine) is seen
// on wine's drive Z:.
inline std::wstring KavoProgram() {
  const std::string path = KAVO_EXE_PATH;
  std::wstring wide(path.begin(), path.end());
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    wide = L"Z:" + wide;
  }
  return wide;
}

// The windows in the three holders: command bar, page, button bar.
inline std::vector<std::wstring> Holders(const ShellDriver& kavo) {
  return {kavo.HolderChild(L"CActiveToolCmdWnd"), kavo.HolderChild(L"CActiveToolWnd"),
          kavo.HolderChild(L"CSBar")};
}

// True when the holders show the drive-listing row of the page table. The drive-listing windows
// are built apart from these pages; until they are, that row leaves the holders empty.
inline bool OnDriveListing(const ShellDriver& kavo) {
  const std::vector<std::wstring> holders = Holders(kavo);
  return holders == std::vector<std::wstring>{L"CDriveListingCmdWnd", L"CDriveListingWnd",
                                              L"CDriveListSBar"} ||
         holders == std::vector<std::wstring>{L"", L"", L""};
}

// Polls `done` every 20 ms for up to `ms`; its last answer.
template <typename Done>
bool WaitUntil(Done done, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 20) {
    if (done()) return true;
    Sleep(20);
  }
  return done();
}

}  // namespace kavo::test
