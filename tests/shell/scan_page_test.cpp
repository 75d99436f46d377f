// The scan page of Kavo.exe, driven from outside: its texts and progress, the elapsed time, the
// stop question, closing during a job, and the worker's navigation message. No source can be
// selected from these pages alone (the drive list chooses it), so the jobs here have none: the
// worker runs and ends at once, as it does for a source that matches no rule.
#include <gtest/gtest.h>

#include <cwctype>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"

namespace kavo {
namespace {

using test::ShellDriver;

constexpr int kProgress = 4001, kName = 4011, kSize = 4012, kCompleted = 4013, kStart = 4014,
              kElapsed = 4015, kOperation = 4016;
constexpr int kCancel = 403;

class ScanPage : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window"; }

  HWND Page() const { return m_kavo.Find(L"CScanWnd"); }
  std::wstring Value(int id) const { return test::TextOf(m_kavo.Control(Page(), id)); }
  LRESULT BarPosition() const {
    return SendMessageW(m_kavo.Control(Page(), kProgress), PBM_GETPOS, 0, 0);
  }
  HWND CancelButton() const { return m_kavo.Control(m_kavo.Find(L"CScanSBar"), kCancel); }

  ShellDriver m_kavo{test::KavoProgram()};
};

bool IsClockText(const std::wstring& text) {
  if (text.size() != 8 || text[2] != L':' || text[5] != L':') return false;
  for (size_t i : {0, 1, 3, 4, 6, 7}) {
    if (!iswdigit(text[i])) return false;
  }
  return true;
}

TEST_F(ScanPage, ShowsItsTextsAndCountsTheElapsedTime) {
  m_kavo.ToRouter(UM_SHOW_SCAN);
  EXPECT_EQ(test::Holders(m_kavo),
            (std::vector<std::wstring>{L"CScanCmdWnd", L"CScanWnd", L"CScanSBar"}));
  // No Home button while a job runs.
  EXPECT_FALSE(IsWindowVisible(m_kavo.Control(m_kavo.Find(L"CPersistWnd"), 1001)));
  for (const wchar_t* label : {L"Disk Name:", L"Disk Size:", L"Completed", L"Start Time:",
                               L"Elapsed Time:", L"Operation:"}) {
    EXPECT_NE(m_kavo.Find(label), nullptr) << std::string(label, label + wcslen(label));
  }
  EXPECT_EQ(Value(kCompleted), L"1 %");
  EXPECT_EQ(BarPosition(), 1);
  EXPECT_EQ(SendMessageW(m_kavo.Control(Page(), kProgress), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_TRUE(IsClockText(Value(kStart))) << Value(kStart).size();
  EXPECT_EQ(Value(kSize), L"0.00 KB");  // no source
  EXPECT_EQ(Value(kName), L"");
  EXPECT_EQ(Value(kOperation), L"");  // no operation chosen yet
  EXPECT_EQ(Value(kElapsed), L"00:00:00");
  EXPECT_EQ(test::TextOf(CancelButton()), L"Cancel");
  // Whole seconds since the start, once a second.
  EXPECT_TRUE(test::WaitUntil([&] { return Value(kElapsed) >= L"00:00:02"; }, 4000));
  EXPECT_LT(Value(kElapsed), L"00:00:10");
}

// The two progress messages as the job's routines send them, and what the page shows after each.
TEST_F(ScanPage, ProgressMessagesSetTheBarAndThePercentage) {
  m_kavo.ToRouter(UM_SHOW_SCAN);
  struct Step {
    UINT message;
    WPARAM percent;
    const wchar_t* text;
    LRESULT bar;
  } const steps[] = {
      {UM_SET_PERCENT, 40, L"40 %", 40},
      // A routine's own 100 is shown as 90 until its results are ready.
      {UM_SET_PERCENT, 100, L"90 %", 90},
      {UM_SET_PERCENT, 7, L"7 %", 7},
      // The record of a job without a source has no end: 0 %.
      {UM_PROGRESS, 0, L"0 %", 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.percent);
    SendMessageW(Page(), step.message, step.percent, 0);
    EXPECT_EQ(Value(kCompleted), step.text);
    EXPECT_EQ(BarPosition(), step.bar);
  }
}

TEST_F(ScanPage, ClosingDuringAJobSaysSoAndKeepsThePage) {
  m_kavo.ToRouter(UM_SHOW_SCAN);
  PostMessageW(m_kavo.Frame(), WM_CLOSE, 0, 0);
  const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, L"Information");
  EXPECT_EQ(box.text, L"An operation is in progress. Please cancel the current process.");
  m_kavo.Answer(box, IDOK);
  EXPECT_EQ(m_kavo.WaitForExit(500), -1);
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CScanWnd");
}

TEST_F(ScanPage, CancelAsksAndTheTimerGoesOnAfterEitherAnswer) {
  m_kavo.ToRouter(UM_SHOW_SCAN);
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer);
    m_kavo.Click(CancelButton());
    const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, L"Attention");
    EXPECT_EQ(box.text,
              L"Are you sure? Data scanning is in progress. Please cancel the current process.");
    m_kavo.Answer(box, answer);
    EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CScanWnd");
    const std::wstring before = Value(kElapsed);
    EXPECT_TRUE(test::WaitUntil([&] { return Value(kElapsed) != before; }, 3000));
  }
}

// "Deleted Recovery" ends its job with the results page: the worker's message arrives from its
// own thread and replaces the scan page.
TEST_F(ScanPage, TheWorkersNavigationMessageReplacesThePage) {
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 103));
  m_kavo.ToRouter(UM_SHOW_SCAN);
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        const std::wstring page = m_kavo.HolderChild(L"CActiveToolWnd");
        return page == L"CTreeListWnd" || page.empty();
      },
      5000));
  EXPECT_EQ(m_kavo.WaitForExit(0), -1);
}

TEST_F(ScanPage, NextOfTheFormatPageStartsTheScanWithTheOperationsName) {
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CHomeWnd"), 101));
  m_kavo.ToRouter(UM_SELECT_FORMATS);
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionCmdWnd"), 3011));
  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CTreeSelectionSBar"), 3001));
  EXPECT_EQ(test::Holders(m_kavo),
            (std::vector<std::wstring>{L"CScanCmdWnd", L"CScanWnd", L"CScanSBar"}));
  EXPECT_EQ(Value(kOperation), L"Formatted Recovery");
}

}  // namespace
}  // namespace kavo
