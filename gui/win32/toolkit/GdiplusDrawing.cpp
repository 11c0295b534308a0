// GDI+ start-up and the shapes drawn with it (antialiased).
#include "gui/win32/toolkit/Toolkit.h"

#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>

namespace zorvek::ui {
namespace {

Gdiplus::Color argb(COLORREF c, BYTE alpha = 255) {
  return Gdiplus::Color(alpha, GetRValue(c), GetGValue(c), GetBValue(c));
}

// A shield in the square (x, y, s): flat shoulders, straight sides, a point at the bottom.
void addShield(Gdiplus::GraphicsPath& path, float x, float y, float s) {
  const auto P = [&](float fx, float fy) { return Gdiplus::PointF(x + fx * s, y + fy * s); };
  path.StartFigure();
  path.AddBezier(P(0.5f, 0.04f), P(0.64f, 0.13f), P(0.78f, 0.16f), P(0.92f, 0.16f));
  path.AddLine(P(0.92f, 0.16f), P(0.92f, 0.46f));
  path.AddBezier(P(0.92f, 0.46f), P(0.92f, 0.72f), P(0.72f, 0.88f), P(0.5f, 0.97f));
  path.AddBezier(P(0.5f, 0.97f), P(0.28f, 0.88f), P(0.08f, 0.72f), P(0.08f, 0.46f));
  path.AddLine(P(0.08f, 0.46f), P(0.08f, 0.16f));
  path.AddBezier(P(0.08f, 0.16f), P(0.22f, 0.16f), P(0.36f, 0.13f), P(0.5f, 0.04f));
  path.CloseFigure();
}

}  // namespace

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
}

GdiplusSession::~GdiplusSession() {
  if (token_) Gdiplus::GdiplusShutdown(token_);
}

uint32_t emblemColor(int state) {
  static constexpr uint32_t kColors[] = {0xFF1E9E5A, 0xFF1E51A8, 0xFFD13B2F, 0xFF646F7D, 0xFFE88B1A};
  return state >= 0 && state < 5 ? kColors[state] : 0xFF646F7D;
}

const wchar_t* emblemLabel(int state) {
  static const wchar_t* const kLabels[] = {L"Вы защищены", L"Идёт проверка", L"Обнаружена угроза",
                                           L"Защита выключена", L"Служба недоступна"};
  return state >= 0 && state < 5 ? kLabels[state] : kLabels[3];
}

namespace {

// `points` at 96 DPI for an emblem of `side` pixels drawn 220 wide at 96 DPI.
int emblemPoints(int side, int points) { return std::max(1, MulDiv(side, points * 96, 220 * dpi())); }

void drawEmblemText(Gdiplus::Graphics& g, HDC dc, std::wstring_view text, int points, int weight,
                    const Gdiplus::RectF& box) {
  if (text.empty()) return;
  // Through the GDI font, so the family falls back like every other text of the window.
  Gdiplus::Font gdiFont(dc, font(points, weight));
  Gdiplus::Font fallback(Gdiplus::FontFamily::GenericSansSerif(), static_cast<float>(px(points)),
                         weight >= kBold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular,
                         Gdiplus::UnitPixel);
  const Gdiplus::Font& f = gdiFont.GetLastStatus() == Gdiplus::Ok ? gdiFont : fallback;
  Gdiplus::StringFormat format;
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  format.SetLineAlignment(Gdiplus::StringAlignmentNear);
  format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
  format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  Gdiplus::SolidBrush brush(Gdiplus::Color(0xEB, 255, 255, 255));
  g.DrawString(text.data(), static_cast<INT>(text.size()), &f, box, &format, &brush);
}

}  // namespace

