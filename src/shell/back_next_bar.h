// The button bar of the pages that go on or back: "Back" and "Next" at the right end of a grey
// bar, kept there as the bar is resized. A page's bar says what each button does.
#pragma once

#include "shell/window.h"

namespace kavo::shell {

class CBackNextBar : public Window {
 public:
  // `nextRight`: how far the left edge of "Next" is from the bar's right end; "Back" sits 110
  // pixels further left.
  CBackNextBar(UINT backId, UINT nextId, int nextRight)
      : m_backId(backId), m_nextId(nextId), m_nextRight(nextRight) {}

 protected:
  virtual void OnBack() = 0;
  virtual void OnNext() = 0;
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Place(int width);

  UINT m_backId;
  UINT m_nextId;
  int m_nextRight;
};

}  // namespace kavo::shell
