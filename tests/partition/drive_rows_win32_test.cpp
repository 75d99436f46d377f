// The drive-list rows from the system's own answers (WMI and the volume functions). Under wine
// Win32_DiskDrive gives no BytesPerSector, so its drives must be left out, not listed with a
// sector size of 0; the volumes (C: and the Z: of the Unix root) must make well-formed rows.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <objbase.h>

#include <thread>

#include "partition/drive_rows.h"
#endif

namespace kavo {
namespace {

#ifdef _WIN32

TEST(SystemDriveRows, PhysicalDrivesWithoutASectorSizeAreLeftOut) {
  platform::SystemNotices notices;
  const std::vector<platform::PhysicalDriveInfo> drives = platform::ListPhysicalDrives(notices);
  EXPECT_TRUE(notices.empty()) << (notices.empty() ? "" : "a WMI failure was reported");
  size_t withSectorSize = 0;
  for (const auto& drive : drives) withSectorSize += drive.bytesPerSector != 0 ? 1 : 0;
  DriveList rows;
  EXPECT_EQ(EnumeratePhysicalRows(rows, drives), withSectorSize);
  ASSERT_EQ(rows.size(), withSectorSize);
  for (const auto& row : rows) {
    EXPECT_NE(row->bytesPerSector, 0u);
    EXPECT_NE(row->secondText.find(u" ( PHY "), std::u16string::npos);
  }
}

TEST(SystemDriveRows, VolumesMakeRowsNamedByLabelAndDesignation) {
  platform::SystemNotices notices;
  const auto volumes = platform::ListVolumes(notices, platform::VolumeQuery::Rows);
  EXPECT_TRUE(notices.empty());
  ASSERT_FALSE(volumes.empty()) << "the system lists no volume";
  DriveList rows;
  const size_t made = EnumerateLogicalRows(rows, volumes);
  ASSERT_EQ(rows.size(), made);
  for (const auto& row : rows) {
    // "<label or Local Disk> - X:", with the designation as the second text.
    ASSERT_EQ(row->secondText.size(), 2u);
    EXPECT_EQ(row->secondText[1], u':');
    EXPECT_EQ(row->name.substr(row->name.size() - 5), u" - " + row->secondText);
    EXPECT_NE(row->bytesPerSector, 0u);
  }
}

// On a thread whose COM apartment is already of the other kind the enumeration cannot start: it
// says so with its text and lists nothing.
TEST(SystemDriveRows, ACOMStartFailureIsToldAndListsNothing) {
  platform::SystemNotices notices;
  std::vector<platform::PhysicalDriveInfo> drives;
  std::thread([&] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    drives = platform::ListPhysicalDrives(notices);
    CoUninitialize();
  }).join();
  EXPECT_TRUE(drives.empty());
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text, u"Kavo Failed to initialize COM library");
  EXPECT_EQ(notices[0].caption, u"Information");
}

#endif

}  // namespace
}  // namespace kavo
