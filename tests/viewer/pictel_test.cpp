// Pictel.exe driven from outside as Kavo drives it: the path record arrives by WM_COPYDATA and
// what the window paints is read back; "Next" asks a window titled "Kavo" for the next file.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/test_paths.h"
#include "viewer/main_frame.h"
#include "viewer/viewer_protocol.h"

namespace kavo::viewer {
namespace {

namespace fs = std::filesystem;
using test::FixturesDir;
using test::ReadFile;
using test::ScratchDir;

std::wstring PictelProgram() {
  const std::string path = PICTEL_EXE_PATH;
  std::wstring wide(path.begin(), path.end());
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
    wide = L"Z:" + wide;
  }
  return wide;
}

// The client area as 0x00RRGGBB pixels, row by row.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
int Red(uint32_t p) {
  return (p >> 16) & 0xFF;
}
int Green(uint32_t p) {
  return (p >> 8) & 0xFF;
}
int Blue(uint32_t p) {
  return p & 0xFF;
}

// One running viewer, closed at the end.
class Viewer {
 public:
  bool Start() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const std::wstring program = PictelProgram();
    std::wstring line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_process)) {
      return false;
    }
    for (int i = 0; i < 600 && m_frame == nullptr; ++i) {
      Sleep(50);
      HWND hwnd = nullptr;
      while ((hwnd = FindWindowExW(nullptr, hwnd, nullptr, kViewerTitle)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        if (process == m_process.dwProcessId) m_frame = hwnd;
      }
    }
    return m_frame != nullptr;
  }
  ~Viewer() {
    if (m_process.hProcess == nullptr) return;
    if (m_frame != nullptr) PostMessageW(m_frame, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(m_process.hProcess, 5000) != WAIT_OBJECT_0) {
      TerminateProcess(m_process.hProcess, 1);
      ADD_FAILURE() << "Pictel did not end on WM_CLOSE";
    } else {
      DWORD code = 0;
      GetExitCodeProcess(m_process.hProcess, &code);
      EXPECT_EQ(code, 0u);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
  }
  HWND Frame() const { return m_frame; }

 private:
  PROCESS_INFORMATION m_process{};
  HWND m_frame = nullptr;
};

// Hands the viewer `path` as Kavo does; true when the viewer answered TRUE.
bool HandOver(HWND frame, const std::wstring& path, uint64_t size) {
  const HandOverRecord record = PackHandOver(std::u16string(path.begin(), path.end()), size);
  COPYDATASTRUCT data{kCopyDataKind, static_cast<DWORD>(record.size()),
                      const_cast<uint8_t*>(record.data())};
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             20000, &answer) != 0 &&
         answer == TRUE;
}

// What `paint` draws into a white 32-bit bitmap of `width` x `height`.
template <typename Paint>
Picture Draw(int width, int height, Paint paint) {
  Picture shot{width, height, {}};
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, section);
  PatBlt(memory, 0, 0, width, height, WHITENESS);
  paint(memory);
  GdiFlush();
  const auto* p = static_cast<const uint32_t*>(bits);
  shot.pixels.assign(p, p + static_cast<size_t>(width) * height);
  for (uint32_t& pixel : shot.pixels) pixel &= 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shot;
}

// The client area as the frame paints it into a DC it is given (WM_PRINTCLIENT); a window of
// another process is not seen this way under wine's null display driver.
Picture PaintedClient(HWND frame) {
  RECT client;
  GetClientRect(frame, &client);
  return Draw(client.right, client.bottom,
              [frame](HDC dc) { PrintWindow(frame, dc, PW_CLIENTONLY); });
}

// `text` drawn as a status line on a white client area of `like`'s size.
Picture StatusLine(const Picture& like, const wchar_t* text) {
  return Draw(like.width, like.height, [&like, text](HDC dc) {
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    RECT band{0, 0, like.width, like.height - 140};
    DrawTextW(dc, text, -1, &band, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  });
}

// The first fixture picture with extension `ext` (the pictures are named by sector), smallest
// or largest file first.
fs::path FixturePicture(const fs::path& dir, const std::string& ext, bool largest) {
  fs::path best;
  for (const auto& entry : fs::directory_iterator(dir / "pictures")) {
    if (entry.path().extension() != ext) continue;
    if (best.empty() || (fs::file_size(entry.path()) > fs::file_size(best)) == largest) {
      best = entry.path();
    }
  }
  return best;
}

// Pictel.exe itself, started as Kavo starts it.
class PictelProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_viewer.Start()) << "no NorvelView window"; }
  Viewer m_viewer;
};

