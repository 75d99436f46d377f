#include "shell/splitter.h"

#include <windowsx.h>

#include <algorithm>

namespace kavo::shell {

namespace {
constexpr int kMinimumPane = 16;
}

bool CExtndSplitterWnd::CreatePanes(std::unique_ptr<Window> first, const wchar_t* firstName,
                                    std::unique_ptr<Window> second, const wchar_t* secondName) {
  const RECT none{};
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
  if (!first || !second || !first->Create(Handle(), firstName, style, none) ||
      !second->Create(Handle(), secondName, style, none)) {
    return false;
  }
  m_panes[0] = std::move(first);
  m_panes[1] = std::move(second);
  Layout();
  return true;
}

Window* CExtndSplitterWnd::Pane(int index) const {
  return index == 0 || index == 1 ? m_panes[index].get() : nullptr;
}

int CExtndSplitterWnd::Clamp(int position) const {
  const RECT rect = ClientRect(Handle());
  const int total = m_split == Split::Columns ? rect.right : rect.bottom;
  const int most = total - kBarSize - kMinimumPane;
  // A window too small for two panes of the minimum keeps the split where it was asked.
  if (most < kMinimumPane) return std::max(position, 0);
  return std::clamp(position, kMinimumPane, most);
}

void CExtndSplitterWnd::Layout() {
  if (!m_panes[0] || !m_panes[1]) return;
  const RECT rect = ClientRect(Handle());
  const int first = Clamp(m_firstSize);
  const int second = first + kBarSize;
  if (m_split == Split::Columns) {
    MoveWindow(m_panes[0]->Handle(), 0, 0, first, rect.bottom, TRUE);
    MoveWindow(m_panes[1]->Handle(), second, 0, std::max<int>(rect.right - second, 0),
               rect.bottom, TRUE);
  } else {
    MoveWindow(m_panes[0]->Handle(), 0, 0, rect.right, first, TRUE);
    MoveWindow(m_panes[1]->Handle(), 0, second, rect.right,
               std::max<int>(rect.bottom - second, 0), TRUE);
  }
}

bool CExtndSplitterWnd::OnBar(POINT point) const {
  const int along = Along(point);
  const int first = Clamp(m_firstSize);
  return along >= first && along < first + kBarSize;
}

LRESULT CExtndSplitterWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  switch (message) {
    case WM_SIZE: Layout(); return 0;
    case WM_SETCURSOR: {
      POINT cursor{};
      GetCursorPos(&cursor);
      ScreenToClient(Handle(), &cursor);
      if (reinterpret_cast<HWND>(wParam) == Handle() && OnBar(cursor)) {
        SetCursor(LoadCursorW(nullptr, m_split == Split::Columns ? IDC_SIZEWE : IDC_SIZENS));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if (OnBar(point)) {
        m_dragging = true;
        SetCapture(Handle());
      }
      return 0;
    case WM_MOUSEMOVE:
      if (m_dragging) {
        m_firstSize = Clamp(Along(point) - kBarSize / 2);
        Layout();
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (m_dragging) {
        m_dragging = false;
        if (message == WM_LBUTTONUP) ReleaseCapture();
      }
      return 0;
    case WM_ERASEBKGND: {
      // The bar between the panes in the face colour; the panes paint themselves.
      RECT bar = ClientRect(Handle());
      const int first = Clamp(m_firstSize);
      if (m_split == Split::Columns) {
        bar.left = first;
        bar.right = first + kBarSize;
      } else {
        bar.top = first;
        bar.bottom = first + kBarSize;
      }
      FillRect(reinterpret_cast<HDC>(wParam), &bar, GetSysColorBrush(COLOR_BTNFACE));
      return TRUE;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell
