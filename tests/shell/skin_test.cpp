// The skin pictures of Kavo.exe, read from the built program's resources the way the program
// reads its own, and the loader's failure on a picture that is not there.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>
// clang-format on

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "shell/png_picture.h"
#include "shell/res/resource.h"
#include "shell/shell_test_support.h"

namespace kavo::shell {
namespace {

class SkinPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
    m_program = LoadLibraryExW(test::KavoProgram().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(m_program, nullptr) << "Kavo.exe could not be opened for its resources";
  }
  void TearDown() override {
    if (m_program != nullptr) FreeLibrary(m_program);
    Gdiplus::GdiplusShutdown(m_token);
  }

  ULONG_PTR m_token = 0;
  HMODULE m_program = nullptr;
};

// Relative luminance of an sRGB pixel, 0 (black) to 1 (white).
double Luminance(Gdiplus::ARGB pixel) {
  const auto channel = [](unsigned value) {
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel((pixel >> 16) & 0xFF) + 0.7152 * channel((pixel >> 8) & 0xFF) +
         0.0722 * channel(pixel & 0xFF);
}

TEST_F(SkinPictures, EachPictureDecodesAtItsSizeWithAVisibleDrawing) {
  struct Case {
    UINT id;
    UINT width, height;
    bool captionFace;  // a face that carries a white caption: dark enough to read it on
  };
  const Case cases[] = {
      {IDB_BUTTON_NORMAL, 96, 40, true},       {IDB_BUTTON_HOVER, 96, 40, true},
      {IDB_BUTTON_PRESSED, 96, 40, true},      {IDB_BUTTON_DISABLED, 96, 40, false},
      {IDB_OPTION_FORMATTED, 176, 246, false}, {IDB_OPTION_DELETED, 176, 246, false},
      {IDB_OPTION_ADVANCE, 176, 246, false},   {IDB_OPTION_PARTITION, 176, 246, false},
      {IDB_OPTION_IMAGING, 176, 246, false},   {IDB_OPTION_CLONING, 176, 246, false},
      {IDB_OPTION_HEALTH, 176, 246, false},    {IDB_PAGE_BACKGROUND, 64, 256, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    TAVR_GDIWithPNG picture;
    ASSERT_TRUE(picture.Load(c.id, m_program));
    Gdiplus::Bitmap* bitmap = picture.Bitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), c.width);
    EXPECT_EQ(bitmap->GetHeight(), c.height);
    // A blank picture has one colour or is all transparent; a drawing has many opaque pixels of
    // several colours.
    std::set<Gdiplus::ARGB> colours;
    UINT opaque = 0;
    for (UINT y = 0; y < bitmap->GetHeight(); y += 2) {
      for (UINT x = 0; x < bitmap->GetWidth(); x += 2) {
        Gdiplus::Color colour;
        bitmap->GetPixel(static_cast<INT>(x), static_cast<INT>(y), &colour);
        if (colour.GetA() == 255) {
          ++opaque;
          colours.insert(colour.GetValue());
        }
      }
    }
    EXPECT_GT(opaque, c.width * c.height / 4 / 10);
    EXPECT_GE(colours.size(), 4u);
    if (c.captionFace) {
      Gdiplus::Color centre;
      bitmap->GetPixel(static_cast<INT>(c.width / 2), static_cast<INT>(c.height / 2), &centre);
      // White text on it keeps a contrast of at least 4.5 to 1.
      EXPECT_GE(1.05 / (Luminance(centre.GetValue()) + 0.05), 4.5);
    }
  }
}

TEST_F(SkinPictures, AMissingPictureFailsAndLeavesNothingHeld) {
  struct Case {
    HMODULE module;
    UINT id;
  };
  const Case cases[] = {
      {m_program, 9999},             // no resource of that number
      {m_program, IDR_MAINFRAME},    // the number of the icon, not of a picture
      {nullptr, IDB_BUTTON_NORMAL},  // the test program itself has no skin
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    TAVR_GDIWithPNG picture;
    ASSERT_TRUE(picture.Load(IDB_BUTTON_NORMAL, m_program));
    EXPECT_FALSE(picture.Load(c.id, c.module));
    EXPECT_EQ(picture.Bitmap(), nullptr);
  }
}

}  // namespace
}  // namespace kavo::shell
