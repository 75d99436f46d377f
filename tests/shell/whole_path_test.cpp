// Kavo.exe from the home page to the results, driven as a user would: an image made by the real
// tools is loaded, searched and scanned; the results and the found partitions are saved through
// the frame's save dialogs, read back with the core and opened again from the drive list.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "base/messages.h"
#include "platform/text.h"
#include "recovery/partition_list.h"
#include "recovery/scan_info.h"
#include "shell/shell_test_support.h"
#include "support/fixtures.h"

namespace kavo {
namespace {

using test::Holders;
using test::ShellDriver;
using Rows = std::vector<std::vector<std::wstring>>;

class SilentPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string&, PromptIcon,
                   PromptButtons) override {
    ADD_FAILURE() << "unexpected message: " << std::string(text.begin(), text.end());
    return PromptAnswer::Ok;
  }
};

// Every path below `node`, "a/b/c".
void CollectPaths(const RecoveredNode* node, const std::u16string& prefix,
                  std::set<std::u16string>& paths) {
  for (const RecoveredNode* n = node->firstChild; n != nullptr; n = n->nextSibling) {
    const std::u16string path = prefix + std::u16string(NodeName(*n));
    paths.insert(path);
    CollectPaths(n, path + u"/", paths);
  }
}

// Every name in the tree below `node`.
void CollectNames(const RecoveredNode* node, std::set<std::u16string>& names) {
  for (const RecoveredNode* n = node->firstChild; n != nullptr; n = n->nextSibling) {
    names.insert(std::u16string(NodeName(*n)));
    CollectNames(n, names);
  }
}

class WholePath : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_fixtures = test::FixturesDir(why);
    if (m_fixtures.empty()) GTEST_SKIP() << why;
    m_out = std::filesystem::temp_directory_path() /
            ("kavo-whole-path-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(m_out);
    ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window";
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 103));  // Deleted Recovery
  }
  void TearDown() override {
    std::error_code ignored;
    if (!m_out.empty()) std::filesystem::remove_all(m_out, ignored);
  }

  HWND List() const {
    return test::ChildOfClass(m_kavo.Find(L"CDriveListingWnd"), L"SysListView32");
  }
  Rows LoadedRows() {
    test::WaitUntil([&] { return IsWindowVisible(List()) && IsWindowEnabled(m_kavo.Frame()); },
                    30000);
    return m_kavo.ListRows(List(), 4);
  }
  // Answers the next message box, which must say `text`.
  void Expect(const std::wstring& text, int answer) {
    const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(30000);
    ASSERT_NE(box.window, nullptr)
        << "no message box saying " << std::string(text.begin(), text.end());
    EXPECT_EQ(box.text, text);
    m_kavo.Answer(box, answer);
  }
  // Loads `image` from the drive list and picks search `choice` (301 Quick, 303 Raw) for it.
  void SearchImage(const char* image, int choice) {
    LoadedRows();
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 204));
    ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, (m_fixtures / image).wstring()));
    LoadedRows();
    m_kavo.PressKey(List(), VK_END);
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));
    const test::MessageBoxSeen dialog = m_kavo.WaitForMessageBox(5000);
    ASSERT_NE(dialog.window, nullptr) << "no image dialog";
    PostMessageW(GetDlgItem(dialog.window, choice), BM_CLICK, 0, 0);
    Sleep(100);
    PostMessageW(GetDlgItem(dialog.window, IDOK), BM_CLICK, 0, 0);
    test::WaitUntil([&] { return !IsWindow(dialog.window); }, 5000);
  }
  // Quick scan of `image` (an MBR disk of one volume), then Next on the volume it found.
  void OpenFoundVolume(const char* image = "fat32.img") {
    SearchImage(image, 301);
    Expect(
        L"If not satisfied with quick scan results. Process the image again in long scan or "
        L"raw scan.",
        IDOK);
    ASSERT_GE(LoadedRows().size(), 2u);
    m_kavo.PressKey(List(), VK_END);  // the volume stands right under its image row
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));
  }
  // Quick scan of `image`, Deleted Recovery of the volume found, and the saved results hold
  // each path of `expected` (one a line, as fls gives them) once.
  void ExpectEveryPath(const char* image, const std::string& expected) {
    SCOPED_TRACE(image);
    OpenFoundVolume(image);
    Expect(L"Do you want to save these patitions for future use?", IDNO);
    Expect(
        L"Do you want to go for advance search? In advance search you can select the file "
        L"formats/scanners for better results.",
        IDNO);
    ASSERT_TRUE(ReachesResults()) << "the scan did not end on the results";
    const std::string name = std::string(image) + ".qsv";
    const std::optional<LoadedScanInfo> loaded =
        Load(SaveScan(std::wstring(name.begin(), name.end())));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->header.fileSystem, 3);  // NTFS
    std::set<std::u16string> paths;
    ASSERT_NE(loaded->root->firstChild, nullptr);
    CollectPaths(loaded->root->firstChild, u"", paths);  // below "Data"
    size_t lines = 0;
    for (size_t begin = 0; begin < expected.size();) {
      size_t end = expected.find('\n', begin);
      if (end == std::string::npos) end = expected.size();
      const std::string path = expected.substr(begin, end - begin);
      begin = end + 1;
      if (path.empty()) continue;
      ++lines;
      EXPECT_EQ(paths.count(platform::Utf8ToUtf16(path)), 1u) << path;
    }
    EXPECT_GT(lines, 40u);
  }
  // Waits for the scan to end on the results row of the page table (whose windows are built
  // apart; until they are, that row leaves the holders empty).
  bool ReachesResults() {
    return test::WaitUntil(
        [&] {
          const auto holders = Holders(m_kavo);
          return holders == std::vector<std::wstring>{L"CTreeListCmdWnd", L"CTreeListWnd",
                                                      L"CTreeListSBar"} ||
                 holders == std::vector<std::wstring>{L"", L"", L""};
        },
        60000);
  }
  // Saves the results as the results page asks the frame to, into `name` as typed.
  std::filesystem::path SaveScan(const std::wstring& name) {
    PostMessageW(m_kavo.Frame(), UM_SAVE_SCAN, 0, 0);
    const test::FileDialogSeen dialog = test::WaitForFileDialog(m_kavo, 10000);
    EXPECT_NE(dialog.window, nullptr) << "no save dialog";
    EXPECT_EQ(dialog.fileType, L"Norvel Scan Info(*.qsv)");
    EXPECT_TRUE(std::regex_match(
        dialog.fileName,
        std::wregex(LR"(Scan Info File [A-Z][a-z]+ \d\d, \d{4} \(\d\d \d\d \d\d\)\.qsv)")))
        << std::string(dialog.fileName.begin(), dialog.fileName.end());
    EXPECT_TRUE(m_kavo.AnswerFileDialog(5000, (m_out / name).wstring()));
    Expect(L"Scan info saved successfully.", IDOK);
    return m_out / name;
  }
  std::optional<LoadedScanInfo> Load(const std::filesystem::path& path) {
    SilentPrompter prompter;
    return LoadScanInfo(path, std::nullopt, prompter);
  }

  std::filesystem::path m_fixtures;
  std::filesystem::path m_out;
  ShellDriver m_kavo{test::KavoProgram()};
};

