// The imaging and cloning pages of Kavo.exe, driven from outside. The tests that copy need the
// volumes X: (a FAT32 image), Y: (a smaller empty image) and W: (2 GB of zeros) that
// copy_pages_volumes.sh maps in a wine prefix of its own; elsewhere they are skipped.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/messages.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"

namespace kavo {
namespace {

using test::ShellDriver;

constexpr int kNext = 806;
constexpr int kCloneEntire = 3001, kReverse = 3002, kSourceStart = 3006, kDestinationStart = 3007,
              kCount = 3008, kSource = 3009, kDestination = 3010, kRetry2 = 3012;
constexpr int kImagingSource = 3101, kImagingPath = 3102, kBrowse = 3103;

std::wstring Env(const char* name) {
  const char* value = std::getenv(name);
  const std::string text = value != nullptr ? value : "";
  return {text.begin(), text.end()};
}

std::string Narrow(const std::wstring& text) {
  return {text.begin(), text.end()};
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CopyPages : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_kavo.Start()) << "Kavo.exe shows no main window"; }

  // Shows a page and waits for its lists to be filled.
  HWND Open(UINT message, const wchar_t* name, int list) {
    m_kavo.ToRouter(message);
    const HWND page = m_kavo.Find(name);
    EXPECT_NE(page, nullptr);
    EXPECT_TRUE(test::WaitUntil([&] { return IsWindowEnabled(GetDlgItem(page, list)); }, 20000));
    return page;
  }
  // Chooses the item `text` of drop-down `id` as the user does; false when it has none.
  bool Choose(HWND page, int id, const std::wstring& text) {
    const HWND list = GetDlgItem(page, id);
    const auto at = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(text.c_str()));
    if (at < 0) return false;
    SendMessageW(list, CB_SETCURSEL, at, 0);
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    return true;
  }
  HWND NextButton() const {
    return m_kavo.Control(m_kavo.Find(m_kavo.HolderChild(L"CSBar")), kNext);
  }
  bool Enabled(HWND page, int id) const { return IsWindowEnabled(GetDlgItem(page, id)) != 0; }
  bool Ticked(HWND page, int id) const {
    return SendMessageW(GetDlgItem(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  ShellDriver m_kavo{test::KavoProgram()};
};

// The two boxes as the user clicks them: which is ticked and whether the range can be typed.
TEST_F(CopyPages, CloneEntireAreaAndReverseCloningExcludeEachOther) {
  const HWND page = Open(UM_DISK_CLONING, L"CCloningWnd", kSource);
  EXPECT_TRUE(Ticked(page, kRetry2));
  SetDlgItemTextW(page, kSourceStart, L"7");
  SetDlgItemTextW(page, kCount, L"9");
  struct Step {
    int click;
    bool entire, reverse, rangeEnabled;
  };
  const Step steps[] = {{kCloneEntire, true, false, false},
                        {kReverse, false, true, false},
                        {kReverse, false, false, true},
                        {kCloneEntire, true, false, false},
                        {kCloneEntire, false, false, true}};
  for (const Step& s : steps) {
    m_kavo.Click(GetDlgItem(page, s.click));
    EXPECT_EQ(Ticked(page, kCloneEntire), s.entire) << &s - steps;
    EXPECT_EQ(Ticked(page, kReverse), s.reverse) << &s - steps;
    for (int id : {3003, 3004, 3005, kSourceStart, kDestinationStart, kCount}) {
      EXPECT_EQ(Enabled(page, id), s.rangeEnabled) << &s - steps << " control " << id;
    }
  }
  EXPECT_EQ(test::TextOf(GetDlgItem(page, kSourceStart)), L"");  // emptied on the first tick
  EXPECT_EQ(test::TextOf(GetDlgItem(page, kCount)), L"9");
}

// The imaging page's two refusals before anything is opened; the page stays.
TEST_F(CopyPages, ImagingAsksForADriveAndAPath) {
  const HWND page = Open(UM_DISK_IMAGING, L"CImagingWnd", kImagingSource);
  const HWND list = GetDlgItem(page, kImagingSource);
  const wchar_t* const texts[] = {L"Please select a drive.", L"Please select a destination path."};
  for (const wchar_t* text : texts) {
    m_kavo.Click(NextButton());
    const test::MessageBoxSeen box = m_kavo.WaitForMessageBox(10000);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, L"Information");
    m_kavo.Answer(box, IDOK);
    EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CImagingWnd");
    ASSERT_GT(SendMessageW(list, CB_GETCOUNT, 0, 0), 0) << "the system lists no drive";
    SendMessageW(list, CB_SETCURSEL, 0, 0);
  }
}

class CopyPagesVolumes : public CopyPages {
 protected:
  void SetUp() override {
    if (Env("KAVO_COPY_IMAGE").empty()) {
      GTEST_SKIP() << "needs the image volumes W:, X: and Y: that copy_pages_volumes.sh maps";
    }
    CopyPages::SetUp();
  }
  // Opens the imaging page with volume `drive` chosen and the image `name` chosen with "...",
  // in the run's folder; returns the image's path as the page shows it.
  std::wstring ChooseImaging(const wchar_t* drive, const wchar_t* name) {
    const HWND page = Open(UM_DISK_IMAGING, L"CImagingWnd", kImagingSource);
    EXPECT_TRUE(Choose(page, kImagingSource, drive));
    const std::wstring chosen = Env("KAVO_COPY_FOLDER") + L"\\" + name;
    m_kavo.Click(GetDlgItem(page, kBrowse));
    EXPECT_TRUE(m_kavo.AnswerFileDialog(10000, chosen));
    return test::TextOf(GetDlgItem(page, kImagingPath));
  }
  // Presses Next, answers the confirmation Yes when it comes, and returns the message after it.
  test::MessageBoxSeen NextAndAnswer() {
    m_kavo.Click(NextButton());
    test::MessageBoxSeen box = m_kavo.WaitForMessageBox(10000);
    if (box.caption == L"Confirm") {
      m_kavo.Answer(box, IDYES);
      box = m_kavo.WaitForMessageBox(10000);
    }
    return box;
  }
};

// Every refusal of the cloning page, with its text; nothing is copied and the page stays.
TEST_F(CopyPagesVolumes, CloningRefusesEachInvalidInputWithItsText) {
  const HWND page = Open(UM_DISK_CLONING, L"CCloningWnd", kSource);
  struct Row {
    const wchar_t *source, *destination, *start, *destinationStart, *count, *text;
  };
  // X: has 131072 sectors, Y: 65536.
  const Row rows[] = {
      {nullptr, nullptr, L"", L"", L"", L"Please select a source drive."},
      {L"X:", nullptr, L"", L"", L"", L"Please select a destination drive."},
      {L"X:", L"X:", L"", L"", L"", L"Source and destination drive can not be same."},
      {L"X:", L"Y:", L"", L"0", L"1",
       L"Please enter the value for starting sector no. of source drive."},
      {L"X:", L"Y:", L"0", L"", L"1",
       L"Please enter the value for destination sector no. of destination drive."},
      {L"X:", L"Y:", L"131073", L"0", L"1", L"Please enter valid sector number."},
      {L"X:", L"Y:", L"0", L"65537", L"1", L"Please enter valid destination number."},
      {L"X:", L"Y:", L"0", L"0", L"", L"Please enter the no. of sectors to copy."},
      {L"X:", L"Y:", L"0", L"0", L"0", L"Please enter valid number of sectors to be copied."},
      // The range fits the destination, but the destination is smaller than the source.
      {L"X:", L"Y:", L"0", L"0", L"100", L"Insufficient space. Please choose other destination."},
  };
  for (const Row& r : rows) {
    if (r.source != nullptr) {
      ASSERT_TRUE(Choose(page, kSource, r.source));
    }
    if (r.destination != nullptr) {
      ASSERT_TRUE(Choose(page, kDestination, r.destination));
    }
    SetDlgItemTextW(page, kSourceStart, r.start);
    SetDlgItemTextW(page, kDestinationStart, r.destinationStart);
    SetDlgItemTextW(page, kCount, r.count);
    const test::MessageBoxSeen box = NextAndAnswer();
    EXPECT_EQ(box.text, r.text) << Narrow(r.text);
    EXPECT_EQ(box.caption, L"Information");
    m_kavo.Answer(box, IDOK);
    EXPECT_EQ(m_kavo.HolderChild(L"CActiveToolWnd"), L"CCloningWnd");
  }
}

// Imaging X: into a new file chosen with "...": the scan page shows the copy to its end, the
// program says so and goes home, and the image holds every byte of the volume.
TEST_F(CopyPagesVolumes, ImagingAVolumeWritesAnIdenticalImage) {
  const std::wstring image = ChooseImaging(L"X:", L"copy");
  EXPECT_EQ(image, Env("KAVO_COPY_FOLDER") + L"\\copy.img");

  m_kavo.Click(NextButton());
  test::MessageBoxSeen box = m_kavo.WaitForMessageBox(10000);
  EXPECT_EQ(box.text, L"Are you sure for selected source drive and destination path ?");
  m_kavo.Answer(box, IDYES);
  box = m_kavo.WaitForMessageBox(60000);
  EXPECT_EQ(box.text, L"Operation completed successfully.");
  const HWND scan = m_kavo.Find(L"CScanWnd");
  ASSERT_NE(scan, nullptr);
  EXPECT_EQ(SendMessageW(GetDlgItem(scan, 4001), PBM_GETPOS, 0, 0), 100);
  EXPECT_EQ(test::TextOf(GetDlgItem(scan, 4011)), L"X:");
  EXPECT_EQ(test::TextOf(GetDlgItem(scan, 4012)), L"64.00 MB");
  m_kavo.Answer(box, IDOK);
  EXPECT_TRUE(
      test::WaitUntil([&] { return m_kavo.HolderChild(L"CActiveToolWnd") == L"CHomeWnd"; }, 10000));

  const std::string original = FileBytes(Env("KAVO_COPY_IMAGE"));
  ASSERT_EQ(original.size(), 64u << 20);
  EXPECT_TRUE(FileBytes(image) == original);
  const std::string log = FileBytes(L"C:\\Users\\DriveX.log");
  EXPECT_NE(log.find("Operation successfully completed."), std::string::npos) << log;
  EXPECT_NE(log.find("131072 Sector(s) copied."), std::string::npos) << log;

  // The same image again: its map says it is finished; continuing it reads nothing more.
  const HWND page = Open(UM_DISK_IMAGING, L"CImagingWnd", kImagingSource);
  ASSERT_TRUE(Choose(page, kImagingSource, L"X:"));
  SetDlgItemTextW(page, kImagingPath, image.c_str());
  box = NextAndAnswer();
  EXPECT_EQ(box.text,
            L"This image was started before. Do you want to continue it ? (No starts it over.)");
  m_kavo.Answer(box, IDYES);
  box = m_kavo.WaitForMessageBox(60000);
  EXPECT_EQ(box.text, L"Operation completed successfully.");
  m_kavo.Answer(box, IDOK);
  EXPECT_TRUE(FileBytes(image) == original);
  EXPECT_NE(FileBytes(image + L".map").find("0x04000000  +"), std::string::npos);
}

// Cancel during the imaging of W: (2 GB): the question pauses the copy, Yes ends it as
// terminated, and the program goes home with the image cut short.
TEST_F(CopyPagesVolumes, CancellingAnImagingAsksThenEndsItAsTerminated) {
  const std::wstring image = ChooseImaging(L"W:", L"cancelled");
  m_kavo.Click(NextButton());
  m_kavo.Answer(m_kavo.WaitForMessageBox(10000), IDYES);
  ASSERT_TRUE(test::WaitUntil([&] { return m_kavo.Find(L"CScanSBar") != nullptr; }, 10000));
  // The copy's figures under the progress rows, renewed every second.
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        const std::wstring figures = test::TextOf(GetDlgItem(m_kavo.Find(L"CScanWnd"), 4017));
        return figures.rfind(L"rescued ", 0) == 0 && figures.find(L", copying, ") != figures.npos;
      },
      5000));

  m_kavo.Click(m_kavo.Control(m_kavo.Find(L"CScanSBar"), 403));  // Cancel
  test::MessageBoxSeen box = m_kavo.WaitForMessageBox(10000);
  EXPECT_EQ(box.caption, L"Attention");
  EXPECT_EQ(box.text,
            L"Are you sure? Data scanning is in progress. Please cancel the current process.");
  // While the question is up the copy waits at its next report (the block under way may still
  // be written): after a second the image no longer grows.
  Sleep(1000);
  const uint64_t asked = FileSize(image);
  Sleep(1000);
  EXPECT_EQ(FileSize(image), asked);
  m_kavo.Answer(box, IDYES);
  box = m_kavo.WaitForMessageBox(30000);
  EXPECT_EQ(box.text, L"Operation terminated.");
  m_kavo.Answer(box, IDOK);
  EXPECT_TRUE(
      test::WaitUntil([&] { return m_kavo.HolderChild(L"CActiveToolWnd") == L"CHomeWnd"; }, 10000));
  EXPECT_LT(FileSize(image), uint64_t{2} << 30);
}

}  // namespace
}  // namespace kavo
