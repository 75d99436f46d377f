// Writing nodes out: names from hostile disks, collisions, sizes, raw-scan ranges.
#include "recovery/extract.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/message_sink.h"
#include "disk/fake_device.h"
#include "platform/text.h"
#include "recovery/names.h"
#include "recovery/save.h"
#include "support/recording_prompter.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

using test::RecordingPrompter;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A source of `bytes` bytes of the fake device's pattern.
std::unique_ptr<CDisk> PatternDisk(test::FakeDeviceState& state, uint64_t bytes) {
  state.length = bytes;
  auto disk = std::make_unique<CDisk>(test::FakeOpener(state));
  disk->m_nSourceKind = SourceKind::ImageFile;
  EXPECT_TRUE(disk->Open(u"x.img"));
  return disk;
}

NodePtr Named(std::u16string_view name, uint16_t flags) {
  NodePtr n = NewNode();
  n->name = std::u16string(name);
  n->nameLength = static_cast<uint8_t>(name.size());
  n->flags = flags;
  return n;
}

TEST(SafeOutputName, KeepsHostileNamesInsideTheDestination) {
  EXPECT_EQ(SafeOutputName(u"report.txt"), u"report.txt");
  EXPECT_EQ(SafeOutputName(u"\u65e5\u672c.jpg"), u"\u65e5\u672c.jpg");
  EXPECT_EQ(SafeOutputName(u"../../etc/passwd"), u".._.._etc_passwd");
  EXPECT_EQ(SafeOutputName(u".."), u"__");
  EXPECT_EQ(SafeOutputName(u"."), u"_");
  EXPECT_EQ(SafeOutputName(u"C:\\Windows"), u"C__Windows");
  EXPECT_EQ(SafeOutputName(u"a\tb\x01"
                           u"c"),
            u"a_b_c");
  EXPECT_EQ(SafeOutputName(u""), u"_");
  EXPECT_EQ(SafeOutputName(std::u16string(u"\0abc", 4)), u"_") << "a name ends at its first zero";
  EXPECT_EQ(SafeOutputName(u"name. "), u"name._");
  EXPECT_EQ(SafeOutputName(u"CON"), u"_CON");
  EXPECT_EQ(SafeOutputName(u"nul.txt"), u"_nul.txt");
  EXPECT_EQ(SafeOutputName(u"com7"), u"_com7");
  EXPECT_EQ(SafeOutputName(u"console"), u"console");
  EXPECT_EQ(SafeOutputName(u"COM0"), u"COM0");

  const std::u16string longName = std::u16string(300, u'a') + u".jpeg";
  const std::u16string cut = SafeOutputName(longName);
  EXPECT_EQ(cut.size(), kMaxOutputName);
  EXPECT_TRUE(cut.ends_with(u"a.jpeg"));
  // A surrogate pair at the cut is not split.
  std::u16string pairs;
  for (int i = 0; i < 200; ++i) pairs += u"\U0001F600";
  const std::u16string pairCut = SafeOutputName(pairs);
  EXPECT_LE(pairCut.size(), kMaxOutputName);
  EXPECT_FALSE(pairCut.back() >= 0xD800 && pairCut.back() <= 0xDBFF);
}

TEST(SafeOutputName, EveryUtf16NameBecomesAValidNameOfAtMost255BytesEverywhere) {
  const struct {
    std::u16string in;
    std::u16string out;
  } kCases[] = {
      {std::u16string(u"a\xD800"
                      u"b.txt"),
       u"a\uFFFDb.txt"},  // lone high surrogate
      {std::u16string(u"\xDC00"
                      u"x"),
       u"\uFFFDx"},                              // lone low surrogate
      {std::u16string(u"x\xD83D"), u"x\uFFFD"},  // high surrogate at the end
      {std::u16string(u"\xD83D\xDE00"
                      u".png"),
       u"\xD83D\xDE00"
       u".png"},  // a pair stays
  };
  for (const auto& c : kCases) EXPECT_EQ(SafeOutputName(c.in), c.out);

  // 255 units of three UTF-8 bytes each: cut to 255 bytes keeping the extension; the result
  // converts to a path on every system.
  const std::u16string wide = std::u16string(251, u'\u65e5') + u".txt";
  const std::u16string cut = SafeOutputName(wide);
  EXPECT_TRUE(cut.ends_with(u"\u65e5.txt"));
  EXPECT_LE(platform::Utf16ToUtf8(cut).size(), kMaxOutputNameBytes);
  EXPECT_GT(platform::Utf16ToUtf8(cut).size(), kMaxOutputNameBytes - 3);
  EXPECT_NO_THROW((void)std::filesystem::path(SafeOutputName(u"\xDBFF\xDBFF")).string());
}

