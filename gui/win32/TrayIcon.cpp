#include "gui/win32/TrayIcon.h"

#include <shellapi.h>

#include <algorithm>

#include "gui/model/Formats.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {
namespace {

NOTIFYICONDATAW baseData(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = TrayIcon::kId;
  return data;
}

template <size_t N>
void copyText(wchar_t (&to)[N], const std::wstring& text) {
  const size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, to);
  to[n] = L'\0';
}

}  // namespace

bool TrayIcon::registerIcon() {
  NOTIFYICONDATAW data = baseData(owner_);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kCallbackMessage;
  // The shell copies the icon: ours goes as soon as the call returns.
  UniqueIcon icon = ui::drawShieldIcon(GetSystemMetrics(SM_CXSMICON), green_ ? ui::kGreen : ui::kRed);
  data.hIcon = icon ? icon.get() : LoadIconW(nullptr, IDI_APPLICATION);
  copyText(data.szTip, tip_);
  if (added_) return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  if (!Shell_NotifyIconW(NIM_ADD, &data)) return false;
  added_ = true;
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
  return true;
}

bool TrayIcon::show(bool green) {
  green_ = green;
  return registerIcon();
}

bool TrayIcon::readd() {
  added_ = false;
  return registerIcon();
}

void TrayIcon::setTip(const std::string& text) {
  tip_ = wideCut(text, 127);
  if (!added_) return;
  NOTIFYICONDATAW data = baseData(owner_);
  data.uFlags = NIF_TIP;
  copyText(data.szTip, tip_);
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayIcon::balloon(const std::string& title, const std::string& text) {
  NOTIFYICONDATAW data = baseData(owner_);
  data.uFlags = NIF_INFO;
  data.dwInfoFlags = NIIF_WARNING;
  data.uTimeout = 8000;
  copyText(data.szInfoTitle, wideCut(title, 63));
  copyText(data.szInfo, wideCut(text, 255));
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TrayIcon::remove() {
  if (!added_) return;
  NOTIFYICONDATAW data = baseData(owner_);
  Shell_NotifyIconW(NIM_DELETE, &data);
  added_ = false;
}

}  // namespace zorvek::gui