// Deleted Recovery of the FAT32 volume: the partitions and the results are saved, hold what the
// tools wrote, and the saved scan opens again from the drive list as it was saved.
TEST_F(WholePath, DeletedRecoveryOfAnImagesVolumeSavesAndReopensItsResults) {
  OpenFoundVolume();
  Expect(L"Do you want to save these patitions for future use?", IDYES);
  const test::FileDialogSeen partitions = test::WaitForFileDialog(m_kavo, 10000);
  ASSERT_NE(partitions.window, nullptr) << "no save dialog";
  EXPECT_EQ(partitions.fileType, L"Partition File (*.psi)");
  EXPECT_TRUE(std::regex_match(
      partitions.fileName,
      std::wregex(LR"(Partition File [A-Z][a-z]+ \d\d, \d{4} \(\d\d \d\d \d\d\)\.psi)")));
  ASSERT_TRUE(m_kavo.AnswerFileDialog(5000, (m_out / L"found").wstring()));
  Expect(L"Partition info saved successfully.", IDOK);
  SilentPrompter prompter;
  const auto list = LoadPartitionList(m_out / L"found.psi", uint8_t{3}, prompter);
  ASSERT_TRUE(list.has_value()) << "the extension was not added";
  EXPECT_EQ(list->rows.size(), 1u);

  Expect(
      L"Do you want to go for advance search? In advance search you can select the file "
      L"formats/scanners for better results.",
      IDNO);
  ASSERT_TRUE(ReachesResults()) << "the scan did not end on the results";
  // Upper case is not the extension: it is added.
  const std::filesystem::path saved = SaveScan(L"scan.QSV");
  std::optional<LoadedScanInfo> loaded = Load(m_out / L"scan.QSV.qsv");
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(loaded->header.operation, 3);
  EXPECT_EQ(loaded->header.fileSystem, 2);  // FAT32
  std::set<std::u16string> names;
  CollectNames(loaded->root.get(), names);
  // A deleted file keeps its name but for the first letter, which FAT overwrites.
  const auto found = [&](const std::u16string& name) {
    for (const std::u16string& n : names) {
      if (n.size() == name.size() && n.compare(1, n.npos, name, 1) == 0) return true;
    }
    return false;
  };
  for (const auto& file :
       std::filesystem::recursive_directory_iterator(m_fixtures / "fat32-files")) {
    EXPECT_TRUE(found(file.path().filename().u16string())) << file.path();
  }

  // Opened again from the drive list, the scan is the one saved, byte for byte.
  m_kavo.ToRouter(UM_DELETED_RECOVERY);
  LoadedRows();
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 203));
  ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, (m_out / L"scan.QSV.qsv").wstring()));
  const test::MessageBoxSeen refusal = m_kavo.WaitForMessageBox(1000);
  ASSERT_EQ(refusal.window, nullptr) << std::string(refusal.text.begin(), refusal.text.end());
  ASSERT_TRUE(ReachesResults()) << "the loaded scan was not shown";
  SaveScan(L"again.qsv");
  EXPECT_EQ(test::ReadFile(m_out / L"again.qsv"), test::ReadFile(m_out / L"scan.QSV.qsv"));
}

