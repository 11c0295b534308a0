#pragma once
// The five pages to the right of the sidebar, drawn from the window's picture of the service on
// every paint. Each registers its clickable elements with their identifiers; the window turns a
// click into the command.

#include <cstddef>
#include <vector>

#include "common/platform/win32/Win.h"
#include "gui/model/Commands.h"
#include "gui/model/ServiceView.h"

namespace zorvek::gui {

struct Hit {
  RECT rect;
  int command;
};

// Clicks on the quarantine list's scroll track above and below its thumb.
inline constexpr int kQuarantinePageUp = 3001;
inline constexpr int kQuarantinePageDown = 3002;

// What a page needs beyond the service's picture, and what it reports back.
struct PageContext {
  Page page = Page::Overview;
  int hover = -1;                // the command under the mouse
  size_t quarantineFirst = 0;    // the first quarantine entry shown; clamped by the paint
  size_t quarantineVisible = 0;  // set by the paint: how many rows fit
};

// Fills `area` and draws the page; `hits` receives its buttons and rows.
void paintPage(HDC dc, const RECT& area, const ServiceView& view, PageContext& context,
               std::vector<Hit>& hits);

}  // namespace zorvek::gui
