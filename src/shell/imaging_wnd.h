// The imaging page: a drive or volume copied sector by sector into an image file. The source
// list, the destination path with its "..." button, and the button bar with Back and Next.
#pragma once

#include "shell/copy_page.h"

namespace kavo::shell {

inline constexpr UINT kImagingSourceId = 3101;
inline constexpr UINT kImagingPathId = 3102;
inline constexpr UINT kImagingBrowseId = 3103;

class CImagingWnd final : public CCopyPage {
 public:
  explicit CImagingWnd(ShellContext& context) : CCopyPage(context) {}
  void OnNext() override;

 protected:
  void CreateControls() override;
  std::vector<HWND> Lists() const override { return {m_source}; }
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Browse();

  HWND m_source = nullptr;
  HWND m_path = nullptr;
  std::u16string m_sourceName;
};

class CImagingSBar final : public CCopySBar {
 public:
  explicit CImagingSBar(ShellContext& context) : CCopySBar(context) {}
};

}  // namespace kavo::shell
