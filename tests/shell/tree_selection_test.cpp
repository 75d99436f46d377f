// The format-selection page of Kavo.exe, driven from outside: the catalogue tree and its check
// boxes, Mark All / Unmark All, and Next / Back.
#include <gtest/gtest.h>

#include <map>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"

namespace kavo {
namespace {

using test::ShellDriver;
using test::TreeItemSeen;

constexpr UINT kCountSelected = WM_USER + 217;
constexpr int kClear = 1, kTicked = 2, kPartly = 3;

class FormatPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window";
    m_kavo.ToRouter(UM_SELECT_FORMATS);
    m_tree = m_kavo.Find(L"CSignatureTreeWnd");
    ASSERT_NE(m_tree, nullptr);
  }

  std::map<std::wstring, TreeItemSeen> ItemsByText() const {
    std::map<std::wstring, TreeItemSeen> items;
    for (const TreeItemSeen& item : m_kavo.TreeItems(m_tree)) items[item.text] = item;
    return items;
  }
  int StateOf(const std::wstring& text) const { return ItemsByText().at(text).checkState; }
  void Tick(const std::wstring& text) {
    ASSERT_TRUE(m_kavo.ClickTreeCheckBox(m_tree, ItemsByText().at(text).item)) << "no box";
  }
  LRESULT Count() const {
    return SendMessageW(m_kavo.Find(L"CTreeSelectionWnd"), kCountSelected, 0, 0);
  }
  // Mark All and Unmark All, enabled or not.
  std::pair<bool, bool> MarkButtons() const {
    const HWND bar = m_kavo.Find(L"CTreeSelectionCmdWnd");
    return {IsWindowEnabled(m_kavo.Control(bar, 3011)) != FALSE,
            IsWindowEnabled(m_kavo.Control(bar, 3012)) != FALSE};
  }
  HWND BarButton(int id) const { return m_kavo.Control(m_kavo.Find(L"CTreeSelectionSBar"), id); }

  ShellDriver m_kavo{test::KavoProgram()};
  HWND m_tree = nullptr;
};

TEST_F(FormatPage, ShowsTheCatalogueUnticked) {
  EXPECT_EQ(test::Holders(m_kavo),
            (std::vector<std::wstring>{L"CTreeSelectionCmdWnd", L"CTreeSelectionWnd",
                                       L"CTreeSelectionSBar"}));
  const std::vector<TreeItemSeen> items = m_kavo.TreeItems(m_tree);
  ASSERT_EQ(items.size(), 1u + 4u + 72u);
  EXPECT_EQ(items[0].text, L"File Formats");
  std::vector<std::wstring> categories;
  std::vector<std::wstring> formats;
  for (const TreeItemSeen& item : items) {
    EXPECT_EQ(item.checkState, kClear) << std::string(item.text.begin(), item.text.end());
    if (item.depth == 1) categories.push_back(item.text);
    if (item.depth == 2) formats.push_back(item.text);
    // Every format shows an icon, and not the folder icon of the root and the categories.
    if (item.depth == 2) {
      EXPECT_NE(item.image, items[0].image) << std::string(item.text.begin(), item.text.end());
    }
    EXPECT_GE(item.image, 0);
  }
  EXPECT_EQ(categories, (std::vector<std::wstring>{L"Images", L"Audio/Video", L"Docs", L"Mail"}));
  ASSERT_EQ(formats.size(), 72u);
  EXPECT_EQ(formats.front(), L"BMP");
  EXPECT_EQ(formats[22], L"IIQ");  // the last image format
  EXPECT_EQ(formats[23], L"RA");
  EXPECT_EQ(formats.back(), L"OST");
  // The root is expanded, the categories are not.
  auto expanded = [&](const TreeItemSeen& item) {
    return (SendMessageW(m_tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item.item),
                         TVIS_EXPANDED) &
            TVIS_EXPANDED) != 0;
  };
  EXPECT_TRUE(expanded(items[0]));
  EXPECT_FALSE(expanded(items[1]));
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(MarkButtons(), std::make_pair(true, false));
  EXPECT_EQ(test::TextOf(m_kavo.Control(m_kavo.Find(L"CTreeSelectionCmdWnd"), 3011)), L"Mark All");
  EXPECT_EQ(test::TextOf(BarButton(3001)), L"Next");
  EXPECT_EQ(test::TextOf(BarButton(3002)), L"Back");
}

