// The results page of Kavo.exe driven as a user: a deleted-file listing of a small FAT16 disk
// made by mkfs.fat and mtools (tools/make-fixtures.sh), its tree and rows, marking, the search by
// extension, saving the marked files and the preview hand-over to a stand-in viewer window.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"
#include "support/fixtures.h"
#include "viewer/viewer_protocol.h"

namespace kavo {
namespace {

using test::ShellDriver;
namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The local modification and creation times of a saved file or folder as "mm/dd/yy hh:mm".
std::pair<std::wstring, std::wstring> SavedDays(const fs::path& path) {
  const HANDLE h =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FILETIME created{}, written{};
  if (h == INVALID_HANDLE_VALUE) return {};
  GetFileTime(h, &created, nullptr, &written);
  CloseHandle(h);
  const auto text = [](const FILETIME& utc) {
    SYSTEMTIME universal{}, local{};
    FileTimeToSystemTime(&utc, &universal);
    SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
    wchar_t out[32];
    swprintf(out, 32, L"%02u/%02u/%02u %02u:%02u", local.wMonth, local.wDay, local.wYear % 100,
             local.wHour, local.wMinute);
    return std::wstring(out);
  };
  return {text(written), text(created)};
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
      const HANDLE process = id != GetCurrentProcessId()
                                 ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)
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
    m_kavo.PressKey(DriveList(), VK_END);  // the volume stands right under its image
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
  int RowOf(const std::wstring& name) const {
    const auto rows = m_kavo.ListRows(List(), 1);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i][0] == name) return static_cast<int>(i);
    }
    return -1;
  }
  // The check box a row shows: 1 clear, 2 ticked, 3 partly ticked.
  int RowCheck(const std::wstring& name) const {
    return static_cast<int>(ListView_GetItemState(List(), RowOf(name), LVIS_STATEIMAGEMASK) >> 12);
  }
  std::vector<int> AllRowChecks() const {
    std::vector<int> checks;
    const int count = ListView_GetItemCount(List());
    for (int i = 0; i < count; ++i) {
      checks.push_back(
          static_cast<int>(ListView_GetItemState(List(), i, LVIS_STATEIMAGEMASK) >> 12));
    }
    return checks;
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

// The list's boxes show each row's mark by the tree's rule and follow a click on a box, Space,
// Mark All and Unmark All; a partly marked folder shows its row partly ticked.
TEST_F(ResultsPage, ListCheckBoxesShowEachRowsMark) {
  Open(L"SUB");
  EXPECT_EQ(AllRowChecks(), (std::vector<int>{1, 1}));
  ASSERT_TRUE(m_kavo.ClickListCheckBox(List(), RowOf(L"FIRST.DAT")));
  EXPECT_EQ(RowCheck(L"FIRST.DAT"), 2);
  EXPECT_EQ(RowCheck(L"SECOND.DAT"), 1);
  EXPECT_EQ(Checks({L"SUB"}), std::vector<int>{3});
  Open(L"Data");
  EXPECT_EQ(RowCheck(L"SUB"), 3);
  Open(L"SUB");
  FocusRow(L"SECOND.DAT");
  m_kavo.PressKey(List(), VK_SPACE);
  EXPECT_EQ(AllRowChecks(), (std::vector<int>{2, 2}));
  EXPECT_EQ(Checks({L"SUB"}), std::vector<int>{2});

  Open(L"Data");
  m_kavo.Click(m_kavo.Control(CommandBar(), 501));
  const std::vector<int> checks = AllRowChecks();
  EXPECT_EQ(checks, std::vector<int>(checks.size(), 2));
  m_kavo.Click(m_kavo.Control(CommandBar(), 502));
  EXPECT_EQ(AllRowChecks(), std::vector<int>(checks.size(), 1));
}

// A deleted file's row is drawn dimmed under the deleted-entry overlay and says "Deleted" in the
// State column; live rows do neither.
TEST_F(ResultsPage, DeletedFilesLookDeleted) {
  Open(L"Data");
  const auto rows = m_kavo.ListRows(List(), 5);
  int deleted = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(std::string(rows[i][0].begin(), rows[i][0].end()));
    const bool gone = rows[i][4] == L"Deleted";
    deleted += gone ? 1 : 0;
    const UINT state =
        ListView_GetItemState(List(), static_cast<int>(i), LVIS_CUT | LVIS_OVERLAYMASK);
    EXPECT_EQ((state & LVIS_CUT) != 0, gone);
    // "Lost+Found" holds found entries: it has the overlay but is not deleted.
    EXPECT_EQ((state & LVIS_OVERLAYMASK) == INDEXTOOVERLAYMASK(1),
              gone || rows[i][0] == L"Lost+Found");
    if (gone) {
      EXPECT_TRUE(rows[i][0].ends_with(L"ONE.TXT"));
    }
  }
  EXPECT_EQ(deleted, 1);  // GONE.TXT
}

