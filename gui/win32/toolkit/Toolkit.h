#pragma once
// The drawing toolkit of the desktop program and the installer's wizard: the design's colours,
// DPI scaling, one font cache, and the shapes every page is made of. Lengths are given at 96 DPI
// and scaled with px(). Everything runs on the window thread.

#include <cstdint>
#include <string_view>

#include "common/platform/win32/Handle.h"

namespace zorvek::ui {

// --- Colours ----------------------------------------------------------------------------------
inline constexpr COLORREF kBackground = RGB(244, 246, 249);
inline constexpr COLORREF kSidebarTop = RGB(12, 27, 51);
inline constexpr COLORREF kSidebarBottom = RGB(29, 58, 99);
inline constexpr COLORREF kBrandSubtitle = RGB(154, 176, 204);
inline constexpr COLORREF kNavSelectedTop = RGB(58, 123, 232);
inline constexpr COLORREF kNavSelectedBottom = RGB(30, 81, 168);
inline constexpr COLORREF kNavSelectedBar = RGB(127, 200, 255);
inline constexpr COLORREF kNavHoverTop = RGB(42, 76, 126);
inline constexpr COLORREF kNavHoverBottom = RGB(31, 60, 99);
inline constexpr COLORREF kNavText = RGB(232, 238, 247);
inline constexpr COLORREF kWhite = RGB(255, 255, 255);
inline constexpr COLORREF kBorder = RGB(216, 222, 230);
inline constexpr COLORREF kBodyText = RGB(26, 31, 39);
inline constexpr COLORREF kSecondaryText = RGB(100, 111, 125);
inline constexpr COLORREF kWarningText = RGB(209, 59, 47);
inline constexpr COLORREF kGreen = RGB(30, 158, 90);
inline constexpr COLORREF kRed = RGB(209, 59, 47);
inline constexpr COLORREF kBlue = RGB(30, 81, 168);
inline constexpr COLORREF kOrange = RGB(232, 139, 26);
inline constexpr COLORREF kTableHeader = RGB(22, 43, 77);

// --- DPI --------------------------------------------------------------------------------------
// GetDpiForSystem; when that gives 0, the screen's LOGPIXELSX; when that is not positive, 96.
int systemDpi();
int dpi();
// Adopts a new DPI; the font cache is emptied when the value differs.
void setDpi(int value);
// A length at 96 DPI in pixels at the current DPI.
int px(int length);
RECT pxRect(int left, int top, int right, int bottom);

// --- Fonts ------------------------------------------------------------------------------------
inline constexpr int kNormal = 400;
inline constexpr int kBold = 700;
// "Segoe UI" at `points` (height -px(points)), made once per (height, weight, italic) and kept
// until the DPI changes or clearFonts(). Owned by the cache: never delete it.
HFONT font(int points, int weight = kNormal, bool italic = false);
void clearFonts();

// --- Shapes -----------------------------------------------------------------------------------
void fillRect(HDC dc, const RECT& r, COLORREF color);
// A vertical gradient over the whole rectangle.
void fillGradient(HDC dc, const RECT& r, COLORREF top, COLORREF bottom);
// A rounded rectangle (corner radius in pixels) filled with a vertical gradient and, unless
// `border` is CLR_INVALID, outlined one pixel wide.
void fillRoundGradient(HDC dc, const RECT& r, int radius, COLORREF top, COLORREF bottom,
                       COLORREF border = CLR_INVALID);
inline void fillRound(HDC dc, const RECT& r, int radius, COLORREF fill, COLORREF border = CLR_INVALID) {
  fillRoundGradient(dc, r, radius, fill, fill, border);
}
// A white card with the border colour, radius 6.
void drawCard(HDC dc, const RECT& r);

// Text in the rectangle with DrawTextW's format flags, transparent background.
void drawText(HDC dc, const RECT& r, std::wstring_view text, HFONT font, COLORREF color,
              UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);

enum class ButtonKind { Primary, Secondary };
enum class ButtonState { Normal, Hovered, Disabled };
// Radius 10, a vertical gradient, a one-pixel border and centred 13 point bold text.
void drawButton(HDC dc, const RECT& r, std::wstring_view text, ButtonKind kind, ButtonState state);

// An 18 x 18 toggle box (radius 3): blue with a white check when on, white with a grey border
// when off.
void drawToggleBox(HDC dc, const RECT& box, bool on);
// A progress bar of radius 4 on the border-coloured track: `percent` (0-100) of it in `fill`.
void drawProgressBar(HDC dc, const RECT& track, int percent, COLORREF fill);
// A flat rounded button of the threat dialog: one fill colour, centred 13 point bold text.
void drawFlatButton(HDC dc, const RECT& r, std::wstring_view text, COLORREF fill, COLORREF textColor);

// --- Painting ---------------------------------------------------------------------------------
// An off-screen bitmap kept from one paint of a window to the next, so that a paint neither
// allocates nor clears a bitmap of the whole window.
class BackBuffer {
 public:
  BackBuffer() = default;
  ~BackBuffer();
  BackBuffer(const BackBuffer&) = delete;
  BackBuffer& operator=(const BackBuffer&) = delete;
  // A memory DC with a bitmap of at least width x height, compatible with `target` when it was
  // made; nullptr when it cannot be made.
  HDC prepare(HDC target, int width, int height);

 private:
  UniqueMemoryDc memory_;
  UniqueGdiObject<HBITMAP> bitmap_;
  HGDIOBJ previous_ = nullptr;
  int width_ = 0, height_ = 0;
};

// Draws into an off-screen bitmap of the area (`kept`, or one of its own) and copies it to the
// target in one block on destruction; when the bitmap cannot be made, dc() is the target itself.
class BufferedPaint {
 public:
  BufferedPaint(HDC target, const RECT& area, BackBuffer* kept = nullptr);
  ~BufferedPaint();
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  HDC dc() const { return memory_ ? memory_ : target_; }

 private:
  HDC target_;
  RECT area_;
  BackBuffer own_;
  HDC memory_ = nullptr;
};

// --- GDI+ -------------------------------------------------------------------------------------
// GDI+ for the program's lifetime: started on construction, shut down on destruction.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool ok() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// The status emblem of the Overview page, the threat dialog and the installer's wizard: a
// shaded shield in the state's colour with a white symbol (check mark, two arcs, exclamation
// mark) and, below it, the label (the state's own when empty) and an optional second line.
// States: 0 protected, 1 scanning, 2 threat, 3 off, 4 service unavailable; others draw as 3.
uint32_t emblemColor(int state);  // ARGB
const wchar_t* emblemLabel(int state);
void drawEmblem(HDC dc, const RECT& r, int state, std::wstring_view label = {},
                std::wstring_view note = {});

// The tray icon: an antialiased shield of `size` pixels filled with `fill` and a white check
// mark. Empty when GDI+ cannot draw it.
UniqueIcon drawShieldIcon(int size, COLORREF fill);

}  // namespace zorvek::ui
