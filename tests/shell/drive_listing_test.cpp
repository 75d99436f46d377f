// The drive-listing page of Kavo.exe under test: the drives the system reports, Refresh, Load
// Image, a device arrival and Next, driven from outside as a user or the system would.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on
#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "support/fixtures.h"

namespace kavo {
namespace {

using test::ShellDriver;
using Rows = std::vector<std::vector<std::wstring>>;

std::wstring Program() {
  const std::string path = KAVO_EXE_PATH;
  std::wstring wide(path.begin(), path.end());
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    wide = L"Z:" + wide;
  }
  return wide;
}

// The designations of the volumes the system reports as listable (not removable, not a CD-ROM,
// not empty), asked through the volume functions rather than the management interface the
// program asks.
std::vector<std::wstring> SystemVolumes() {
  std::vector<std::wstring> volumes;
  wchar_t roots[512] = {};
  GetLogicalDriveStringsW(512, roots);
  for (const wchar_t* root = roots; *root != L'\0'; root += wcslen(root) + 1) {
    const UINT type = GetDriveTypeW(root);
    ULARGE_INTEGER total{};
    if (type == DRIVE_REMOVABLE || type == DRIVE_CDROM || type == DRIVE_NO_ROOT_DIR) continue;
    if (!GetDiskFreeSpaceExW(root, nullptr, &total, nullptr) || total.QuadPart == 0) continue;
    volumes.push_back(std::wstring(root, 2));
  }
  return volumes;
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class DriveListing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window";
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 103));  // Deleted Recovery
  }

  HWND List() const {
    return test::ChildOfClass(m_kavo.Find(L"CDriveListingWnd"), L"SysListView32");
  }
  // The rows once the loader has filled the list.
  Rows LoadedRows() {
    for (int i = 0; i < 600 && (!IsWindowVisible(List()) || !IsWindowEnabled(m_kavo.Frame()));
         ++i) {
      Sleep(50);
    }
    EXPECT_TRUE(IsWindowVisible(List())) << "the list was not filled";
    return m_kavo.ListRows(List(), 4);
  }
  static bool HasVolume(const Rows& rows, const std::wstring& designation) {
    for (const auto& row : rows) {
      if (EndsWith(row[0], L" - " + designation)) return true;
    }
    return false;
  }

  ShellDriver m_kavo{Program()};
};

TEST_F(DriveListing, DeletedRecoveryListsTheSystemsVolumesUnderItsCommandBar) {
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolCmdWnd"), L"CDriveListingCmdWnd");
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveListingWnd");
  EXPECT_EQ(m_kavo.HolderChild(L"CSBar"), L"CDriveListSBar");
  const std::pair<int, const wchar_t*> commands[] = {{202, L"Refresh"},
                                                     {203, L"Open Scan Info"},
                                                     {204, L"Load Image"},
                                                     {205, L"Open Partition List"}};
  for (const auto& [id, text] : commands) {
    EXPECT_EQ(test::TextOf(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), id)), text) << id;
  }
  EXPECT_EQ(test::TextOf(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201)), L"Next");

  const Rows rows = LoadedRows();
  const std::vector<std::wstring> volumes = SystemVolumes();
  ASSERT_FALSE(volumes.empty());
  ASSERT_EQ(rows.size(), volumes.size());
  // One row per volume, in reverse order of the system's answer, each with its size in GB.
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::wstring& volume = volumes[volumes.size() - 1 - i];
    SCOPED_TRACE(std::string(volume.begin(), volume.end()));
    EXPECT_TRUE(EndsWith(rows[i][0], L" - " + volume))
        << std::string(rows[i][0].begin(), rows[i][0].end());
    EXPECT_TRUE(EndsWith(rows[i][2], L" GB") || EndsWith(rows[i][2], L" MB"));
    EXPECT_EQ(rows[i][3], L"0");
  }
  EXPECT_TRUE(HasVolume(rows, L"C:"));
}