// "Show all" lists every match of the search at once; marking there marks the files in their
// folders.
TEST_F(ResultsPage, ShowAllListsEveryMatchForMarking) {
  SendMessageW(m_kavo.Control(CommandBar(), 500), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(L"*.dat"));
  m_kavo.Click(m_kavo.Control(CommandBar(), 505));
  std::vector<std::wstring> names;
  for (const auto& row : m_kavo.ListRows(List(), 1)) names.push_back(row[0]);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"FIRST.DAT", L"SECOND.DAT"}));
  FocusRow(L"FIRST.DAT");
  m_kavo.PressKey(List(), VK_SPACE);
  EXPECT_EQ(RowCheck(L"FIRST.DAT"), 2);
  EXPECT_EQ(Checks({L"SUB", L"Data", L"Root"}), (std::vector<int>{3, 3, 3}));
  SendMessageW(m_kavo.Control(CommandBar(), 500), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(L"*.none"));
  m_kavo.Click(m_kavo.Control(CommandBar(), 505));
  EXPECT_EQ(AnswerBox(), L"No files match the search.");
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

TEST_F(ResultsPage, NextSavesTheMarkedFilesIntoTheChosenFolderWithTheirDates) {
  const fs::path out =
      fs::temp_directory_path() / ("kavo-results-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(out);
  fs::create_directories(out);
  Open(L"Data");
  const auto rows = m_kavo.ListRows(List(), 4);
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
  // The saved files and folders carry the days the list shows, from the start of the day, not
  // the time of saving ("Lost+Found" has none).
  int dated = 0;
  for (const auto& row : rows) {
    const fs::path saved = out / "Data" / row[0];
    if (!fs::exists(saved) || row[2].empty()) continue;
    SCOPED_TRACE(saved.string());
    ++dated;
    const auto [modified, created] = SavedDays(saved);
    EXPECT_EQ(modified, row[2] + L" 00:00");
    if (!row[3].empty()) {
      EXPECT_EQ(created, row[3] + L" 00:00");
    }
  }
  EXPECT_EQ(dated, 8);  // the files and SUB
  fs::remove_all(out);
}

// A stand-in for an open viewer: a top-level window titled "NorvelView" that keeps what it is
// handed, the path and the file's bytes while the message is handled (Kavo deletes its copy once
// the viewer has it).
class ReceivingViewer {
 public:
  struct Received {
    fs::path path;
    std::string bytes;
  };
  ReceivingViewer() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = &Proc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"KavoTestViewer";
    RegisterClassW(&cls);
    m_hwnd = CreateWindowW(L"KavoTestViewer", L"NorvelView", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                           nullptr, cls.hInstance, nullptr);
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~ReceivingViewer() { DestroyWindow(m_hwnd); }
  HWND Handle() const { return m_hwnd; }
  // Handles what is sent to the window until `count` files have arrived or `ms` have passed.
  bool WaitFor(size_t count, DWORD ms) {
    return test::WaitUntil(
        [&] {
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
          return received.size() >= count;
        },
        ms);
  }
  std::vector<Received> received;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ReceivingViewer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message != WM_COPYDATA || self == nullptr) {
      return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    const auto& data = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const std::u16string units =
        viewer::HandOverPath(static_cast<const uint8_t*>(data.lpData), data.cbData);
    const fs::path path(std::wstring(units.begin(), units.end()));
    self->received.push_back({path, Bytes(path)});
    return TRUE;
  }
  HWND m_hwnd = nullptr;
};