// The viewer's frame made in this process and painted into a bitmap, with the pictures made by
// ImageMagick (tools/make-fixtures.sh).
class PictelPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_fixtures = FixturesDir(why);
    if (m_fixtures.empty()) GTEST_SKIP() << why;
    if (!fs::exists(m_fixtures / "pictures")) GTEST_SKIP() << "no pictures in the fixtures";
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    m_com = true;
    ASSERT_TRUE(m_frame.Create(GetModuleHandleW(nullptr))) << "error " << GetLastError();
  }
  void TearDown() override {
    if (m_frame.Handle() != nullptr) DestroyWindow(m_frame.Handle());
    if (m_com) CoUninitialize();
  }
  bool Show(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return HandOver(m_frame.Handle(), path.wstring(), error ? 0 : size);
  }
  Picture Capture() { return PaintedClient(m_frame.Handle()); }

  fs::path m_fixtures;
  bool m_com = false;
  CMainFrame m_frame;
};

// Counts pixels of `shot` in rows [top, bottom) that `match` accepts.
template <typename Match>
int Count(const Picture& shot, int top, int bottom, Match match) {
  int n = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < shot.width; ++x) n += match(shot.At(x, y)) ? 1 : 0;
  }
  return n;
}
bool NotWhite(uint32_t p) {
  return p != 0xFFFFFF;
}

// Mean absolute channel difference of two shots of the same size.
double Difference(const Picture& a, const Picture& b) {
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    sum += std::abs(Red(a.pixels[i]) - Red(b.pixels[i])) +
           std::abs(Green(a.pixels[i]) - Green(b.pixels[i])) +
           std::abs(Blue(a.pixels[i]) - Blue(b.pixels[i]));
  }
  return sum / (3.0 * static_cast<double>(a.pixels.size()));
}

TEST_F(PictelProgramTest, FrameIsFixedSizeWithNextAtBottomRight) {
  const HWND frame = m_viewer.Frame();
  RECT window;
  GetWindowRect(frame, &window);
  EXPECT_EQ(window.right - window.left, 500);
  EXPECT_EQ(window.bottom - window.top, 500);
  const LONG style = GetWindowLongW(frame, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  EXPECT_EQ(GetMenu(frame), nullptr);
  const HWND next = GetDlgItem(frame, 1001);
  ASSERT_NE(next, nullptr);
  wchar_t text[16] = {};
  GetWindowTextW(next, text, 16);
  EXPECT_STREQ(text, L"Next");
  // Laid out again when the program resizes the frame.
  for (const SIZE size : {SIZE{500, 500}, SIZE{640, 360}}) {
    SetWindowPos(frame, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    RECT client, button;
    GetClientRect(frame, &client);
    GetWindowRect(next, &button);
    MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&button), 2);
    EXPECT_EQ(button.left, client.right - 50) << size.cx;
    EXPECT_EQ(button.top, client.bottom - 25) << size.cx;
    EXPECT_EQ(button.right - button.left, 50);
    EXPECT_EQ(button.bottom - button.top, 25);
  }
}

// The wait text until a file arrives; the failure text once a file could not be opened.
TEST_F(PictelPaintTest, StatusLineSaysWhyThereIsNoPicture) {
  struct Case {
    const char* name;
    const wchar_t* shown;
    const wchar_t* notShown;
  };
  for (const Case& c :
       {Case{"waiting", kWaitText, kFailText}, Case{"missing file", kFailText, kWaitText}}) {
    SCOPED_TRACE(c.name);
    if (c.shown == kFailText) {
      ASSERT_TRUE(Show(m_fixtures / "no" / "such-picture.png"));
    }
    const Picture shot = Capture();
    EXPECT_LT(Difference(shot, StatusLine(shot, c.shown)), 0.01);
    EXPECT_GT(Difference(shot, StatusLine(shot, c.notShown)), 0.1);
  }
}