TEST(ExtractNode, CollisionsRenameFoldersAndReplaceFiles) {
  test::ScratchDir dir;
  test::FakeDeviceState state;
  const auto source = PatternDisk(state, 1 << 20);
  CDisk& disk = *source;
  RecordingPrompter prompter;
  Extractor extractor(disk, nullptr, prompter);

  const NodePtr photos = Named(u"Photos", NF_FOLDER | NF_PRESENT);
  EXPECT_EQ(extractor.ExtractNode(dir.path(), *photos), dir / "Photos");
  EXPECT_EQ(extractor.ExtractNode(dir.path(), *photos), dir / "183Photos");
  EXPECT_EQ(extractor.ExtractNode(dir.path(), *photos), dir / "183183Photos");

  NodePtr file = Named(u"a.bin", NF_PRESENT);
  file->origin = ORIGIN_RAW_SCAN;
  file->location = 3;
  file->size = 1000;
  EXPECT_EQ(extractor.ExtractNode(dir.path(), *file), dir / "a.bin");
  // A second file of the same name in one save is kept beside the first.
  EXPECT_EQ(extractor.ExtractNode(dir.path(), *file), dir / "80a.bin");
  // A file from an earlier save is replaced.
  Extractor second(disk, nullptr, prompter);
  file->size = 700;
  EXPECT_EQ(second.ExtractNode(dir.path(), *file), dir / "a.bin") << "replaced, not renamed";
  const std::string bytes = Slurp(dir / "a.bin");
  ASSERT_EQ(bytes.size(), 700u);
  for (size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(static_cast<uint8_t>(bytes[i]), test::PatternByte(3 * 512 + i)) << i;
  }

  // A file whose name a folder holds is written beside it.
  NodePtr clash = Named(u"Photos", NF_PRESENT);
  EXPECT_EQ(second.ExtractNode(dir.path(), *clash), dir / "183183183Photos");

  const NodePtr empty = Named(u"empty.txt", NF_PRESENT);
  EXPECT_EQ(second.ExtractNode(dir.path(), *empty), dir / "empty.txt");
  EXPECT_EQ(fs::file_size(dir / "empty.txt"), 0u);

  const NodePtr hostile = Named(u"../escape", NF_PRESENT);
  EXPECT_EQ(second.ExtractNode(dir.path(), *hostile), dir / ".._escape");
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "escape"));
  EXPECT_EQ(extractor.Counts().errors, 0u);
  EXPECT_EQ(second.Counts().errors, 0u);
  EXPECT_TRUE(prompter.said.empty());
}

TEST(ExtractNode, RawRangesStopAtTheEndOfTheSourceAndCountTheShortfall) {
  test::ScratchDir dir;
  test::FakeDeviceState state;
  const auto source = PatternDisk(state, 10 * 512);
  CDisk& disk = *source;
  RecordingPrompter prompter;
  ProgressRecord progress;
  progress.SetState(PS_RUNNING);
  Extractor extractor(disk, &progress, prompter);
  NodePtr tail = Named(u"tail.jpeg", 0);
  tail->origin = ORIGIN_RAW_SCAN;
  tail->location = 8;
  tail->size = 5000;  // runs 4 KiB past the end of the source
  ASSERT_TRUE(extractor.ExtractNode(dir.path(), *tail));
  EXPECT_EQ(fs::file_size(dir / "tail.jpeg"), 1024u);
  EXPECT_EQ(extractor.Counts().errors, 1u);
  EXPECT_EQ(extractor.Counts().bytes, 1024u);
  EXPECT_EQ(progress.Position(), 1024u);

  // A failing read mid-file is not written as success either.
  state.failRead = [](uint64_t offset, uint32_t bytes) { return offset + bytes > 2048; };
  tail->location = 2;
  tail->size = 3000;
  ASSERT_TRUE(extractor.ExtractNode(dir.path(), *tail));
  EXPECT_EQ(extractor.Counts().errors, 2u);
}

