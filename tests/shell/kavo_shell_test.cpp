// Kavo.exe under test, driven from outside through its windows and messages.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using test::ShellDriver;

// The program's path as the build wrote it; a Unix path (a cross build run under wine) is seen
// on wine's drive Z:.
std::wstring Program() {
  const std::string path = KAVO_EXE_PATH;
  std::wstring wide(path.begin(), path.end());
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    wide = L"Z:" + wide;
  }
  return wide;
}

class KavoShell : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window"; }

  // The windows in the three holders: command bar, page, button bar.
  std::vector<std::wstring> Holders() const {
    return {m_kavo.HolderChild(L"CActiveToolCmdWnd"), m_kavo.HolderChild(L"CActiveToolWnd"),
            m_kavo.HolderChild(L"CSBar")};
  }
  bool HomeButtonShown() const {
    return IsWindowVisible(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001)) != FALSE;
  }

  ShellDriver m_kavo{Program()};
};

TEST_F(KavoShell, StartsOnTheHomePageWithItsFourOperationsAndNoHomeButton) {
  EXPECT_EQ(test::TextOf(m_kavo.Frame()), L"Kavo");
  RECT frame{};
  GetWindowRect(m_kavo.Frame(), &frame);
  EXPECT_EQ(frame.right - frame.left, 1000);
  EXPECT_EQ(frame.bottom - frame.top, 550);
  EXPECT_EQ(Holders(), (std::vector<std::wstring>{L"CHomeCmdWnd", L"CHomeWnd", L"CHomeSBar"}));
  EXPECT_FALSE(HomeButtonShown());
  const HWND home = m_kavo.Find(L"CHomeWnd");
  const std::pair<int, const wchar_t*> buttons[] = {{102, L"Partition Recovery"},
                                                    {101, L"Formatted Recovery"},
                                                    {103, L"Deleted Recovery"},
                                                    {104, L"Advance Option"}};
  for (const auto& [id, text] : buttons) {
    const HWND button = m_kavo.Control(home, id);
    ASSERT_NE(button, nullptr) << id;
    EXPECT_EQ(test::TextOf(button), text);
    RECT r{};
    GetWindowRect(button, &r);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(r.bottom - r.top, 320);
  }
  EXPECT_EQ(test::TextOf(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1003)), L"Help");
}

// Each router message puts its windows in the holders; a holder the table leaves unchanged keeps
// the bar of the page before. Pages of operations still to come leave their holder empty.
TEST_F(KavoShell, RouterMessagesChangeThePagesAsThePageTableSays) {
  struct Row {
    UINT message;
    std::vector<std::wstring> holders;
    bool homeShown;
  };
  const Row rows[] = {
      {UM_ADVANCE_OPTION, {L"CSplashCmdWnd", L"CSplashWnd", L"CHomeSBar"}, true},
      {UM_DRIVE_HEALTH, {L"CSplashCmdWnd", L"CDriveHealthWnd", L"CHomeSBar"}, true},
      {UM_GO_HOME, {L"CHomeCmdWnd", L"CHomeWnd", L"CHomeSBar"}, false},
      {UM_DISK_IMAGING, {L"CHomeCmdWnd", L"CImagingWnd", L"CImagingSBar"}, true},
      {UM_GO_HOME, {L"CHomeCmdWnd", L"CHomeWnd", L"CHomeSBar"}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    m_kavo.ToRouter(row.message);
    EXPECT_EQ(Holders(), row.holders);
    EXPECT_EQ(HomeButtonShown(), row.homeShown);
  }
  // The strip update with wParam 1 hides Home on any page.
  m_kavo.ToRouter(UM_ADVANCE_OPTION);
  SendMessageW(m_kavo.Find(L"CPersistWnd"), UM_SIDE_STRIP, 1, 0);
  EXPECT_FALSE(HomeButtonShown());
}

TEST_F(KavoShell, ClickingAdvanceOptionAndThenHomeGoesThereAndBack) {
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 104));
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CSplashWnd");
  for (int id : {105, 106, 107}) {
    EXPECT_NE(m_kavo.Control(m_kavo.Find(L"CSplashWnd"), id), nullptr) << id;
  }
  EXPECT_TRUE(HomeButtonShown());
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001));
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CHomeWnd");
  EXPECT_FALSE(HomeButtonShown());
  // Home makes the frame resizable.
  EXPECT_NE(GetWindowLongPtrW(m_kavo.Frame(), GWL_STYLE) & WS_THICKFRAME, 0);
}