// Partition Recovery lists the physical drives by their captions, without file system or start;
// once loaded the list is shown even when the system names no drive with a sector size (as
// under wine), rather than a wait text that never ends.
TEST_F(DriveListing, PartitionRecoveryListsPhysicalDrives) {
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001));  // Home
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 102));      // Partition Recovery
  for (const auto& row : LoadedRows()) {
    EXPECT_TRUE(EndsWith(row[0], L" )")) << std::string(row[0].begin(), row[0].end());
    EXPECT_EQ(row[1], L"");
    EXPECT_TRUE(EndsWith(row[2], L" GB") || EndsWith(row[2], L" MB"));
    EXPECT_EQ(row[3], L"0");
  }
  EXPECT_TRUE(IsWindowEnabled(m_kavo.Frame()));
}

// Refresh, and a device arrival or removal told to the frame, reload the list: it is built
// anew (the selected row is no longer selected) with the volumes again. Other device events
// leave it as it is. (Under wine the volumes cannot be changed from a test, so the rows come
// back the same.)
TEST_F(DriveListing, RefreshAndDeviceChangesReloadTheList) {
  const Rows before = LoadedRows();
  ASSERT_FALSE(before.empty());
  const auto selected = [this] {
    DWORD_PTR count = 0;
    SendMessageTimeoutW(List(), LVM_GETSELECTEDCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    return count;
  };
  m_kavo.PressKey(List(), VK_END);
  ASSERT_EQ(selected(), 1u);
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 202));
  EXPECT_EQ(LoadedRows(), before);
  EXPECT_EQ(selected(), 0u);

  const std::pair<WPARAM, bool> events[] = {
      {DBT_DEVICEARRIVAL, true}, {DBT_DEVICEQUERYREMOVE, false}, {DBT_DEVICEREMOVECOMPLETE, true}};
  for (const auto& [event, reloads] : events) {
    SCOPED_TRACE(event);
    m_kavo.PressKey(List(), VK_END);
    ASSERT_EQ(selected(), 1u);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << 16;  // Q:
    DWORD_PTR result = 0;
    SendMessageTimeoutW(m_kavo.Frame(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&volume),
                        SMTO_ABORTIFHUNG, 10000, &result);
    EXPECT_EQ(LoadedRows(), before);
    EXPECT_EQ(selected(), reloads ? 0u : 1u);
  }
}

TEST_F(DriveListing, LoadImageAddsTheImageRowAfterTheVolumes) {
  std::string why;
  const std::filesystem::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const std::wstring image = (fixtures / "fat32.img").wstring();
  ASSERT_TRUE(std::filesystem::exists(image));
  const Rows before = LoadedRows();

  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 204));
  ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, image)) << "no file dialog";
  const Rows after = LoadedRows();
  ASSERT_EQ(after.size(), before.size() + 1);
  // The image's size in MB below 1 GB.
  wchar_t size[32];
  swprintf(size, 32, L"%.2f MB", std::filesystem::file_size(image) / 1048576.0);
  EXPECT_EQ(after.back(), (std::vector<std::wstring>{image, L"", size, L"0"}));

  // A second image replaces the first.
  const std::wstring other = (fixtures / "pictures.img").wstring();
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 204));
  ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, other));
  const Rows replaced = LoadedRows();
  ASSERT_EQ(replaced.size(), before.size() + 1);
  EXPECT_EQ(replaced.back()[0], other);

  // Home lets go of the drive list: the image is gone on the next visit.
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001));
  m_kavo.ToRouter(UM_DELETED_RECOVERY);
  EXPECT_EQ(LoadedRows(), before);
}

