// The cloning page: a drive or volume copied sector by sector onto another, over the whole
// source or a range, forwards or in reverse, with a choice of retries for unreadable sectors.
#pragma once

#include <cstdint>

#include "shell/copy_page.h"

namespace kavo::shell {

// Controls of the cloning page.
inline constexpr UINT kCloneEntireId = 3001;
inline constexpr UINT kReverseCloneId = 3002;
inline constexpr UINT kSourceStartLabelId = 3003;
inline constexpr UINT kDestinationStartLabelId = 3004;
inline constexpr UINT kCountLabelId = 3005;
inline constexpr UINT kSourceStartId = 3006;
inline constexpr UINT kDestinationStartId = 3007;
inline constexpr UINT kCountId = 3008;
inline constexpr UINT kCloneSourceId = 3009;
inline constexpr UINT kCloneDestinationId = 3010;
inline constexpr UINT kRetryLabelId = 3011;
inline constexpr UINT kRetry2Id = 3012;
inline constexpr UINT kRetry3Id = 3013;
inline constexpr UINT kRetry5Id = 3014;

class CCloningWnd final : public CCopyPage {
 public:
  explicit CCloningWnd(ShellContext& context) : CCopyPage(context) {}
  void OnNext() override;

 protected:
  void CreateControls() override;
  std::vector<HWND> Lists() const override { return {m_source, m_destination}; }
  void PaintTexts(HDC dc) override;
  HBRUSH ControlBrush(HWND control, HDC dc) override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnCloneEntire();
  void OnReverse();
  // Enables or disables the three range labels and edits; disabling empties two of the edits.
  void SetRangeEnabled(bool enabled);
  std::u16string EditText(UINT id) const;

  HWND m_source = nullptr;
  HWND m_destination = nullptr;
  HBRUSH m_grey = nullptr;
  uint32_t m_cloneEntire = 0;
  uint32_t m_reverse = 0;
  int32_t m_retryAttempts = 2;
};

class CCloningSBar final : public CCopySBar {
 public:
  explicit CCloningSBar(ShellContext& context) : CCopySBar(context) {}
};

}  // namespace kavo::shell