// Leaving the advance options by Home, the next page still fills the frame with its bars at the
// edges; the drive-health page keeps the options' command bar but names itself there.
TEST_F(KavoShell, PagesFillTheFrameAfterTheAdvanceOptionsAndEachNamesItself) {
  const auto title = [&](const wchar_t* bar) {
    return test::TextOf(test::ChildOfClass(m_kavo.Find(bar), L"Static"));
  };
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 104));
  EXPECT_EQ(title(L"CSplashCmdWnd"), L"Advance Option");
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CSplashWnd"), 107));
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveHealthWnd");
  EXPECT_EQ(title(L"CSplashCmdWnd"), L"Drive Health");
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001));
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 103));
  ASSERT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CDriveListingWnd");
  RECT frame{};
  GetClientRect(m_kavo.Frame(), &frame);
  // Each window's rectangle in the frame's client coordinates.
  const auto place = [&](HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(nullptr, m_kavo.Frame(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT page = place(GetWindow(m_kavo.Find(L"CActiveToolWnd"), GW_CHILD));
  const RECT bar = place(m_kavo.Find(L"CSBar"));
  EXPECT_EQ(page.left, 0);
  EXPECT_EQ(page.top, 60);  // below the strip and the command bar
  EXPECT_EQ(page.right, frame.right);
  EXPECT_EQ(page.bottom, frame.bottom - 40);
  EXPECT_EQ(bar.right, frame.right);
  EXPECT_EQ(bar.bottom, frame.bottom);
}

TEST_F(KavoShell, ASecondCopyWarnsAndEndsLeavingTheFirstRunning) {
  const HANDLE second = m_kavo.StartAnother();
  ASSERT_NE(second, nullptr);
  const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(10000, second);
  ASSERT_NE(box.window, nullptr) << "no warning";
  EXPECT_EQ(box.caption, L"Warning");
  EXPECT_EQ(box.text, L"An Instance of this application is already running.");
  m_kavo.Answer(box, IDOK);
  EXPECT_EQ(WaitForSingleObject(second, 10000), WAIT_OBJECT_0);
  CloseHandle(second);
  EXPECT_EQ(m_kavo.WaitForExit(0), -1);
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CHomeWnd");
}

// The build puts Kavo.chm beside the program (opening it is not tried here: the help viewer that
// wine starts would outlive the test and hold its output open).
TEST(KavoShellAlone, TheHelpFileLiesBesideTheProgram) {
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(Program()).parent_path() / "Kavo.chm"));
}

// A copy of the program without its help file says which file is missing.
TEST(KavoShellAlone, HelpWithoutItsFileSaysWhichFileIsMissing) {
  test::ScratchDir dir;
  const std::filesystem::path copy = dir / "Kavo.exe";
  std::filesystem::copy_file(std::filesystem::path(Program()), copy);
  ShellDriver kavo(copy.wstring());
  ASSERT_TRUE(kavo.Start());
  kavo.Click(kavo.Control(kavo.Find(L"CPersistWnd"), 1003));
  const test::MessageBoxSeen box = kavo.WaitForMessageBox(5000);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, L"Kavo");
  EXPECT_NE(box.text.find((dir / "Kavo.chm").wstring()), std::wstring::npos)
      << std::string(box.text.begin(), box.text.end());
  kavo.Answer(box, IDOK);
  PostMessageW(kavo.Frame(), WM_CLOSE, 0, 0);
  EXPECT_EQ(kavo.WaitForExit(10000), 0);
}

TEST_F(KavoShell, ClosingFromTheHomePageEndsTheProgram) {
  PostMessageW(m_kavo.Frame(), WM_CLOSE, 0, 0);
  EXPECT_EQ(m_kavo.WaitForExit(10000), 0);
}

}  // namespace
}  // namespace kavo
