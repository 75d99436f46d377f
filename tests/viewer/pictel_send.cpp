// pictel_send PATH: hands PATH to the running viewer as Kavo does (for the screenshots).
#include <windows.h>

#include <string>

#include "viewer/viewer_protocol.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const HWND viewer = FindWindowW(nullptr, kavo::viewer::kViewerTitle);
  if (viewer == nullptr) return 1;
  const std::wstring path = argv[1];
  const kavo::viewer::HandOverRecord record =
      kavo::viewer::PackHandOver(std::u16string(path.begin(), path.end()), 0);
  COPYDATASTRUCT data{kavo::viewer::kCopyDataKind, static_cast<DWORD>(record.size()),
                      const_cast<uint8_t*>(record.data())};
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(viewer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             20000, &answer) != 0 &&
                 answer == TRUE
             ? 0
             : 1;
}