// Next on the image row asks how to search it; a quick scan lists the image's FAT32 volume
// under the image and leaves the user on the list.
TEST_F(DriveListing, NextOnAnImageOffersTheSearchesAndAQuickScanListsItsVolume) {
  std::string why;
  const std::filesystem::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const std::wstring image = (fixtures / "fat32.img").wstring();
  LoadedRows();
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 204));
  ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, image));
  const Rows withImage = LoadedRows();
  m_kavo.PressKey(List(), VK_END);  // the image row is the last
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));

  const test::MessageBoxSeen dialog = m_kavo.WaitForMessageBox(5000);
  ASSERT_NE(dialog.window, nullptr) << "no image dialog";
  EXPECT_EQ(dialog.text,
            L"Which option do you want to choose for Image processing ? If you are not getting "
            L"lost volumes/partitions in quick scan or long scan, Please go for RawScan.");
  const std::pair<int, const wchar_t*> choices[] = {
      {301, L"Quick Scan"}, {302, L"Long Scan (Recommended)"}, {303, L"Raw Scan"}};
  for (const auto& [id, text] : choices) {
    const HWND radio = GetDlgItem(dialog.window, id);
    EXPECT_EQ(test::TextOf(radio), text);
    DWORD_PTR checked = 0;
    SendMessageTimeoutW(radio, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
    EXPECT_EQ(checked == BST_CHECKED, id == 302) << id;  // Long Scan at first
  }
  PostMessageW(GetDlgItem(dialog.window, 301), BM_CLICK, 0, 0);
  Sleep(100);
  PostMessageW(GetDlgItem(dialog.window, IDOK), BM_CLICK, 0, 0);
  for (int i = 0; i < 100 && IsWindow(dialog.window); ++i) Sleep(50);
  ASSERT_FALSE(IsWindow(dialog.window)) << "Ok did not close the dialog";

  const test::MessageBoxSeen done = m_kavo.WaitForMessageBox(10000);
  ASSERT_NE(done.window, nullptr);
  EXPECT_NE(done.window, dialog.window);
  EXPECT_EQ(done.text,
            L"If not satisfied with quick scan results. Process the image again in long scan or "
            L"raw scan.");
  m_kavo.Answer(done, IDOK);
  const Rows after = LoadedRows();
  ASSERT_EQ(after.size(), withImage.size() + 1);
  // The image's partitions stand under it; a volume below 1 GB shows its size in MB.
  EXPECT_EQ(after[after.size() - 2][0], image);
  EXPECT_EQ(after.back(), (std::vector<std::wstring>{L"FAT32 - 1, " + image, L"FAT32",
                                                     after.back()[2], L"2048"}));
  EXPECT_TRUE(after.back()[2].ends_with(L" MB")) << after.back()[2].size();
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveListingWnd");
}

// Open Scan Info and Open Partition List read the file chosen in their dialog; a file that is
// neither (a disk image) is refused with the message of its kind, and the page stays.
TEST_F(DriveListing, OpeningAFileOfTheWrongKindSaysSo) {
  std::string why;
  const std::filesystem::path fixtures = test::FixturesDir(why);
  if (fixtures.empty()) GTEST_SKIP() << why;
  const std::wstring image = (fixtures / "fat32.img").wstring();
  const Rows rows = LoadedRows();
  const std::pair<int, const wchar_t*> commands[] = {{203, L"Invalid scan info"},
                                                     {205, L"Invalid partition info"}};
  for (const auto& [id, text] : commands) {
    SCOPED_TRACE(id);
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), id));
    ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, image)) << "no file dialog";
    const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, L"Error");
    EXPECT_EQ(box.text, text);
    m_kavo.Answer(box, IDOK);
    EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveListingWnd");
    EXPECT_EQ(m_kavo.ListRows(List(), 4), rows);
  }
}

TEST_F(DriveListing, NextWithoutASelectionAsksForADrive) {
  LoadedRows();
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));
  const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, L"Information");
  EXPECT_EQ(box.text, L"Please select a drive for scanning.");
  m_kavo.Answer(box, IDOK);
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveListingWnd");
}

}  // namespace
}  // namespace kavo
