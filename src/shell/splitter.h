// A window split in two panes, side by side or one above the other, with a bar between them the
// user drags to move the split. The panes are windows of this layer, created as its children, so
// one pane finds the other through the splitter (the drive table tells the attribute view which
// drive is selected; the folder tree tells the file list which folder to show).
#pragma once

#include <memory>

#include "shell/window.h"

namespace kavo::shell {

class CExtndSplitterWnd final : public Window {
 public:
  enum class Split { Columns, Rows };  // two columns side by side, or two rows stacked
  // `firstSize` is the first pane's initial width (columns) or height (rows), in pixels.
  CExtndSplitterWnd(Split split, int firstSize) : m_split(split), m_firstSize(firstSize) {}

  // Creates the two panes under their window names; call once the splitter exists. False when a
  // pane cannot be created (the splitter then holds none).
  bool CreatePanes(std::unique_ptr<Window> first, const wchar_t* firstName,
                   std::unique_ptr<Window> second, const wchar_t* secondName);
  // Pane 0 or 1, or null.
  Window* Pane(int index) const;
  // The first pane's current width or height.
  int FirstSize() const { return m_firstSize; }

  static constexpr int kBarSize = 4;

 protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Layout();
  // The first pane's size for a split at `position`, kept so both panes stay at least 16 pixels.
  int Clamp(int position) const;
  bool OnBar(POINT point) const;
  int Along(POINT point) const { return m_split == Split::Columns ? point.x : point.y; }

  Split m_split;
  int m_firstSize;
  bool m_dragging = false;
  std::unique_ptr<Window> m_panes[2];
};

}  // namespace kavo::shell
