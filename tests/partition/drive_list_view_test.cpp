// The drive-listing page's model: the items, their column texts and their groups.
#include "partition/drive_list_view.h"

#include <gtest/gtest.h>

namespace kavo {
namespace {

DriveListEntryPtr Row(SourceKind kind, std::u16string name, std::u16string second, uint64_t sectors,
                      uint16_t bps, int fileSystem = -1, uint64_t first = 0) {
  auto row = std::make_unique<DriveListEntry>();
  row->kind = kind;
  row->name = std::move(name);
  row->secondText = std::move(second);
  row->sizeInSectors = sectors;
  row->bytesPerSector = bps;
  if (fileSystem >= 0) {
    row->record = std::make_unique<PartitionRecord>();
    row->record->fileSystem = static_cast<uint8_t>(fileSystem);
    row->record->firstSector = first;
  }
  return row;
}

// Rows of every kind, given in list order, come out group by group (logical drives, physical
// drives, partitions, the image file with the partitions found in it), each group in list order,
// with the page's column texts: sizes below 1 GB in MB.
TEST(DriveListView, ItemsStandInGroupOrderWithTheirColumnTexts) {
  DriveList enumerated;
  enumerated.push_back(
      Row(SourceKind::LogicalDrive, u"Local Disk - C:", u"C:", 209715200, 512, FS_NTFS));
  enumerated.push_back(Row(SourceKind::PhysicalDrive, u"\\\\.\\PHYSICALDRIVE0",
                           u"QEMU HARDDISK ( PHY 0 )", 3907029168, 512));
  enumerated.push_back(Row(SourceKind::LogicalDrive, u"DATA - D:", u"D:", 1000, 4096, FS_EXFAT));
  const DriveListEntryPtr image = ImageFileRow(u"Z:\\disks\\card.img", 62914560);
  PartitionList found;
  found.push_back(Row(SourceKind::Partition, u"Z:\\disks\\card.img", u"ExFAT - 1, card.img", 12288,
                      512, FS_EXFAT, 2048));
  found.push_back(Row(SourceKind::Partition, u"PHY 0", u"FAT32 - 2, PHY 0", 2097152, 512, FS_FAT32,
                      5000000000));
  found.push_back(
      Row(SourceKind::Partition, u"PHY 0", u"FAT16 - 1, PHY 0", 20480, 512, FS_FAT16, 2048));
  found.push_back(Row(SourceKind::Partition, u"x.img", u"? - 3", 8, 512, FS_UNRECOGNISED, 63));

  const std::vector<const DriveListEntry*> chain = DriveListChain(enumerated, image.get(), found);
  ASSERT_EQ(chain.size(), 8u);
  EXPECT_EQ(chain[3], image.get());  // the image row stands between the drives and partitions

  struct Want {
    int group;
    std::u16string columns[4];
  };
  const Want want[] = {
      {1, {u"Local Disk - C:", u"NTFS", u"100.00 GB", u"0"}},
      {1, {u"DATA - D:", u"exFAT", u"3.91 MB", u"0"}},
      {0, {u"QEMU HARDDISK ( PHY 0 )", u"", u"1863.02 GB", u"0"}},
      {2, {u"FAT32 - 2, PHY 0", u"FAT32", u"1.00 GB", u"5000000000"}},
      {2, {u"FAT16 - 1, PHY 0", u"FAT16", u"10.00 MB", u"2048"}},
      {2, {u"? - 3", u"", u"0.00 MB", u"63"}},
      {3, {u"Z:\\disks\\card.img", u"", u"60.00 MB", u"0"}},
      {3, {u"ExFAT - 1, card.img", u"exFAT", u"6.00 MB", u"2048"}},
  };
  const std::vector<DriveListItem> items = DriveListItems(chain);
  ASSERT_EQ(items.size(), std::size(want));
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].group, want[i].group);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(items[i].columns[c], want[i].columns[c]) << c;
  }
  EXPECT_EQ(items[3].entry, found[1].get());  // the item carries its row
}

TEST(DriveListView, GroupsAndLoadedImageRow) {
  const std::pair<SourceKind, int> groups[] = {{SourceKind::LogicalDrive, 1},
                                               {SourceKind::PhysicalDrive, 0},
                                               {SourceKind::Partition, 2},
                                               {SourceKind::ImageFile, 3},
                                               {SourceKind::None, -1}};
  for (const auto& [kind, id] : groups) EXPECT_EQ(DriveListGroupOf(kind), id);
  EXPECT_EQ(std::u16string(kDriveListGroups[2].title), u"Partitions ");
  EXPECT_EQ(std::u16string(kDriveListGroups[3].title), u"Image File ");

  const DriveListEntryPtr row = ImageFileRow(u"Z:\\a.dd");
  EXPECT_EQ(row->kind, SourceKind::ImageFile);
  EXPECT_EQ(row->secondText, u"Z:\\a.dd");
  EXPECT_EQ(row->bytesPerSector, 512u);
  EXPECT_EQ(row->sizeInSectors, 0u);
  EXPECT_EQ(DriveListSizeText(*row), u"");
  EXPECT_EQ(row->record, nullptr);
  // A row of no kind is not shown; an empty list shows nothing.
  const DriveListEntryPtr none = Row(SourceKind::None, u"?", u"?", 1, 512);
  EXPECT_TRUE(DriveListItems({none.get()}).empty());
  EXPECT_TRUE(DriveListItems(DriveListChain({}, nullptr, {})).empty());
}

}  // namespace
}  // namespace kavo
