// The results page of Kavo.exe driven as a user: a deleted-file listing of a small FAT16 disk
// made by mkfs.fat and mtools (tools/make-fixtures.sh), its tree and rows, marking, the search by
// extension, saving the marked files and the preview hand-over to a stand-in viewer window.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"
#include "support/fixtures.h"

namespace kavo {
namespace {

using test::ShellDriver;
namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ResultsPage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_fixtures = test::FixturesDir(why);
    if (m_fixtures.empty()) GTEST_SKIP() << why;
    if (!fs::exists(m_fixtures / "results.img")) GTEST_SKIP() << "no results.img fixture";
    ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window";
    ASSERT_TRUE(OpenResults());
  }
  // A viewer Kavo started must not outlive the test: it would hold the test's output open.
  void TearDown() override {
    while (const HWND viewer = FindWindowW(nullptr, L"NorvelView")) {
      DWORD id = 0;
      GetWindowThreadProcessId(viewer, &id);
      const HANDLE process =
          id != GetCurrentProcessId() ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)
                                      : nullptr;
      if (process == nullptr) break;
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }

  HWND DriveList() const {
    return test::ChildOfClass(m_kavo.Find(L"CDriveListingWnd"), L"SysListView32");
  }
  void WaitForDriveList() {
    test::WaitUntil([&] { return IsWindowVisible(DriveList()) && IsWindowEnabled(m_kavo.Frame()); },
                    30000);
  }
  // Deleted Recovery, Load Image, a quick scan of the image, then Next on its volume.
  bool OpenResults() {
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 103));
    WaitForDriveList();
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListingCmdWnd"), 204));
    if (!m_kavo.AnswerFileDialog(10000, (m_fixtures / "results.img").wstring())) {
      ADD_FAILURE() << "no image dialog";
      return false;
    }
    WaitForDriveList();
    m_kavo.PressKey(DriveList(), VK_END);
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));
    const test::MessageBoxSeen dialog = m_kavo.WaitForMessageBox(5000);
    if (dialog.window == nullptr) {
      ADD_FAILURE() << "no scan-type dialog";
      return false;
    }
    PostMessageW(GetDlgItem(dialog.window, 301), BM_CLICK, 0, 0);  // Quick Scan
    Sleep(100);
    PostMessageW(GetDlgItem(dialog.window, IDOK), BM_CLICK, 0, 0);
    test::WaitUntil([&] { return !IsWindow(dialog.window); }, 5000);
    m_kavo.Answer(m_kavo.WaitForMessageBox(10000), IDOK);
    WaitForDriveList();
    m_kavo.PressKey(DriveList(), VK_END);
    m_kavo.PressKey(DriveList(), VK_UP);  // the volume stands just above the image
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CDriveListSBar"), 201));
    // Neither saving the found partitions nor the advance search.
    for (int i = 0; i < 2; ++i) m_kavo.Answer(m_kavo.WaitForMessageBox(5000), IDNO);
    const bool shown = test::WaitUntil(
        [&] { return Tree() != nullptr && m_kavo.TreeItems(Tree()).size() >= 2; }, 30000);
    if (!shown) {
      const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(100);
      const std::wstring page = test::Holders(m_kavo)[1];
      ADD_FAILURE() << "no results page: " << std::string(box.text.begin(), box.text.end()) << " / "
                    << std::string(page.begin(), page.end()) << " tree " << Tree() << " items "
                    << (Tree() ? m_kavo.TreeItems(Tree()).size() : 0) << " wait "
                    << FindWindowW(nullptr, L"Norvel");
    }
    if (shown) ExpandAll();
    return shown;
  }

  // Opens every folder of the tree, as clicking each expand button does: a folder's folders
  // are there once it has been opened.
  void ExpandAll() {
    for (size_t seen = 0, now = 1; now != seen;) {
      seen = now;
      const auto items = m_kavo.TreeItems(Tree());
      for (const auto& item : items) {
        SendMessageW(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item.item));
      }
      now = items.size();
    }
  }

  HWND Tree() const { return test::ChildOfClass(m_kavo.Find(L"TAVR_CNorvelTree"), WC_TREEVIEWW); }
  HWND List() const { return test::ChildOfClass(m_kavo.Find(L"TAVR_CNorvelList"), WC_LISTVIEWW); }
  HWND CommandBar() const { return m_kavo.Find(L"CTreeListCmdWnd"); }
  test::TreeItemSeen Item(const std::wstring& text) const {
    for (const auto& item : m_kavo.TreeItems(Tree())) {
      if (item.text == text) return item;
    }
    return {};
  }
  void Open(const std::wstring& folder) {
    SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(Item(folder).item));
  }
  std::vector<int> Checks(std::initializer_list<const wchar_t*> names) const {
    std::vector<int> states;
    for (const wchar_t* name : names) states.push_back(Item(name).checkState);
    return states;
  }
  // The row of `name` in the list, selected with the keyboard.
  void FocusRow(const std::wstring& name) {
    const auto rows = m_kavo.ListRows(List(), 1);
    m_kavo.PressKey(List(), VK_HOME);
    for (size_t i = 0; i < rows.size() && rows[i][0] != name; ++i) m_kavo.PressKey(List(), VK_DOWN);
  }
  std::wstring AnswerBox(int id = IDOK) {
    const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
    m_kavo.Answer(box, id);
    return box.text;
  }

  fs::path m_fixtures;
  ShellDriver m_kavo{test::KavoProgram()};
};

