// The drive-health page of Kavo.exe, driven from outside: the drive table filled by its loader
// with the drives the system reports, and a click on a drive showing that drive's attributes.
// The system here answers no SMART command (as wine does not), so a selected drive shows the
// empty attribute table with the line that says its SMART data could not be read; the table
// texts of drives that do answer are the health layer's and are tested with it.
#include <gtest/gtest.h>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"

namespace kavo {
namespace {

using test::ShellDriver;

class HealthPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window";
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 104));    // Advance Option
    m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CSplashWnd"), 107));  // Drive Health
  }

  HWND Pane(const wchar_t* name) const { return m_kavo.Find(name); }
  HWND Table(const wchar_t* pane) const { return test::ChildOfClass(Pane(pane), L"SysListView32"); }
  HWND UnreadLine() const { return test::ChildOfClass(Pane(L"CRightListView"), L"Static"); }
  bool Loaded() const {
    return IsWindowVisible(m_kavo.Find(L"TAVR_CExtndSplitterWnd")) &&
           IsWindowEnabled(m_kavo.Frame());
  }

  ShellDriver m_kavo{test::KavoProgram()};
};

TEST_F(HealthPage, ListsTheDrivesAndShowsTheSelectedDrivesAttributes) {
  EXPECT_EQ(test::Holders(m_kavo),
            (std::vector<std::wstring>{L"CSplashCmdWnd", L"CDriveHealthWnd", L"CHomeSBar"}));
  // The page answers at once while its loader asks the drives.
  DWORD_PTR ignored = 0;
  EXPECT_NE(SendMessageTimeoutW(m_kavo.Find(L"CDriveHealthWnd"), WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                500, &ignored),
            0);
  ASSERT_TRUE(test::WaitUntil([&] { return Loaded(); }, 30000)) << "the drives were not loaded";

  // Drive table above the attribute table, split where the page puts it.
  RECT top{}, bottom{};
  GetWindowRect(Pane(L"CLeftListView"), &top);
  GetWindowRect(Pane(L"CRightListView"), &bottom);
  EXPECT_EQ(top.bottom - top.top, 250);
  EXPECT_GT(bottom.top, top.bottom - 1);

  const auto drives = m_kavo.ListRows(Table(L"CLeftListView"), 7);
  ASSERT_FALSE(drives.empty()) << "the system reports physical drives";
  for (size_t i = 0; i < drives.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& row = drives[i];
    EXPECT_EQ(row[0], std::to_wstring(i));
    EXPECT_FALSE(row[2].empty());  // model
    EXPECT_TRUE(row[4].ends_with(L" GB") || row[4].ends_with(L" MB")) << row[4].size();
    EXPECT_EQ(row[5], L"N/A");  // no SMART reading, no temperature
  }

  // Nothing is shown until a drive is clicked; then its (unreadable) SMART data is said to be.
  const HWND attributes = Table(L"CRightListView");
  EXPECT_EQ(ListView_GetItemCount(attributes), 0);
  EXPECT_FALSE(IsWindowVisible(UnreadLine()));
  const int last = static_cast<int>(drives.size()) - 1;
  ASSERT_TRUE(m_kavo.ClickListRow(Table(L"CLeftListView"), last));
  EXPECT_EQ(ListView_GetSelectionMark(Table(L"CLeftListView")), last);
  EXPECT_EQ(ListView_GetItemCount(attributes), 0);
  EXPECT_TRUE(IsWindowVisible(UnreadLine()));
  EXPECT_EQ(test::TextOf(UnreadLine()), L"SMART: N/A");
}

// Leaving the page while its loader still runs gives the main window back.
TEST_F(HealthPage, LeavingWhileLoadingLeavesTheFrameEnabled) {
  m_kavo.ToRouter(UM_GO_HOME);
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CHomeWnd");
  EXPECT_TRUE(IsWindowEnabled(m_kavo.Frame()));
  Sleep(1500);  // the loader ends and finds no page
  EXPECT_TRUE(IsWindowEnabled(m_kavo.Frame()));
}

}  // namespace
}  // namespace kavo
