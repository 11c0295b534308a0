#pragma once
// The status headline shared by the sidebar, the Overview page and the tray tip.

#include "gui/model/ServiceView.h"

namespace zorvek::gui {

enum class Headline {
  ServiceDown,
  Scanning,
  PendingThreats,
  ThreatsFound,
  Protected,
  EmptyDatabase,
  ProtectionOff,
};

// The first rule that holds, in the order of the enumeration.
Headline headlineFor(const ServiceView& view);
// Its text (UTF-8).
const char* headlineText(Headline headline);

}  // namespace zorvek::gui
