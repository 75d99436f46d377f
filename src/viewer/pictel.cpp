// Pictel.exe: the picture viewer Kavo starts for a preview. It takes no arguments; every picture
// arrives as a path in a WM_COPYDATA message from Kavo.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>
// clang-format on

#include "res/resource.h"
#include "viewer/main_frame.h"
#include "viewer/picture_decoder.h"

namespace {

// A crash ends the program with a code that says so (under wine a crash may otherwise exit 0).
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  TerminateProcess(GetCurrentProcess(), 99);
  return EXCEPTION_EXECUTE_HANDLER;
}

int Run(HINSTANCE instance) {
  kavo::viewer::CMainFrame frame;
  if (!frame.Create(instance)) return 1;
  ShowWindow(frame.Handle(), SW_SHOWNORMAL);
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
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  kavo::viewer::SetDecoderPluginsPath("..\\plugins\\");
  if (FAILED(OleInitialize(nullptr))) {
    wchar_t text[256] = {};
    LoadStringW(instance, IDS_OLE_INIT_FAILED, text, 256);
    MessageBoxW(nullptr, text, L"NorvelView", MB_ICONERROR | MB_OK);
    return 1;
  }
  const int code = Run(instance);
  OleUninitialize();
  return code;
}