TEST_F(ResultsPage, ShowsTheFoldersOfTheVolumeAndTheRowsOfAFolder) {
  EXPECT_EQ(test::Holders(m_kavo),
            (std::vector<std::wstring>{L"CTreeListCmdWnd", L"CTreeListWnd", L"CTreeListSBar"}));
  std::vector<std::pair<std::wstring, int>> folders;
  for (const auto& item : m_kavo.TreeItems(Tree())) folders.emplace_back(item.text, item.depth);
  EXPECT_EQ(folders, (std::vector<std::pair<std::wstring, int>>{
                         {L"Root", 0}, {L"Data", 1}, {L"SUB", 2}, {L"Lost+Found", 2}}));
  Open(L"Data");
  const auto rows = m_kavo.ListRows(List(), 2);
  std::map<std::wstring, std::wstring> sizes;
  for (const auto& row : rows) sizes[row[0]] = row[1];
  EXPECT_EQ(rows.size(), 9u);  // seven live files, the deleted one, SUB; Lost+Found is not here
  EXPECT_EQ(sizes[L"EMPTY.TXT"], L"0 KB");
  EXPECT_EQ(sizes[L"ONE.BIN"], L"1 KB");
  EXPECT_EQ(sizes[L"KILO.BIN"], L"2 KB");
  EXPECT_EQ(sizes[L"A.JPG.BAK"], L"3 KB");
}

TEST_F(ResultsPage, MarkingOneFileOfTwoPartlyChecksTheFolderAndItsAncestors) {
  Open(L"SUB");
  FocusRow(L"FIRST.DAT");
  m_kavo.PressKey(List(), VK_SPACE);
  EXPECT_EQ(Checks({L"SUB", L"Data", L"Root"}), (std::vector<int>{3, 3, 3}));
  const int row = ListView_GetNextItem(List(), -1, LVNI_FOCUSED);
  EXPECT_EQ(ListView_GetItemState(List(), row, LVIS_STATEIMAGEMASK) >> 12, 2u);

  const HWND markAll = m_kavo.Control(CommandBar(), 501),
             unmarkAll = m_kavo.Control(CommandBar(), 502);
  m_kavo.Click(markAll);
  m_kavo.Settle();
  EXPECT_EQ(Checks({L"Root", L"Data", L"SUB", L"Lost+Found"}), (std::vector<int>{2, 2, 2, 2}));
  EXPECT_FALSE(IsWindowEnabled(markAll));
  m_kavo.Click(unmarkAll);
  m_kavo.Settle();
  EXPECT_EQ(Checks({L"Root", L"Data", L"SUB", L"Lost+Found"}), (std::vector<int>{1, 1, 1, 1}));
  EXPECT_FALSE(IsWindowEnabled(unmarkAll));
  EXPECT_TRUE(IsWindowEnabled(markAll));
}

TEST_F(ResultsPage, FindsFilesByExtensionThenSaysTheSearchIsFinished) {
  const HWND text = m_kavo.Control(CommandBar(), 500), find = m_kavo.Control(CommandBar(), 503);
  m_kavo.Click(find);  // the placeholder is still there
  EXPECT_EQ(AnswerBox(), L"Please enter an extension.");
  SendMessageW(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"*.jpg"));
  std::vector<std::wstring> found;
  for (int i = 0; i < 2; ++i) {
    m_kavo.Click(find);
    m_kavo.Settle();
    const int row = ListView_GetNextItem(List(), -1, LVNI_FOCUSED);
    ASSERT_GE(row, 0);
    found.push_back(m_kavo.ListRows(List(), 1)[row][0]);
    EXPECT_EQ(test::TextOf(find), L"Find Next");
  }
  EXPECT_EQ(found, (std::vector<std::wstring>{L"A.JPG.BAK", L"PHOTO.JPG"}));  // not ".JPG"
  m_kavo.Click(find);
  EXPECT_EQ(AnswerBox(), L"Searching Finished.");
  m_kavo.Settle();
  EXPECT_EQ(test::TextOf(find), L"Find");
}

