#include "shell/tree_preparing_dlg.h"

#include "shell/window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace kavo::shell {

TAVR_TreePreparingDlg::~TAVR_TreePreparingDlg() {
  m_abort = true;
  if (m_thread == nullptr) return;
  if (ThreadRunning()) {
    Sleep(500);
    if (ThreadRunning()) TerminateThread(m_thread, 2);
  }
  CloseHandle(m_thread);
}

bool TAVR_TreePreparingDlg::ThreadRunning() const {
  return m_thread != nullptr && WaitForSingleObject(m_thread, 0) == WAIT_TIMEOUT;
}

INT_PTR TAVR_TreePreparingDlg::Run(HWND owner) {
  const ModalJobScope busy;
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPreparingDialog), owner,
                         &TAVR_TreePreparingDlg::Procedure, reinterpret_cast<LPARAM>(this));
}

void TAVR_TreePreparingDlg::SetText(const wchar_t* text) {
  SendMessageW(m_hwnd, kDlgSetText, 0, reinterpret_cast<LPARAM>(text));
}

void TAVR_TreePreparingDlg::SetPosition(int percent) {
  PostMessageW(m_hwnd, kDlgSetPosition, static_cast<WPARAM>(percent), 0);
}

DWORD WINAPI TAVR_TreePreparingDlg::Thread(void* param) {
  auto* self = static_cast<TAVR_TreePreparingDlg*>(param);
  self->m_running = true;
  const bool done = !self->m_abort && self->m_job(*self);
  self->m_running = false;
  PostMessageW(self->m_hwnd, kDlgEnd, done ? 1 : 2, 0);
  return 0;
}

INT_PTR CALLBACK TAVR_TreePreparingDlg::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    reinterpret_cast<TAVR_TreePreparingDlg*>(lParam)->m_hwnd = hwnd;
  }
  auto* self = reinterpret_cast<TAVR_TreePreparingDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void TAVR_TreePreparingDlg::HideCancel() {
  ShowWindow(GetDlgItem(m_hwnd, IDCANCEL), SW_HIDE);
  EnableWindow(GetDlgItem(m_hwnd, IDCANCEL), FALSE);
  EnableMenuItem(GetSystemMenu(m_hwnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

void TAVR_TreePreparingDlg::Terminate() {
  if (!m_cancellable) return;
  m_abort = true;
  SetDlgItemTextW(m_hwnd, kPreparingText, L"Termination Initiated..");
  HideCancel();
  // The job ends at its next check; its messages to this thread are handled meanwhile.
  while (ThreadRunning()) {
    MsgWaitForMultipleObjects(1, &m_thread, FALSE, 500, QS_SENDMESSAGE);
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
  }
  SetDlgItemTextW(m_hwnd, kPreparingText, L"Termination Complete ..Shutting Down !!");
  UpdateWindow(m_hwnd);
  Sleep(500);
  EndDialog(m_hwnd, kDlgTerminated);
}

INT_PTR TAVR_TreePreparingDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const HWND bar = GetDlgItem(m_hwnd, kPreparingBar);
      SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
      SendMessageW(bar, PBM_SETMARQUEE, TRUE, 500);
      if (!m_cancellable) HideCancel();
      DWORD id = 0;
      m_thread = CreateThread(nullptr, 0, &TAVR_TreePreparingDlg::Thread, this, 0, &id);
      if (m_thread == nullptr) EndDialog(m_hwnd, 2);
      return TRUE;
    }
    case kDlgHideCancel: HideCancel(); return TRUE;
    case kDlgEnd:
      // The thread has posted its last message; let it finish before the dialog goes.
      if (m_thread != nullptr) WaitForSingleObject(m_thread, 5000);
      EndDialog(m_hwnd, static_cast<INT_PTR>(wParam));
      return TRUE;
    case kDlgSetPosition: {
      const HWND bar = GetDlgItem(m_hwnd, kPreparingBar);
      if (GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) {
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) & ~PBS_MARQUEE);
        SendMessageW(bar, PBM_SETRANGE32, 0, 100);
      }
      SendMessageW(bar, PBM_SETPOS, wParam, 0);
      return TRUE;
    }
    case kDlgSetText:
      SetDlgItemTextW(m_hwnd, kPreparingText, reinterpret_cast<const wchar_t*>(lParam));
      return TRUE;
    case kDlgTerminate: Terminate(); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) Terminate();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        Terminate();
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace kavo::shell
