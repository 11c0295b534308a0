// GDI+ start-up and the shapes drawn with it (antialiased).
#include "gui/win32/toolkit/Toolkit.h"

#include <objidl.h>

#include <gdiplus.h>

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