TEST(SaveMarked, RecreatesMarkedFoldersAroundMarkedFiles) {
  test::ScratchDir dir;
  test::FakeDeviceState state;
  const auto source = PatternDisk(state, 1 << 20);
  CDisk& disk = *source;

  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  RecoveredNode* jpeg = AddChildFolder(fileType, u"jpeg");
  RecoveredNode* png = AddChildFolder(fileType, u"PNG");
  for (int i = 0; i < 3; ++i) {
    NodePtr f = Named(u"file" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u".jpeg", 1);
    f->origin = ORIGIN_RAW_SCAN;
    f->location = static_cast<uint64_t>(i) * 10;
    f->size = 100 + static_cast<uint64_t>(i);
    f->mark = i == 1 ? 0 : 1;
    AppendChild(jpeg, std::move(f));
  }
  fileType->mark = 2;
  jpeg->mark = 2;
  png->mark = 0;

  RecordingPrompter prompter;
  Extractor extractor(disk, nullptr, prompter);
  NullSink sink;
  SaveMarked(extractor, root.get(), dir.path(), sink);
  EXPECT_TRUE(fs::exists(dir / "FileType/jpeg/file0.jpeg"));
  EXPECT_FALSE(fs::exists(dir / "FileType/jpeg/file1.jpeg"));
  EXPECT_EQ(fs::file_size(dir / "FileType/jpeg/file2.jpeg"), 102u);
  EXPECT_FALSE(fs::exists(dir / "FileType/PNG"));
  EXPECT_EQ(extractor.Counts().files, 2u);
  EXPECT_EQ(extractor.Counts().folders, 2u);
}

TEST(SaveMarked, SurvivesDeepTreesAndStopsOnRequest) {
  test::ScratchDir dir;
  test::FakeDeviceState state;
  const auto source = PatternDisk(state, 1 << 20);
  CDisk& disk = *source;
#ifdef _WIN32
  // Far past the 260-character path limit of plain Windows paths.
  constexpr int kDepth = 600;
#else
  // Deeper than any path allows: creation fails at some depth, quietly counted.
  constexpr int kDepth = 3000;
#endif
  NodePtr root = NewRoot();
  RecoveredNode* folder = root.get();
  for (int i = 0; i < kDepth; ++i) {
    NodePtr child = Named(u"deep", NF_FOLDER | NF_PRESENT);
    child->mark = 1;
    folder = AppendChild(folder, std::move(child));
  }
  RecordingPrompter prompter;
  ProgressRecord progress;
  progress.SetState(PS_RUNNING);
  Extractor extractor(disk, &progress, prompter);
  NullSink sink;
  SaveMarked(extractor, root.get(), dir.path(), sink);
#ifdef _WIN32
  EXPECT_EQ(extractor.Counts().folders, static_cast<uint64_t>(kDepth));
#else
  EXPECT_GT(extractor.Counts().folders, 10u);
#endif
  EXPECT_FALSE(extractor.Aborted())
      << (prompter.said.empty() ? std::string() : platform::Utf16ToUtf8(prompter.said[0]));

  progress.RequestStop();
  test::ScratchDir second;
  Extractor stopped(disk, &progress, prompter);
  SaveMarked(stopped, root.get(), second.path(), sink);
  EXPECT_EQ(stopped.Counts().folders, 0u);
  EXPECT_EQ(progress.State(), PS_STOPPED);
}

}  // namespace
}  // namespace kavo
