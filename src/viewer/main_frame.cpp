#include "viewer/main_frame.h"

#include <string>

#include "res/resource.h"
#include "viewer/picture_decoder.h"
#include "viewer/viewer_protocol.h"

namespace kavo::viewer {
namespace {

constexpr wchar_t kClassName[] = L"PictelWindow";
constexpr int kFrameSize = 500;

}  // namespace

CMainFrame::~CMainFrame() {
  if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
  ReleasePicture();
}

bool CMainFrame::Create(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = &CMainFrame::Proc;
  cls.hInstance = instance;
  cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  cls.hIconSm = cls.hIcon;
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  cls.lpszClassName = kClassName;
  if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  wchar_t title[64] = {};
  if (LoadStringW(instance, IDR_MAINFRAME, title, 64) == 0) return false;
  // The overlapped frame without its sizing border and maximise box: the user cannot resize it.
  const DWORD style = (WS_OVERLAPPEDWINDOW & ~(WS_THICKFRAME | WS_MAXIMIZEBOX)) | WS_BORDER;
  m_hwnd = CreateWindowExW(0, kClassName, title, style, CW_USEDEFAULT, CW_USEDEFAULT, kFrameSize,
                           kFrameSize, nullptr, nullptr, instance, this);
  return m_hwnd != nullptr;
}

LRESULT CALLBACK CMainFrame::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* frame =
        static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    frame->m_hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
  }
  auto* frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (frame == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return frame->Handle(message, wParam, lParam);
}

LRESULT CMainFrame::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: OnCreate(); return 0;
    case WM_SIZE: OnSize(LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(m_hwnd, &paint);
      Paint(dc);
      EndPaint(m_hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT: Paint(reinterpret_cast<HDC>(wParam)); return 0;
    case WM_COPYDATA: Load(reinterpret_cast<const COPYDATASTRUCT*>(lParam)); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == kNextButtonId) AskForNext();
      return 0;
    case WM_DESTROY:
      if (m_next != nullptr) DestroyWindow(m_next);
      m_next = nullptr;
      if (m_font != nullptr) DeleteObject(m_font);
      m_font = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
      m_hwnd = nullptr;
      return 0;
    default: return DefWindowProcW(m_hwnd, message, wParam, lParam);
  }
}

void CMainFrame::OnCreate() {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(m_hwnd, GWLP_HINSTANCE));
  m_next = CreateWindowExW(0, L"BUTTON", L"Next", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                           kButtonWidth, kButtonHeight, m_hwnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNextButtonId)), instance,
                           nullptr);
  LOGFONTW font{};
  if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font) != 0) {
    font.lfHeight = 18;
    m_font = CreateFontIndirectW(&font);
  }
  if (m_next != nullptr && m_font != nullptr) {
    SendMessageW(m_next, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
  }
}

void CMainFrame::OnSize(int width, int height) {
  if (m_next == nullptr) return;
  MoveWindow(m_next, width - kButtonWidth, height - kButtonHeight, kButtonWidth, kButtonHeight,
             TRUE);
  InvalidateRect(m_hwnd, nullptr, TRUE);
}

void CMainFrame::Paint(HDC dc) {
  RECT client;
  GetClientRect(m_hwnd, &client);
  if (m_picture != nullptr) {
    BITMAP info{};
    GetObjectW(m_picture, sizeof info, &info);
    const HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(memory, m_picture);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, 0, 0, client.right, client.bottom - kButtonHeight, memory, 0, 0, info.bmWidth,
               info.bmHeight, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    return;
  }
  client.bottom -= kTextBandCut;
  const HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, m_lastResult != 0 ? kFailText : kWaitText, -1, &client,
            DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  SelectObject(dc, oldFont);
}

// The record's path is decoded straight from its UTF-16 units, so a name outside the ANSI code
// page opens as well. A failed load lets go of the earlier picture: the window then says that
// the file it was handed cannot be shown, instead of showing another file's picture as its.
void CMainFrame::Load(const COPYDATASTRUCT* data) {
  std::wstring path;
  if (data != nullptr && data->lpData != nullptr) {
    const std::u16string units =
        HandOverPath(static_cast<const uint8_t*>(data->lpData), data->cbData);
    path.assign(units.begin(), units.end());
  }
  HBITMAP picture = nullptr;
  m_lastResult = LoadBitmapIntoDDB(path.c_str(), &picture);
  ReleasePicture();
  if (m_lastResult == kDecodeOk) m_picture = picture;
  InvalidateRect(m_hwnd, nullptr, TRUE);
  // A file arrives when the user asks for it: the window comes to the front to show it.
  if (IsIconic(m_hwnd)) ShowWindow(m_hwnd, SW_RESTORE);
  SetForegroundWindow(m_hwnd);
}

void CMainFrame::AskForNext() {
  const HWND kavo = FindWindowW(nullptr, kKavoTitle);
  if (kavo == nullptr) return;
  COPYDATASTRUCT request{};
  request.dwData = kCopyDataKind;
  request.cbData = kNextFileBytes;
  request.lpData = nullptr;
  SendMessageW(kavo, WM_COPYDATA, reinterpret_cast<WPARAM>(m_hwnd),
               reinterpret_cast<LPARAM>(&request));
}

void CMainFrame::ReleasePicture() {
  if (m_picture != nullptr) DeleteObject(m_picture);
  m_picture = nullptr;
}

}  // namespace kavo::viewer
