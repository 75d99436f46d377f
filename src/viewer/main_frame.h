// The viewer's only window: the picture stretched over the client area above a "Next" button,
// or a line of status text while there is no picture.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kavo::viewer {

inline constexpr int kNextButtonId = 1001;
inline constexpr int kButtonWidth = 50;
inline constexpr int kButtonHeight = 25;  // also the band kept free below the picture
inline constexpr int kTextBandCut = 140;  // the status line is centred above this band
inline constexpr wchar_t kWaitText[] = L"Please wait... Preparing for preview...";
inline constexpr wchar_t kFailText[] = L"File can not be open. File may corrupt.";

class CMainFrame {
 public:
  CMainFrame() = default;
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Registers the class and creates the frame (500 x 500, not resizable); false on failure.
  bool Create(HINSTANCE instance);
  HWND Handle() const { return m_hwnd; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCreate();
  void OnSize(int width, int height);
  void Paint(HDC dc);
  void Load(const COPYDATASTRUCT* data);
  void AskForNext();
  void ReleasePicture();

  HWND m_hwnd = nullptr;
  HWND m_next = nullptr;
  HFONT m_font = nullptr;
  HBITMAP m_picture = nullptr;
  int16_t m_lastResult = 0;
};

}  // namespace kavo::viewer