// A preview while the viewer is open goes to it at once, as the first one did; "Next" past the
// folder's last file says so and hands nothing over, so the picture shown stays.
TEST_F(ResultsPage, PreviewsGoToTheOpenViewerAndNextAtTheEndKeepsThePicture) {
  const HWND pane = m_kavo.Find(L"TAVR_CNorvelList");
  ReceivingViewer viewer;
  Open(L"Data");
  const std::pair<const wchar_t*, std::string> previews[] = {
      {L"PHOTO.JPG", Bytes(m_fixtures / "results-files" / "PHOTO.JPG")},
      {L".JPG", "not a picture"},
      {L"PHOTO.JPG", Bytes(m_fixtures / "results-files" / "PHOTO.JPG")}};
  size_t count = 0;
  for (const auto& [name, bytes] : previews) {
    SCOPED_TRACE(std::string(name, name + wcslen(name)));
    FocusRow(name);
    PostMessageW(pane, WM_COMMAND, 32771, 0);  // the context menu's "Preview"
    ASSERT_TRUE(viewer.WaitFor(++count, 10000)) << "nothing handed to the open viewer";
    EXPECT_EQ(viewer.received.back().path.filename().wstring(), name);
    EXPECT_EQ(viewer.received.back().bytes, bytes);
    EXPECT_EQ(m_kavo.WaitForMessageBox(200).window, nullptr);
  }
  // PHOTO.JPG is followed only by folders: the viewer's Next gets the end message, and no file
  // comes after it.
  std::thread next([&] {
    COPYDATASTRUCT request{1, 536, nullptr};
    SendMessageW(m_kavo.Frame(), WM_COPYDATA, reinterpret_cast<WPARAM>(viewer.Handle()),
                 reinterpret_cast<LPARAM>(&request));
  });
  EXPECT_EQ(AnswerBox(), L"No more files are found in current folder.");
  next.join();
  EXPECT_FALSE(viewer.WaitFor(count + 1, 2500)) << "a file was handed over after the end";
}

TEST_F(ResultsPage, PreviewRefusesOtherFormatsAndShowsPicturesInTheViewerInFront) {
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
  preview(L"PHOTO.JPG");
  const std::string photo = Bytes(m_fixtures / "results-files" / "PHOTO.JPG");
  // The copy is whole once it has all its bytes.
  EXPECT_TRUE(test::WaitUntil([&] { return Bytes(copy) == photo; }, 5000)) << "no extracted copy";
  // Kavo starts Pictel.exe from its own folder, hands it the picture on its timer and deletes
  // the copy once the viewer has it; the viewer then stands in front.
  HWND viewer = nullptr;
  ASSERT_TRUE(test::WaitUntil(
      [&] { return (viewer = FindWindowW(nullptr, L"NorvelView")) != nullptr; }, 20000))
      << "the viewer did not start";
  EXPECT_TRUE(test::WaitUntil([&] { return !fs::exists(copy); }, 10000)) << "copy left behind";
  EXPECT_TRUE(test::WaitUntil([&] { return GetForegroundWindow() == viewer; }, 5000));
  // The user goes back to Kavo and previews again: the same viewer comes to the front with it.
  SetForegroundWindow(m_kavo.Frame());
  ASSERT_TRUE(test::WaitUntil([&] { return GetForegroundWindow() == m_kavo.Frame(); }, 5000));
  preview(L"PHOTO.JPG");
  EXPECT_TRUE(test::WaitUntil([&] { return GetForegroundWindow() == viewer; }, 10000))
      << "the viewer stayed behind";
  EXPECT_EQ(FindWindowW(nullptr, L"NorvelView"), viewer);
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
