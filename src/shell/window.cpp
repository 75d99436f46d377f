#include "shell/window.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kWindowClass[] = L"KavoWindow";
// Posted to a holder to free the objects of the children it replaced.
constexpr UINT kFreeRetired = WM_APP + 0x300;

ATOM RegisterOnce(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128));
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc);
  }();
  return atom;
}

}  // namespace

Window::~Window() {
  if (m_hwnd != nullptr) {
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hwnd);
  }
}

bool Window::Create(HWND parent, const wchar_t* name, DWORD style, const RECT& rect, DWORD exStyle,
                    UINT id) {
  if (RegisterOnce(&Window::Procedure) == 0) return false;
  m_name = name != nullptr ? name : L"";
  const HMENU menu =
      (style & WS_CHILD) != 0 ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
  const HWND hwnd = CreateWindowExW(exStyle, kWindowClass, m_name.c_str(), style, rect.left,
                                    rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                    parent, menu, GetModuleHandleW(nullptr), this);
  if (hwnd == nullptr) return false;
  OnCreated();
  return true;
}

Window* Window::FromHandle(HWND hwnd) {
  return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  Window* self = FromHandle(hwnd);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  const LRESULT result = self->OnMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->m_hwnd = nullptr;
  }
  return result;
}

bool FreeNowOrLater(HWND hwnd, UINT message) {
  if (ModalJobScope::Active()) {
    SetTimer(hwnd, message, 100, nullptr);
    return false;
  }
  KillTimer(hwnd, message);
  return true;
}

Window* Holder::Replace(std::unique_ptr<Window> next, const wchar_t* name) {
  if (m_child != nullptr) {
    if (m_child->Handle() != nullptr) DestroyWindow(m_child->Handle());
    m_retired.push_back(std::move(m_child));
    PostMessageW(Handle(), kFreeRetired, 0, 0);
  }
  if (next == nullptr) return nullptr;
  const RECT rect = ClientRect(Handle());
  if (!next->Create(Handle(), name, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect)) {
    return nullptr;
  }
  m_child = std::move(next);
  return m_child.get();
}

LRESULT Holder::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kFreeRetired || (message == WM_TIMER && wParam == kFreeRetired)) {
    if (FreeNowOrLater(Handle(), kFreeRetired)) m_retired.clear();
    return 0;
  }
  if (message == WM_SIZE && m_child != nullptr) {
    MoveWindow(m_child->Handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    return 0;
  }
  return Window::OnMessage(message, wParam, lParam);
}

RECT ClientRect(HWND hwnd) {
  RECT rect{};
  GetClientRect(hwnd, &rect);
  return rect;
}

}  // namespace kavo::shell