void drawEmblem(HDC dc, const RECT& r, int state, std::wstring_view label, std::wstring_view note) {
  const int side = std::min(r.right - r.left, r.bottom - r.top);
  if (side <= 0) return;
  const auto s = static_cast<float>(side);
  const float x = static_cast<float>(r.left) + (static_cast<float>(r.right - r.left) - s) / 2;
  const float y = static_cast<float>(r.top);
  Gdiplus::Graphics g(dc);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);

  Gdiplus::GraphicsPath shadow;
  addShield(shadow, x + 0.02f * s, y + 0.035f * s, s * 0.96f);
  Gdiplus::SolidBrush shadowBrush(Gdiplus::Color(0x30, 0, 0, 0));
  g.FillPath(&shadowBrush, &shadow);

  Gdiplus::GraphicsPath shield;
  addShield(shield, x + 0.02f * s, y, s * 0.96f);
  const uint32_t c = emblemColor(state);
  const auto channel = [&](int shift) { return static_cast<BYTE>((c >> shift) & 0xFF); };
  const auto dark = [&](int shift) { return static_cast<BYTE>(channel(shift) * 72 / 100); };
  Gdiplus::LinearGradientBrush fill(Gdiplus::PointF(0, y), Gdiplus::PointF(0, y + s),
                                    Gdiplus::Color(255, channel(16), channel(8), channel(0)),
                                    Gdiplus::Color(255, dark(16), dark(8), dark(0)));
  g.FillPath(&fill, &shield);
  Gdiplus::Pen outline(Gdiplus::Color(0x3C, 255, 255, 255), std::max(1.0f, s / 110));
  g.DrawPath(&outline, &shield);

  const auto P = [&](float fx, float fy) { return Gdiplus::PointF(x + fx * s, y + fy * s); };
  Gdiplus::Pen symbol(Gdiplus::Color(255, 255, 255, 255), std::max(1.5f, s * 0.055f));
  symbol.SetStartCap(Gdiplus::LineCapRound);
  symbol.SetEndCap(Gdiplus::LineCapRound);
  symbol.SetLineJoin(Gdiplus::LineJoinRound);
  if (state == 0) {
    const Gdiplus::PointF mark[] = {P(0.36f, 0.38f), P(0.46f, 0.48f), P(0.65f, 0.28f)};
    g.DrawLines(&symbol, mark, 3);
  } else if (state == 1) {
    const Gdiplus::RectF ring(x + 0.38f * s, y + 0.24f * s, 0.24f * s, 0.24f * s);
    g.DrawArc(&symbol, ring, 200.0f, 120.0f);
    g.DrawArc(&symbol, ring, 20.0f, 120.0f);
  } else if (state == 2) {
    g.DrawLine(&symbol, P(0.5f, 0.24f), P(0.5f, 0.40f));
    Gdiplus::SolidBrush dot(Gdiplus::Color(255, 255, 255, 255));
    const float d = std::max(2.0f, s * 0.07f);
    g.FillEllipse(&dot, x + 0.5f * s - d / 2, y + 0.47f * s - d / 2, d, d);
  }

  // The label under the symbol: too small to read on a small emblem, so only from 96 pixels.
  if (side < px(96)) return;
  const Gdiplus::RectF labelBox(x + 0.14f * s, y + 0.56f * s, 0.72f * s, 0.12f * s);
  drawEmblemText(g, dc, label.empty() ? std::wstring_view(emblemLabel(state)) : label,
                 emblemPoints(side, 15), kBold, labelBox);
  const Gdiplus::RectF noteBox(x + 0.18f * s, y + 0.68f * s, 0.64f * s, 0.10f * s);
  drawEmblemText(g, dc, note, emblemPoints(side, 10), kNormal, noteBox);
}

UniqueIcon drawShieldIcon(int size, COLORREF fill) {
  if (size <= 0) return {};
  Gdiplus::Bitmap bitmap(size, size, PixelFormat32bppARGB);
  if (bitmap.GetLastStatus() != Gdiplus::Ok) return {};
  {
    Gdiplus::Graphics g(&bitmap);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.Clear(Gdiplus::Color(0, 0, 0, 0));
    const auto s = static_cast<float>(size);
    Gdiplus::GraphicsPath shield;
    addShield(shield, 0.5f, 0.5f, s - 1.0f);
    Gdiplus::SolidBrush brush(argb(fill));
    g.FillPath(&brush, &shield);
    Gdiplus::Pen outline(argb(fill, 255), 1.0f);
    g.DrawPath(&outline, &shield);
    Gdiplus::Pen check(Gdiplus::Color(255, 255, 255, 255), s / 8.0f);
    check.SetLineJoin(Gdiplus::LineJoinRound);
    check.SetStartCap(Gdiplus::LineCapRound);
    check.SetEndCap(Gdiplus::LineCapRound);
    const Gdiplus::PointF mark[] = {{0.30f * s, 0.52f * s}, {0.45f * s, 0.67f * s},
                                    {0.71f * s, 0.37f * s}};
    g.DrawLines(&check, mark, 3);
  }
  HICON icon = nullptr;
  if (bitmap.GetHICON(&icon) != Gdiplus::Ok) return {};
  return UniqueIcon(icon);
}

}  // namespace zorvek::ui
