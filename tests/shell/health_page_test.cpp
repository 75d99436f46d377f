// The drive-health page of Kavo.exe, driven from outside: the drive table filled by its loader
// with the drives the system reports, a click on a drive showing that drive's attributes and
// its other properties, and the two tabs that switch between them.
// The system here answers no SMART command (as wine does not), so a selected drive shows the
// empty attribute table with the line that says its SMART data could not be read; the table
// texts of drives that do answer are the health layer's and are tested with it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

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

  // The properties table's rows as name -> value.
  std::map<std::wstring, std::wstring> Properties() const {
    std::map<std::wstring, std::wstring> properties;
    for (const auto& row : m_kavo.ListRows(Table(L"CExtraPoprtiesWnd"), 2)) {
      properties[row[0]] = row[1];
    }
    return properties;
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

TEST_F(HealthPage, TabsSwitchBetweenTheAttributesAndTheProperties) {
  ASSERT_TRUE(test::WaitUntil([&] { return Loaded(); }, 30000)) << "the drives were not loaded";
  const HWND control = Pane(L"TAVR_CXTabCtrl");
  const HWND tabs = test::ChildOfClass(control, L"SysTabControl32");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(m_kavo.TabTitles(tabs),
            (std::vector<std::wstring>{L"SMART Attributes", L"Drive Properties"}));
  const HWND smart = Pane(L"TAVR_CExtndSplitterWnd");
  const HWND properties = Pane(L"CExtraPoprtiesWnd");
  struct Case {
    int tab;
    HWND shown, hidden;
  };
  for (const Case& c : {Case{1, properties, smart}, Case{0, smart, properties}}) {
    SCOPED_TRACE(c.tab);
    ASSERT_TRUE(m_kavo.ClickTab(tabs, c.tab));
    EXPECT_TRUE(test::WaitUntil(
        [&] { return IsWindowVisible(c.shown) && !IsWindowVisible(c.hidden); }, 2000));
    // The page stands 5 pixels in from the left and 30 down from the top of the tabs.
    RECT strip{}, page{};
    GetWindowRect(control, &strip);
    GetWindowRect(c.shown, &page);
    EXPECT_EQ(page.left - strip.left, 5);
    EXPECT_EQ(page.top - strip.top, 30);
  }
}

// The properties tab shows the drive clicked in the drive table, agreeing with its row there.
TEST_F(HealthPage, ShowsTheSelectedDrivesProperties) {
  ASSERT_TRUE(test::WaitUntil([&] { return Loaded(); }, 30000)) << "the drives were not loaded";
  EXPECT_EQ(ListView_GetItemCount(Table(L"CExtraPoprtiesWnd")), 0);
  const auto drives = m_kavo.ListRows(Table(L"CLeftListView"), 7);
  ASSERT_FALSE(drives.empty()) << "the system reports physical drives";
  const int last = static_cast<int>(drives.size()) - 1;
  ASSERT_TRUE(m_kavo.ClickListRow(Table(L"CLeftListView"), last));
  ASSERT_TRUE(m_kavo.ClickTab(test::ChildOfClass(Pane(L"TAVR_CXTabCtrl"), L"SysTabControl32"), 1));
  ASSERT_TRUE(test::WaitUntil(
      [&] { return ListView_GetItemCount(Table(L"CExtraPoprtiesWnd")) > 0; }, 2000));

  const auto& row = drives[last];
  std::map<std::wstring, std::wstring> shown = Properties();
  EXPECT_TRUE(shown[L"Model"].starts_with(row[1])) << shown[L"Model"].size();
  EXPECT_NE(shown[L"Model"].find(row[2]), std::wstring::npos) << shown[L"Model"].size();
  EXPECT_EQ(shown[L"Serial Number"], row[3]);
  EXPECT_EQ(shown[L"Temperature"], row[5]);
  EXPECT_EQ(shown[L"Status"], row[6]);
  EXPECT_EQ(shown[L"SMART Data"], L"N/A");  // the system answers no SMART command
  EXPECT_EQ(shown[L"Health"], L"N/A");
  // The size in bytes, which the drive table shows in gigabytes (megabytes for a small one).
  unsigned long long bytes = 0;
  ASSERT_EQ(swscanf(shown[L"Size"].c_str(), L"%llu bytes", &bytes), 1) << shown[L"Size"].size();
  const bool giga = bytes >= (1ull << 30);
  wchar_t text[32];
  swprintf(text, 32, giga ? L"%.2f GB" : L"%.2f MB",
           static_cast<float>(bytes) / static_cast<float>(giga ? 1 << 30 : 1 << 20));
  EXPECT_EQ(row[4], text);
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