// Deleted Recovery of a volume that Windows wrote, loaded as a raw image and in containers: the
// results hold every live file and folder that The Sleuth Kit lists on it, at the same path.
TEST_F(WholePath, DeletedRecoveryOfAWindowsVolumeShowsEveryFileFlsLists) {
  const std::string expected = test::ReadFile(m_fixtures / "windows-ntfs-files.txt");
  if (expected.empty()) GTEST_SKIP() << "no Windows-written image among the fixtures";
  ExpectEveryPath("windows-ntfs.img", expected);
}

TEST_F(WholePath, AVolumeInAVhdxOrAnE01ContainerShowsWhatTheRawDiskShows) {
  const std::string expected = test::ReadFile(m_fixtures / "windows-ntfs-files.txt");
  if (expected.empty()) GTEST_SKIP() << "no Windows-written image among the fixtures";
  for (const char* image : {"windows-ntfs.vhdx", "windows-ntfs.E01"}) {
    if (!std::filesystem::exists(m_fixtures / image)) GTEST_SKIP() << image << " was not made";
  }
  ExpectEveryPath("windows-ntfs.vhdx", expected);
  m_kavo.ToRouter(UM_DELETED_RECOVERY);
  ExpectEveryPath("windows-ntfs.E01", expected);
}

// Raw Scan of an image holding pictures: every format ticked on the format page, Next scans
// and the results hold a find of the size of each picture laid in the image.
TEST_F(WholePath, RawScanThroughTheFormatPageFindsThePicturesOfTheImage) {
  SearchImage("pictures.img", 303);
  ASSERT_TRUE(test::WaitUntil(
      [&] { return m_kavo.HolderChild(L"CActiveToolWnd") == L"CTreeSelectionWnd"; }, 10000));
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionCmdWnd"), 3011));  // Mark All
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionSBar"), 3001));    // Next
  ASSERT_TRUE(ReachesResults()) << "the scan did not end on the results";
  const std::optional<LoadedScanInfo> loaded = Load(SaveScan(L"raw.qsv"));
  ASSERT_TRUE(loaded.has_value());
  std::multiset<uint64_t> sizes;
  std::vector<const RecoveredNode*> stack{loaded->root.get()};
  while (!stack.empty()) {
    const RecoveredNode* node = stack.back();
    stack.pop_back();
    if (node->firstChild == nullptr) sizes.insert(node->size);
    for (const RecoveredNode* n = node->firstChild; n != nullptr; n = n->nextSibling) {
      stack.push_back(n);
    }
  }
  // A PNG find reaches one sector past its end chunk; the other formats end where they do.
  for (const auto& picture : std::filesystem::directory_iterator(m_fixtures / "pictures")) {
    const uint64_t extra = picture.path().extension() == ".png" ? 512 : 0;
    EXPECT_EQ(sizes.count(std::filesystem::file_size(picture.path()) + extra), 1u)
        << picture.path();
  }
}

// An advanced search chosen and left on the format page does not come back with the next scan:
// a plain scan of the volume has no signature finds.
TEST_F(WholePath, AnAdvancedSearchLeftOnTheFormatPageDoesNotRunWithTheNextScan) {
  SearchImage("pictures.img", 303);
  ASSERT_TRUE(test::WaitUntil(
      [&] { return m_kavo.HolderChild(L"CActiveToolWnd") == L"CTreeSelectionWnd"; }, 10000));
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionCmdWnd"), 3011));  // Mark All
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionSBar"), 3002));    // Back
  OpenFoundVolume();
  Expect(L"Do you want to save these patitions for future use?", IDNO);
  Expect(
      L"Do you want to go for advance search? In advance search you can select the file "
      L"formats/scanners for better results.",
      IDNO);
  ASSERT_TRUE(ReachesResults());
  const std::optional<LoadedScanInfo> loaded = Load(SaveScan(L"plain.qsv"));
  ASSERT_TRUE(loaded.has_value());
  std::set<std::u16string> names;
  CollectNames(loaded->root.get(), names);
  EXPECT_EQ(names.count(u"FileType"), 0u);
  EXPECT_EQ(names.count(u"Documents"), 1u);
}

}  // namespace
}  // namespace kavo