TEST_F(PictelPaintTest, PaintsPicturesStretchedAboveTheButtonBand) {
  // The PNG is a red-to-blue gradient from top to bottom.
  ASSERT_TRUE(Show(FixturePicture(m_fixtures, ".png", false)));
  Picture shot = Capture();
  const int bottom = shot.height - 25;
  const uint32_t top = shot.At(shot.width / 2, 2), low = shot.At(shot.width / 2, bottom - 3);
  EXPECT_GT(Red(top), 200);
  EXPECT_LT(Blue(top), 60);
  EXPECT_GT(Blue(low), 200);
  EXPECT_LT(Red(low), 60);
  EXPECT_EQ(Count(shot, 0, bottom, NotWhite), shot.width * bottom) << "not stretched over all";
  EXPECT_EQ(Count(shot, bottom, shot.height, NotWhite), 0) << "the button's band is drawn over";

  // The JPEG: many colours, over the whole area.
  ASSERT_TRUE(Show(FixturePicture(m_fixtures, ".jpg", false)));
  shot = Capture();
  std::vector<uint32_t> colours(shot.pixels.begin(), shot.pixels.begin() + shot.width * bottom);
  std::sort(colours.begin(), colours.end());
  EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 1000);
  EXPECT_LT(Count(shot, 0, bottom, [](uint32_t p) { return p == 0xFFFFFF; }), shot.width);

  // A file that does not decode afterwards: the failure text, not the earlier picture.
  ScratchDir dir;
  std::ofstream(dir / "broken.png", std::ios::binary) << "\x89PNG\r\n\x1a\n"
                                                      << std::string(999, 'x');
  ASSERT_TRUE(Show(dir / "broken.png"));
  shot = Capture();
  EXPECT_EQ(Count(shot, 0, (shot.height - 140) / 2 - 20, NotWhite), 0);
}

// A camera RAW file the codecs do not read shows the largest JPEG preview embedded in it.
TEST_F(PictelPaintTest, RawFileShowsItsLargestEmbeddedPreview) {
  const fs::path small = FixturePicture(m_fixtures, ".jpg", false);
  const fs::path large = FixturePicture(m_fixtures, ".jpg", true);
  ASSERT_NE(small, large);
  ScratchDir dir;
  const fs::path raw = dir / "IMG_0001.CRW";
  {
    std::ofstream out(raw, std::ios::binary);
    out << std::string("II\x1a\0\0\0HEAPCCDR", 14) << std::string(3000, '\x5a');
    out << "\xFF\xD8\xFF" << std::string(500, '\x11');  // a start that is no picture
    out << ReadFile(small) << std::string(7000, '\x33') << ReadFile(large)
        << std::string(4096, '\x77');
  }
  ASSERT_TRUE(Show(large));
  const Picture expected = Capture();
  ASSERT_TRUE(Show(small));
  const Picture other = Capture();
  ASSERT_TRUE(Show(raw));
  const Picture shown = Capture();
  EXPECT_LT(Difference(shown, expected), 1.0);
  EXPECT_GT(Difference(shown, other), 10.0);
}

// A window titled "Kavo" in this process, recording the WM_COPYDATA it is sent.
struct Request {
  bool seen = false;
  WPARAM wParam = 0;
  ULONG_PTR kind = 0;
  DWORD bytes = 0;
  const void* data = nullptr;
};
Request g_request;

LRESULT CALLBACK FakeKavo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    g_request = {true, wParam, data->dwData, data->cbData, data->lpData};
    return TRUE;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Clicks "Next" of `frame` and waits for the request to the window titled "Kavo", when there is
// one (`withKavo`); false when none arrived.
bool ClickNext(HWND frame, bool withKavo) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = &FakeKavo;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"PictelTestKavo";
  RegisterClassW(&cls);
  const HWND kavo = withKavo ? CreateWindowW(cls.lpszClassName, L"Kavo", WS_OVERLAPPED, 0, 0, 100,
                                             100, nullptr, nullptr, cls.hInstance, nullptr)
                             : nullptr;
  g_request = {};
  PostMessageW(GetDlgItem(frame, kNextButtonId), BM_CLICK, 0, 0);
  for (int i = 0; i < 50 && !g_request.seen; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(20);
  }
  if (kavo != nullptr) DestroyWindow(kavo);
  return g_request.seen;
}

// Between processes wine carries no byte count for a request without data, so the count is read
// from a frame made in this process.
TEST_F(PictelProgramTest, NextAsksKavoForTheNextFile) {
  EXPECT_FALSE(ClickNext(m_viewer.Frame(), false)) << "no Kavo window: nothing is sent";
  ASSERT_TRUE(ClickNext(m_viewer.Frame(), true));
  EXPECT_EQ(g_request.wParam, reinterpret_cast<WPARAM>(m_viewer.Frame()));
  EXPECT_EQ(g_request.kind, 1u);
  EXPECT_EQ(g_request.data, nullptr);
  CMainFrame here;
  ASSERT_TRUE(here.Create(GetModuleHandleW(nullptr)));
  ASSERT_TRUE(ClickNext(here.Handle(), true));
  EXPECT_EQ(g_request.bytes, 536u);
  EXPECT_EQ(g_request.data, nullptr);
}

}  // namespace
}  // namespace kavo::viewer
