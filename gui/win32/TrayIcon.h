#pragma once
// The program's icon in the notification area: a shield drawn at run time in green or red, the
// status headline as its tip, and balloons for detections while the window is hidden.

#include <string>
#include <string_view>

#include "common/platform/win32/Win.h"

namespace zorvek::gui {

class TrayIcon {
 public:
  static constexpr UINT kCallbackMessage = WM_APP + 1;
  static constexpr UINT kId = 1;

  explicit TrayIcon(HWND owner = nullptr) : owner_(owner) {}
  void setOwner(HWND owner) { owner_ = owner; }

  // Adds the icon (then asks for the version-4 behaviour) or, once added, redraws it.
  bool show(bool green);
  // After the shell restarted ("TaskbarCreated"): adds the icon again in its last colour.
  bool readd();
  // The tip, cut to 127 characters; sent with the icon's next registration when not added.
  void setTip(const std::string& text);
  // A warning balloon: title up to 63 characters, text up to 255, shown for 8 s.
  void balloon(const std::string& title, const std::string& text);
  void remove();
  bool green() const { return green_; }

 private:
  bool registerIcon();

  HWND owner_;
  bool added_ = false;
  bool green_ = true;
  std::wstring tip_;
};

}  // namespace zorvek::gui
