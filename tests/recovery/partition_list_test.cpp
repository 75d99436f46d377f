// Partition-list files: round trips, the byte layout, the operation checks and damaged files.
#include "recovery/partition_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/bytes.h"
#include "support/recording_prompter.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

using test::RecordingPrompter;

DriveListEntryPtr Row(SourceKind kind, std::u16string label, uint8_t fileSystem) {
  auto row = std::make_unique<DriveListEntry>();
  row->kind = kind;
  row->sizeInSectors = 614400;
  row->bytesPerSector = 512;
  row->name = u"disk.img";
  row->secondText = std::move(label);
  if (fileSystem != FS_NONE) {
    row->record = std::make_unique<PartitionRecord>();
    row->record->fileSystem = fileSystem;
    row->record->firstSector = 2048;
    row->record->totalSectors = 614399;
    row->record->geometry40 = 4;
    row->record->label = row->secondText;
    row->record->duplicate = kFoundAgain;
  }
  return row;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class PartitionListFile : public ::testing::Test {
 protected:
  void SetUp() override {
    rows.push_back(Row(SourceKind::Partition, u"NTFS - 2, disk.img", FS_NTFS));
    rows.push_back(Row(SourceKind::PhysicalDrive, u"Disk 0", FS_NONE));  // not stored
    rows.push_back(Row(SourceKind::Partition, u"FAT32 - 1, disk.img", FS_FAT32));
  }
  test::ScratchDir dir;
  PartitionList rows;
  RecordingPrompter prompter;
};

TEST_F(PartitionListFile, RoundTripKeepsThePartitionRowsInOrder) {
  const fs::path file = dir / "list.psi";
  ASSERT_TRUE(SavePartitionList(file, 1, rows, prompter));
  EXPECT_TRUE(prompter.said.empty());

  const std::string bytes = Bytes(file);
  ASSERT_EQ(bytes.size(), 9u + 2 * (1040 + 607 + 4));
  EXPECT_EQ(bytes.substr(0, 9), std::string("TUKTUKPI\x01", 9));
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  // The record link of each entry and the `next` link say only "one follows".
  EXPECT_EQ(LoadLe32(b + 9 + 1036), 1u);
  EXPECT_EQ(LoadLe32(b + 9 + 1040 + 607), 1u);
  EXPECT_EQ(LoadLe32(b + 9 + 2 * (1040 + 607) + 4), 0u);

  auto loaded = LoadPartitionList(file, 1, prompter);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->operation, 1);
  ASSERT_EQ(loaded->rows.size(), 2u);
  const DriveListEntry& first = *loaded->rows[0];
  EXPECT_EQ(first.kind, SourceKind::Partition);
  EXPECT_EQ(first.secondText, u"NTFS - 2, disk.img");
  EXPECT_EQ(first.name, u"disk.img");
  EXPECT_EQ(first.sizeInSectors, 614400u);
  EXPECT_EQ(first.bytesPerSector, 512u);
  ASSERT_TRUE(first.record);
  EXPECT_EQ(first.record->fileSystem, FS_NTFS);
  EXPECT_EQ(first.record->firstSector, 2048u);
  EXPECT_EQ(first.record->MftCluster(), 4u);
  EXPECT_EQ(first.record->duplicate, kFoundAgain);
  EXPECT_EQ(loaded->rows[1]->record->fileSystem, FS_FAT32);
  EXPECT_TRUE(prompter.said.empty());
}

TEST_F(PartitionListFile, AnotherOperationIsRefusedWithItsMessage) {
  const fs::path file = dir / "formatted.psi";
  ASSERT_TRUE(SavePartitionList(file, 2, rows, prompter));
  EXPECT_FALSE(LoadPartitionList(file, 1, prompter));
  ASSERT_EQ(prompter.said.size(), 1u);
  EXPECT_EQ(prompter.said[0],
            u"Information: This is partition list of Formatted Recovery option. Please choose "
            u"Formatted Recovery operation and select Open Partition List.");
  ASSERT_TRUE(SavePartitionList(file, 1, rows, prompter));
  EXPECT_FALSE(LoadPartitionList(file, 2, prompter));
  EXPECT_EQ(prompter.said.back(),
            u"Information: This is partition list of Partition Recovery option. Please choose "
            u"Partition Recovery operation and select Open Partition List.");
  // Without an operation to hold it to, the file loads as it is.
  EXPECT_TRUE(LoadPartitionList(file, std::nullopt, prompter));
}

TEST_F(PartitionListFile, MissingWrongAndDamagedFiles) {
  EXPECT_FALSE(LoadPartitionList(dir / "none.psi", 1, prompter));
  EXPECT_TRUE(prompter.said.empty()) << "a file that cannot be opened gives no message";

  Write(dir / "scan.psi", std::string("JPGVS3\0\0\x01", 9));
  EXPECT_FALSE(LoadPartitionList(dir / "scan.psi", 1, prompter));
  EXPECT_EQ(prompter.said.back(), u"Error: Invalid partition info");

  // Only the magic and the operation: an empty list.
  Write(dir / "empty.psi", std::string("TUKTUKPI\x01", 9));
  auto empty = LoadPartitionList(dir / "empty.psi", 1, prompter);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->rows.empty());

  // Cut inside the second entry: the first is kept.
  const fs::path file = dir / "list.psi";
  ASSERT_TRUE(SavePartitionList(file, 1, rows, prompter));
  const std::string whole = Bytes(file);
  Write(dir / "cut.psi", whole.substr(0, 9 + 1040 + 607 + 4 + 500));
  auto cut = LoadPartitionList(dir / "cut.psi", 1, prompter);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->rows.size(), 1u);

  // Every link saying "more" and the file ending: the loader stops with the file.
  std::string endless = whole;
  StoreLe32(reinterpret_cast<uint8_t*>(endless.data()) + endless.size() - 4, 1);
  Write(dir / "endless.psi", endless);
  auto all = LoadPartitionList(dir / "endless.psi", 1, prompter);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->rows.size(), 2u);
}

TEST_F(PartitionListFile, SaveIntoAMissingFolderTellsTheErrorCode) {
  EXPECT_FALSE(SavePartitionList(dir / "no" / "such" / "list.psi", 1, rows, prompter));
  ASSERT_EQ(prompter.said.size(), 1u);
  EXPECT_EQ(prompter.said[0].rfind(u"Error: Failed to save partition information. Errorcode =", 0),
            0u);
}

}  // namespace
}  // namespace kavo