// Clicks on check boxes, each followed by what the tree, the count and the bar's buttons show.
TEST_F(FormatPage, CheckBoxesTickDownwardsAndRecomputeUpwards) {
  struct Step {
    const wchar_t* click;
    std::map<std::wstring, int> states;
    LRESULT count;
    std::pair<bool, bool> buttons;
  };
  const Step steps[] = {
      {L"JPG",
       {{L"JPG", kTicked}, {L"BMP", kClear}, {L"Images", kPartly}, {L"File Formats", kPartly}},
       2,
       {true, true}},
      // A click on a partly ticked item clears it with all below it.
      {L"Images",
       {{L"JPG", kClear}, {L"Images", kClear}, {L"File Formats", kClear}},
       0,
       {true, false}},
      {L"Images",
       {{L"BMP", kTicked}, {L"IIQ", kTicked}, {L"Images", kTicked}, {L"File Formats", kPartly}},
       24,
       {true, true}},
      {L"Images",
       {{L"JPG", kClear}, {L"Images", kClear}, {L"File Formats", kClear}},
       0,
       {true, false}},
      {L"PST", {{L"PST", kTicked}, {L"Mail", kPartly}}, 2, {true, true}},
      {L"OST", {{L"Mail", kTicked}, {L"File Formats", kPartly}}, 3, {true, true}},
      // Clearing the last ticked format of a category clears the category and the root.
      {L"PST", {{L"Mail", kPartly}}, 2, {true, true}},
      {L"OST", {{L"Mail", kClear}, {L"File Formats", kClear}}, 0, {true, false}},
      // A click on the clear root ticks everything, on the ticked root clears everything.
      {L"File Formats",
       {{L"File Formats", kTicked}, {L"OST", kTicked}, {L"Docs", kTicked}},
       76,
       {false, true}},
      {L"File Formats", {{L"File Formats", kClear}, {L"MP3", kClear}}, 0, {true, false}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.click, step.click + wcslen(step.click)));
    Tick(step.click);
    for (const auto& [text, state] : step.states) {
      EXPECT_EQ(StateOf(text), state) << std::string(text.begin(), text.end());
    }
    EXPECT_EQ(Count(), step.count);
    EXPECT_EQ(MarkButtons(), step.buttons);
  }
}

TEST_F(FormatPage, SpaceBarTogglesTheSelectedItem) {
  SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET,
               reinterpret_cast<LPARAM>(ItemsByText().at(L"Mail").item));
  PostMessageW(m_tree, WM_KEYDOWN, VK_SPACE, 0);
  m_kavo.Settle();
  EXPECT_EQ(StateOf(L"PST"), kTicked);
  EXPECT_EQ(StateOf(L"Mail"), kTicked);
  EXPECT_EQ(Count(), 3);
}

TEST_F(FormatPage, MarkAllAndUnmarkAll) {
  const HWND bar = m_kavo.Find(L"CTreeSelectionCmdWnd");
  m_kavo.Click(m_kavo.Control(bar, 3011));
  for (const TreeItemSeen& item : m_kavo.TreeItems(m_tree)) EXPECT_EQ(item.checkState, kTicked);
  EXPECT_EQ(Count(), 76);
  EXPECT_EQ(MarkButtons(), std::make_pair(false, true));
  m_kavo.Click(m_kavo.Control(bar, 3012));
  for (const TreeItemSeen& item : m_kavo.TreeItems(m_tree)) EXPECT_EQ(item.checkState, kClear);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(MarkButtons(), std::make_pair(true, false));
}

TEST_F(FormatPage, NextWithNothingTickedAsksForFormatsAndStays) {
  m_kavo.Click(BarButton(3001));
  const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(5000);
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, L"Information");
  EXPECT_EQ(box.text, L"You have not selected any file format. Please select file formats.");
  m_kavo.Answer(box, IDOK);
  m_kavo.Settle();
  EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CTreeSelectionWnd");
}

TEST_F(FormatPage, BackGoesToTheDriveList) {
  Tick(L"PNG");
  m_kavo.Click(BarButton(3002));
  EXPECT_TRUE(test::OnDriveListing(m_kavo)) << m_kavo.HolderChild(L"CActiveToolWnd").size();
  // A new format page starts with nothing ticked.
  m_kavo.ToRouter(UM_SELECT_FORMATS);
  m_tree = m_kavo.Find(L"CSignatureTreeWnd");
  EXPECT_EQ(StateOf(L"PNG"), kClear);
  EXPECT_EQ(Count(), 0);
}

}  // namespace
}  // namespace kavo
