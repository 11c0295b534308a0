// The drawing toolkit on memory bitmaps: no display needed.
#include "gui/win32/toolkit/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/GdiObjects.h"

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

// Each state's colour, darkening toward the bottom, with the state's white symbol; unknown
// states draw as "off".
TEST_F(ToolkitTest, EmblemShowsEachStatesColourAndSymbol) {
  const struct {
    int state;
    COLORREF color;
  } cases[] = {{0, RGB(30, 158, 90)},  {1, RGB(30, 81, 168)},   {2, RGB(209, 59, 47)},
               {3, RGB(100, 111, 125)}, {4, RGB(232, 139, 26)}, {9, RGB(100, 111, 125)}};
  const auto scaled = [](COLORREF c, int percent) {
    return RGB(GetRValue(c) * percent / 100, GetGValue(c) * percent / 100, GetBValue(c) * percent / 100);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(emblemColor(c.state) & 0xFFFFFF,
              static_cast<uint32_t>(GetRValue(c.color)) << 16 | GetGValue(c.color) << 8 | GetBValue(c.color));
    Surface s(220, 220);
    fillRect(s.dc(), {0, 0, 220, 220}, kBackground);
    drawEmblem(s.dc(), {0, 0, 220, 220}, c.state);
    EXPECT_TRUE(close(s.at(40, 50), scaled(c.color, 94), 8)) << std::hex << s.at(40, 50);
    EXPECT_TRUE(close(s.at(90, 180), scaled(c.color, 78), 10)) << std::hex << s.at(90, 180);
    EXPECT_TRUE(close(s.at(2, 2), kBackground, 0));
    int white = 0;  // the symbol's pixels, above the label
    for (int y = 50; y < 110; ++y)
      for (int x = 70; x < 150; ++x) white += close(s.at(x, y), RGB(255, 255, 255), 40);
    if (c.state <= 2)
      EXPECT_GT(white, 60);
    else
      EXPECT_EQ(white, 0);
  }
  EXPECT_STREQ(emblemLabel(2), L"Обнаружена угроза");
  EXPECT_STREQ(emblemLabel(-1), L"Защита выключена");
}

// A buffer kept between paints: the window can grow and shrink, the whole area of each paint
// reaches the target, the buffer is made again only to grow, and nothing leaks.
TEST_F(ToolkitTest, KeptBackBufferFollowsTheAreaAndLeaksNothing) {
  Surface s(300, 200);
  BackBuffer kept;
  const auto paint = [&](const RECT& area, COLORREF color) {
    BufferedPaint buffer(s.dc(), area, &kept);
    EXPECT_NE(buffer.dc(), s.dc());
    fillRect(buffer.dc(), area, color);
    return buffer.dc();
  };
  const HDC first = paint({0, 0, 100, 80}, RGB(200, 0, 0));
  EXPECT_EQ(s.at(99, 79), RGB(200, 0, 0));
  EXPECT_EQ(s.at(100, 80), RGB(0, 0, 0));
  paint({0, 0, 300, 200}, RGB(0, 200, 0));  // grown: all of it, not the old size
  EXPECT_EQ(s.at(299, 199), RGB(0, 200, 0));
  paint({150, 100, 250, 150}, RGB(0, 0, 200));  // an offset area lands where it belongs
  EXPECT_EQ(s.at(150, 100), RGB(0, 0, 200));
  EXPECT_EQ(s.at(249, 149), RGB(0, 0, 200));
  EXPECT_EQ(s.at(149, 100), RGB(0, 200, 0));
  EXPECT_EQ(s.at(250, 149), RGB(0, 200, 0));

  const DWORD objects = test::gdiObjects();
  for (int i = 0; i < 50; ++i) paint({0, 0, 300 - i, 200 - i}, RGB(0, 0, i));
  EXPECT_EQ(test::gdiObjects(), objects);
  EXPECT_EQ(paint({0, 0, 10, 10}, RGB(1, 2, 3)), first);  // the same DC throughout
}

}  // namespace
}  // namespace zorvek::ui
