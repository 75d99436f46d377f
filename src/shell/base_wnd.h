// The page router: the work area below the strip, with its three holders (command bar, page,
// button bar). Every page change is a message to it; the page table says which windows each
// message puts in the holders.
#pragma once

#include <cstdint>

#include "shell/shell_context.h"

namespace kavo::shell {

class CBaseWnd final : public Window {
 public:
  explicit CBaseWnd(ShellContext& context) : m_context(context) {}

  // The window name of the current page, or empty while the page holder is empty.
  std::wstring CurrentPage() const { return m_pages.CurrentName(); }
  Window* Page() const { return m_pages.Current(); }

  uint32_t operation = 0;
  uint32_t forwardCopy = 1;
  uint32_t advancedSearch = 0;

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Puts the windows of one page-table row in the holders; a null name leaves a holder as it is.
  void Show(const wchar_t* command, const wchar_t* page, const wchar_t* bar);
  void Layout(int width, int height);
  void UpdateSideStrip();
  LRESULT PassToPage(UINT message, WPARAM wParam, LPARAM lParam);

  ShellContext& m_context;
  Holder m_commands;  // CActiveToolCmdWnd
  Holder m_pages;     // CActiveToolWnd
  Holder m_bars;      // CSBar
};

}  // namespace kavo::shell