TEST_F(ResultsPage, NextSavesTheMarkedFilesIntoTheChosenFolder) {
  const fs::path out =
      fs::temp_directory_path() / ("kavo-results-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(out);
  fs::create_directories(out);
  m_kavo.Click(m_kavo.Control(CommandBar(), 501));
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeListSBar"), 503));
  EXPECT_EQ(AnswerBox(IDNO),
            L"Would you like to save current scan info ? It could be reloaded later.");
  ASSERT_TRUE(m_kavo.AnswerFileDialog(10000, out.wstring())) << "no folder dialog";
  test::MessageBoxSeen summary;  // after the wait dialog, titled "Norvel"
  test::WaitUntil(
      [&] {
        summary = m_kavo.WaitForMessageBox(100);
        return summary.window != nullptr && summary.caption != L"Norvel";
      },
      30000);
  EXPECT_EQ(summary.caption, L"Success");
  const fs::path files = m_fixtures / "results-files";
  uint64_t bytes = 4;  // the deleted file's "gone"
  for (const auto& entry : fs::recursive_directory_iterator(files)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  // The eight live files and the deleted one; Data, SUB and Lost+Found.
  EXPECT_EQ(summary.text,
            L"9 files, 3 folders, " + std::to_wstring(bytes) + L" bytes saved, 0 errors.");
  m_kavo.Answer(summary, IDOK);
  for (const auto& entry : fs::recursive_directory_iterator(files)) {
    if (!entry.is_regular_file()) continue;
    const fs::path saved = out / "Data" / fs::relative(entry.path(), files);
    EXPECT_EQ(Bytes(saved), Bytes(entry.path())) << saved;
  }
  fs::remove_all(out);
}

// A stand-in for an open viewer: a top-level window titled "NorvelView".
class ViewerWindow {
 public:
  ViewerWindow() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = &DefWindowProcW;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"KavoTestViewer";
    RegisterClassW(&cls);
    m_hwnd = CreateWindowW(L"KavoTestViewer", L"NorvelView", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                           nullptr, cls.hInstance, nullptr);
  }
  ~ViewerWindow() { DestroyWindow(m_hwnd); }

 private:
  HWND m_hwnd = nullptr;
};

TEST_F(ResultsPage, PreviewRefusesOtherFormatsAndShowsPicturesInTheViewer) {
  const HWND pane = m_kavo.Find(L"TAVR_CNorvelList");
  const auto preview = [&](const std::wstring& name) {
    FocusRow(name);
    PostMessageW(pane, WM_COMMAND, 32771, 0);  // the context menu's "Preview"
  };
  Open(L"Data");
  preview(L"KILO.BIN");
  EXPECT_EQ(AnswerBox(), L"Preview is not available for this file format");
  const fs::path folder = fs::path(test::KavoProgram()).parent_path();
  const fs::path copy = folder / "PHOTO.JPG";
  {
    ViewerWindow viewer;
    preview(L"PHOTO.JPG");
    EXPECT_EQ(AnswerBox(), L"Please close the current instance of this window");
  }
  preview(L"PHOTO.JPG");
  ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(copy); }, 5000)) << "no extracted copy";
  EXPECT_EQ(Bytes(copy), Bytes(m_fixtures / "results-files" / "PHOTO.JPG"));
  // Kavo starts Pictel.exe from its own folder, hands it the picture on its timer and deletes
  // the copy once the viewer has it.
  HWND viewer = nullptr;
  ASSERT_TRUE(test::WaitUntil(
      [&] { return (viewer = FindWindowW(nullptr, L"NorvelView")) != nullptr; }, 20000))
      << "the viewer did not start";
  EXPECT_TRUE(test::WaitUntil([&] { return !fs::exists(copy); }, 10000)) << "copy left behind";
  // "Next" in the viewer asks for the following file of the folder: PHOTO.JPG is followed only
  // by the folders SUB and Lost+Found, which are stepped over.
  PostMessageW(GetDlgItem(viewer, 1001), BM_CLICK, 0, 0);
  EXPECT_EQ(AnswerBox(), L"No more files are found in current folder.");
  EXPECT_FALSE(fs::exists(folder / "SUB"));
  PostMessageW(viewer, WM_CLOSE, 0, 0);
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(viewer); }, 5000));
}

}  // namespace
}  // namespace kavo
