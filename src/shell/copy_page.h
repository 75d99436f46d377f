// What the imaging and cloning pages share: the drive records their lists show, read by the
// page's drive loader; the lists' items; the hand-over of a set-up copy to the scan page; and
// the button bar with Back and Next.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "disk/drive_records.h"
#include "shell/back_next_bar.h"
#include "shell/drive_loader.h"
#include "shell/shell_context.h"

namespace kavo::shell {

inline constexpr UINT kCopyNextCommand = 806;
inline constexpr UINT kCopyBackCommand = 807;

// The base of the two pages: loads the drive records when created and fills the drop-down lists
// the page names with them, first every physical drive, then every volume.
class CCopyPage : public Window {
 public:
  explicit CCopyPage(ShellContext& context)
      : m_context(context), m_loader(context, kRecordsLoaded, false) {}

  // Next of the page's button bar.
  virtual void OnNext() = 0;
  bool Loading() const { return m_loader.Loading(); }

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  // The page's controls, made before the load starts.
  virtual void CreateControls() = 0;
  // The lists that show the records.
  virtual std::vector<HWND> Lists() const = 0;
  // Paints the page's own texts below the controls (white background already laid).
  virtual void PaintTexts(HDC) {}
  // The brush of a control's background, or null for the default.
  virtual HBRUSH ControlBrush(HWND, HDC dc);

  // The record of the selected item of `list`, or null; its index in `index`.
  const DriveRecord* Selected(HWND list, int* index = nullptr) const;
  // The selector CDiskCopy::Open takes for `record`: a drive's number, a volume's designation.
  static std::u16string Selector(const DriveRecord& record);
  HWND MakeControl(const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int width,
                   int height, UINT id);

  // Keeps the two engines of a job that was set up and asks the router for the scan page.
  void StartCopy(std::unique_ptr<CDiskCopy> source, std::unique_ptr<CDiskCopy> destination,
                 uint64_t startByte, uint64_t endByte);

  ShellContext& m_context;
  HBRUSH m_white = nullptr;

 private:
  // The drive records are read with the lists disabled (the main window stays usable).
  static constexpr UINT kRecordsLoaded = WM_APP + 0x320;
  void OnLoaded(DriveLoad& load);

  DriveRecords m_records;
  CDriveLoader m_loader;
};

// The button bar of both pages: "Back" and "Next".
class CCopySBar : public CBackNextBar {
 public:
  explicit CCopySBar(ShellContext& context)
      : CBackNextBar(kCopyBackCommand, kCopyNextCommand, 120), m_context(context) {}

 protected:
  void OnBack() override;
  void OnNext() override;

 private:
  ShellContext& m_context;
};

// The item text of a physical drive's record: its model, ":  <serial> \r\n" and its size.
std::wstring DriveRecordText(const DriveRecord& record);

}  // namespace kavo::shell
