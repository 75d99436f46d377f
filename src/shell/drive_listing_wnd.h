// The drive-listing page: the list of drives, volumes, the loaded image file and the found
// partitions, its command bar (Refresh, Open Scan Info, Load Image, Open Partition List) and its
// button bar (Next). The drives are enumerated by the page's drive loader, so the window keeps
// answering while the system is asked.
#pragma once

#include <cstdint>

#include "base/messages.h"
#include "shell/drive_loader.h"
#include "shell/shell_context.h"

namespace kavo::shell {

// Commands of the drive-listing page's bars.
inline constexpr UINT kDrivesNextCommand = 201;
inline constexpr UINT kRefreshCommand = 202;
inline constexpr UINT kOpenScanInfoCommand = 203;
inline constexpr UINT kLoadImageCommand = 204;
inline constexpr UINT kOpenPartitionListCommand = 205;

class CDriveListingWnd final : public Window {
 public:
  explicit CDriveListingWnd(ShellContext& context)
      : m_context(context), m_loader(context, UM_FILL_LIST, true) {}

  // The row of the selected item (the selection mark), or null.
  const DriveListEntry* SelectedEntry() const;

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // Empties the list and starts the loader (after the running one, when one runs).
  void StartLoad();
  void Fill();
  void LoadImage();
  void OpenScanInfo();
  void OpenPartitionList();

  ShellContext& m_context;
  HWND m_list = nullptr;
  CDriveLoader m_loader;
  bool m_reloadWanted = false;
};

class CDriveListingCmdWnd final : public Window {
 public:
  explicit CDriveListingCmdWnd(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ShellContext& m_context;
};

class CDriveListSBar final : public Window {
 public:
  explicit CDriveListSBar(ShellContext& context) : m_context(context) {}

 protected:
  void OnCreated() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Place(int width);

  ShellContext& m_context;
};

// Next on the drive-listing page: opens `selected` as the current source and sends the user on
// to the scan page, the format-selection page or, after an image's quick scan, back to the list.
void OpenSelectedSource(ShellContext& context, const DriveListEntry* selected);

}  // namespace kavo::shell
