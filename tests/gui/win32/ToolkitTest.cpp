// The drawing toolkit on memory bitmaps: no display needed.
#include "gui/win32/toolkit/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace zorvek::ui {
namespace {

// A 32-bit top-down bitmap to draw on, read back as 0xAARRGGBB.
class Surface {
 public:
  Surface(int w, int h) : w_(w), h_(h), dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_.reset(CreateDIBSection(dc_.get(), &bi, DIB_RGB_COLORS, &bits_, nullptr, 0));
    old_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Surface() { SelectObject(dc_.get(), old_); }
  HDC dc() const { return dc_.get(); }
  COLORREF at(int x, int y) const {
    GdiFlush();
    const uint32_t p = static_cast<const uint32_t*>(bits_)[y * w_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }

 private:
  int w_, h_;
  UniqueMemoryDc dc_;
  UniqueGdiObject<HBITMAP> bitmap_;
  void* bits_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

bool close(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// The icon's colour pixels (0xAARRGGBB, top-down) at its own size.
std::vector<uint32_t> iconPixels(HICON icon, int size) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  UniqueGdiObject<HBITMAP> color(info.hbmColor), mask(info.hbmMask);
  std::vector<uint32_t> pixels(static_cast<size_t>(size * size));
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, color.get(), 0, static_cast<UINT>(size), pixels.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != size) return {};
  return pixels;
}

class ToolkitTest : public ::testing::Test {
 protected:
  void TearDown() override { setDpi(96); }
  GdiplusSession gdiplus_;
};

TEST_F(ToolkitTest, LengthsAndFontsFollowTheDpi) {
  setDpi(96);
  EXPECT_EQ(px(220), 220);
  const HFONT normal = font(13);
  EXPECT_EQ(font(13), normal);  // one font per key
  EXPECT_NE(font(13, kBold), normal);
  LOGFONTW lf{};
  ASSERT_TRUE(GetObjectW(normal, sizeof lf, &lf));
  EXPECT_EQ(lf.lfHeight, -13);
  EXPECT_STREQ(lf.lfFaceName, L"Segoe UI");

  setDpi(144);
  EXPECT_EQ(px(220), 330);
  EXPECT_EQ(px(13), 20);  // MulDiv rounds 19.5 up
  ASSERT_TRUE(GetObjectW(font(13), sizeof lf, &lf));
  EXPECT_EQ(lf.lfHeight, -20);
  const RECT r = pxRect(16, 96, 208, 138);
  EXPECT_EQ(r.left, 24);
  EXPECT_EQ(r.bottom, 207);
}

TEST_F(ToolkitTest, ButtonsUseTheirKindsColours) {
  const struct {
    ButtonKind kind;
    ButtonState state;
    COLORREF top, bottom, border;
  } cases[] = {
      {ButtonKind::Primary, ButtonState::Normal, RGB(42, 94, 180), RGB(26, 72, 150), RGB(21, 61, 126)},
      {ButtonKind::Primary, ButtonState::Hovered, RGB(58, 123, 232), RGB(30, 81, 168), RGB(20, 58, 120)},
      {ButtonKind::Primary, ButtonState::Disabled, RGB(184, 198, 216), RGB(184, 198, 216), RGB(184, 198, 216)},
      {ButtonKind::Secondary, ButtonState::Normal, RGB(255, 255, 255), RGB(243, 246, 250), RGB(216, 222, 230)},
      {ButtonKind::Secondary, ButtonState::Hovered, RGB(237, 243, 251), RGB(220, 233, 248), RGB(180, 204, 236)},
  };
  setDpi(96);
  for (const auto& c : cases) {
    Surface s(200, 60);
    fillRect(s.dc(), {0, 0, 200, 60}, kBackground);
    drawButton(s.dc(), {10, 10, 180, 50}, L"", c.kind, c.state);
    EXPECT_TRUE(close(s.at(95, 11), c.top, 4));
    EXPECT_TRUE(close(s.at(95, 48), c.bottom, 4));
    EXPECT_TRUE(close(s.at(95, 10), c.border, 0));
    EXPECT_TRUE(close(s.at(10, 30), c.border, 0));
    // Corners are rounded: the page shows through.
    EXPECT_TRUE(close(s.at(11, 11), kBackground, 0));
  }
}

TEST_F(ToolkitTest, ShieldIconIsFilledWithItsColourAndHasACheckMark) {
  for (const COLORREF fill : {kGreen, kRed}) {
    for (const int size : {16, 32}) {
      UniqueIcon icon = drawShieldIcon(size, fill);
      ASSERT_TRUE(icon) << size;
      const auto pixels = iconPixels(icon.get(), size);
      ASSERT_EQ(pixels.size(), static_cast<size_t>(size * size));
      const auto at = [&](double fx, double fy) {
        return pixels[static_cast<size_t>(static_cast<int>(fy * size) * size + static_cast<int>(fx * size))];
      };
      const auto rgb = [](uint32_t p) { return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); };
      int filled = 0, white = 0;
      for (uint32_t p : pixels) {
        if ((p >> 24) == 0xFF && close(rgb(p), fill, 2)) ++filled;
        if ((p >> 24) == 0xFF && close(rgb(p), RGB(255, 255, 255), 30)) ++white;
      }
      EXPECT_GT(filled, size * size / 3) << size;
      EXPECT_GT(white, size / 2) << size;
      EXPECT_EQ(at(0.5, 0.25) >> 24, 0xFFu);
      EXPECT_TRUE(close(rgb(at(0.5, 0.25)), fill, 2));
      EXPECT_EQ(at(0.0, 0.97) >> 24, 0u) << "the corner is not transparent";
    }
  }
}

}  // namespace
}  // namespace zorvek::ui
