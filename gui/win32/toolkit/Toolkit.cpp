#include "gui/win32/toolkit/Toolkit.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

namespace zorvek::ui {
namespace {

int g_dpi = 0;  // 0 until first asked: then the system's

struct FontCache {
  std::mutex mutex;
  std::map<std::tuple<int, int, bool>, UniqueGdiObject<HFONT>> fonts;
};
FontCache& fontCache() {
  static FontCache cache;
  return cache;
}

TRIVERTEX vertex(LONG x, LONG y, COLORREF c) {
  TRIVERTEX v{};
  v.x = x;
  v.y = y;
  v.Red = static_cast<COLOR16>(GetRValue(c) << 8);
  v.Green = static_cast<COLOR16>(GetGValue(c) << 8);
  v.Blue = static_cast<COLOR16>(GetBValue(c) << 8);
  return v;
}

}  // namespace

int systemDpi() {
  int value = static_cast<int>(GetDpiForSystem());
  if (value == 0) {
    if (HDC screen = GetDC(nullptr)) {
      value = GetDeviceCaps(screen, LOGPIXELSX);
      ReleaseDC(nullptr, screen);
    }
  }
  return value > 0 ? value : 96;
}

int dpi() {
  if (g_dpi == 0) g_dpi = systemDpi();
  return g_dpi;
}

void setDpi(int value) {
  if (value <= 0 || value == dpi()) return;
  g_dpi = value;
  clearFonts();
}

int px(int length) { return MulDiv(length, dpi(), 96); }

RECT pxRect(int left, int top, int right, int bottom) {
  return {px(left), px(top), px(right), px(bottom)};
}

HFONT font(int points, int weight, bool italic) {
  FontCache& cache = fontCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  const int height = -px(points);
  auto& slot = cache.fonts[{height, weight, italic}];
  if (!slot)
    slot.reset(CreateFontW(height, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
  return slot.get();
}

void clearFonts() {
  FontCache& cache = fontCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.fonts.clear();
}

void fillRect(HDC dc, const RECT& r, COLORREF color) {
  // ExtTextOut with ETO_OPAQUE fills without making a brush.
  const COLORREF old = SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void fillGradient(HDC dc, const RECT& r, COLORREF top, COLORREF bottom) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  TRIVERTEX v[2] = {vertex(r.left, r.top, top), vertex(r.right, r.bottom, bottom)};
  GRADIENT_RECT g{0, 1};
  if (!GdiGradientFill(dc, v, 2, &g, 1, GRADIENT_FILL_RECT_V)) fillRect(dc, r, top);
}

void fillRoundGradient(HDC dc, const RECT& r, int radius, COLORREF top, COLORREF bottom,
                       COLORREF border) {
  UniqueGdiObject<HRGN> region(
      CreateRoundRectRgn(r.left, r.top, r.right + 1, r.bottom + 1, 2 * radius, 2 * radius));
  if (!region) return;
  const int saved = SaveDC(dc);
  ExtSelectClipRgn(dc, region.get(), RGN_AND);
  fillGradient(dc, r, top, bottom);
  RestoreDC(dc, saved);
  if (border != CLR_INVALID) {
    UniqueGdiObject<HBRUSH> brush(CreateSolidBrush(border));
    if (brush) FrameRgn(dc, region.get(), brush.get(), 1, 1);
  }
}

void drawCard(HDC dc, const RECT& r) { fillRound(dc, r, px(6), kWhite, kBorder); }

void drawText(HDC dc, const RECT& r, std::wstring_view text, HFONT f, COLORREF color, UINT format) {
  RECT box = r;
  const HGDIOBJ oldFont = SelectObject(dc, f);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = SetTextColor(dc, color);
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &box, format);
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

void drawButton(HDC dc, const RECT& r, std::wstring_view text, ButtonKind kind, ButtonState state) {
  struct Look {
    COLORREF top, bottom, border, text;
  };
  static constexpr Look kPrimary[] = {
      {RGB(42, 94, 180), RGB(26, 72, 150), RGB(21, 61, 126), kWhite},
      {RGB(58, 123, 232), RGB(30, 81, 168), RGB(20, 58, 120), kWhite},
      {RGB(184, 198, 216), RGB(184, 198, 216), RGB(184, 198, 216), RGB(152, 162, 174)},
  };
  static constexpr Look kSecondary[] = {
      {kWhite, RGB(243, 246, 250), RGB(216, 222, 230), kBodyText},
      {RGB(237, 243, 251), RGB(220, 233, 248), RGB(180, 204, 236), kBodyText},
      {RGB(236, 239, 243), RGB(236, 239, 243), RGB(236, 239, 243), RGB(152, 162, 174)},
  };
  const Look& look = (kind == ButtonKind::Primary ? kPrimary : kSecondary)[static_cast<int>(state)];
  fillRoundGradient(dc, r, px(10), look.top, look.bottom, look.border);
  drawText(dc, r, text, font(13, kBold), look.text,
           DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void drawToggleBox(HDC dc, const RECT& box, bool on) {
  if (on) {
    fillRound(dc, box, px(3), kBlue, kBlue);
    drawText(dc, box, L"\u2713", font(11, kBold), kWhite,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  } else {
    fillRound(dc, box, px(3), kWhite, RGB(160, 170, 182));
  }
}

void drawProgressBar(HDC dc, const RECT& track, int percent, COLORREF fill) {
  fillRound(dc, track, px(4), kBorder);
  const int clamped = std::clamp(percent, 0, 100);
  if (clamped == 0) return;
  RECT done = track;
  done.right = track.left + MulDiv(track.right - track.left, clamped, 100);
  fillRound(dc, done, px(4), fill);
}

void drawFlatButton(HDC dc, const RECT& r, std::wstring_view text, COLORREF fill, COLORREF textColor) {
  fillRound(dc, r, px(4), fill);
  drawText(dc, r, text, font(13, kBold), textColor,
           DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

BackBuffer::~BackBuffer() {
  // The bitmap is deleted after the DC lets go of it.
  if (memory_ && previous_) SelectObject(memory_.get(), previous_);
}

HDC BackBuffer::prepare(HDC target, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  if (memory_ && bitmap_ && width <= width_ && height <= height_) return memory_.get();
  if (!memory_) memory_.reset(CreateCompatibleDC(target));
  if (!memory_) return nullptr;
  if (previous_) SelectObject(memory_.get(), previous_);
  previous_ = nullptr;
  bitmap_.reset();
  width_ = height_ = 0;
  UniqueGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(target, width, height));
  if (!bitmap) return nullptr;
  previous_ = SelectObject(memory_.get(), bitmap.get());
  bitmap_ = std::move(bitmap);
  width_ = width;
  height_ = height;
  return memory_.get();
}

BufferedPaint::BufferedPaint(HDC target, const RECT& area, BackBuffer* kept)
    : target_(target), area_(area) {
  memory_ = (kept ? *kept : own_).prepare(target, area.right - area.left, area.bottom - area.top);
  if (memory_) SetViewportOrgEx(memory_, -area.left, -area.top, nullptr);
}

BufferedPaint::~BufferedPaint() {
  if (!memory_) return;
  SetViewportOrgEx(memory_, 0, 0, nullptr);
  BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
         memory_, 0, 0, SRCCOPY);
}

}  // namespace zorvek::ui
