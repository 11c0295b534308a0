#include "gui/win32/Pages.h"

#include <algorithm>
#include <string>

#include "common/Text.h"
#include "gui/model/Formats.h"
#include "gui/model/Headline.h"
#include "gui/model/PageCommands.h"
#include "gui/model/PageText.h"
#include "gui/win32/Shell.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {
namespace {

using namespace ui;

constexpr UINT kLine = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
constexpr UINT kCentredLine = DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
constexpr UINT kMiddle = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;

const wchar_t* const kTitles[kPageCount] = {L"Обзор", L"Проверка компьютера", L"Карантин",
                                            L"Настройки", L"Брандмауэр Windows — управление ZORVEK"};

COLORREF toneColor(Tone tone) {
  switch (tone) {
    case Tone::Body: return kBodyText;
    case Tone::Warning: return kWarningText;
    case Tone::Good: return kGreen;
    case Tone::Secondary: break;
  }
  return kSecondaryText;
}

// Drawing on one page: lengths at 96 DPI relative to the page's top left corner.
class Canvas {
 public:
  Canvas(HDC dc, const RECT& area, PageContext& context, std::vector<Hit>& hits)
      : dc_(dc), area_(area), context_(context), hits_(hits) {}

  HDC dc() const { return dc_; }
  // Page width at 96 DPI, so layouts can centre and right-align in the same units as px().
  int width() const { return MulDiv(area_.right - area_.left, 96, dpi()); }
  int height() const { return MulDiv(area_.bottom - area_.top, 96, dpi()); }
  RECT rect(int left, int top, int right, int bottom) const {
    return {area_.left + px(left), area_.top + px(top), area_.left + px(right), area_.top + px(bottom)};
  }
  void text(int left, int top, int right, int bottom, const std::wstring& s, HFONT f, COLORREF c,
            UINT format = kLine) const {
    drawText(dc_, rect(left, top, right, bottom), s, f, c, format);
  }
  void text(int left, int top, int right, int bottom, const std::string& s, HFONT f, COLORREF c,
            UINT format = kLine) const {
    text(left, top, right, bottom, toWide(s), f, c, format);
  }
  void button(const RECT& r, const std::wstring& label, int command, ButtonKind kind, bool enabled) {
    const ButtonState state = !enabled                       ? ButtonState::Disabled
                              : context_.hover == command ? ButtonState::Hovered
                                                          : ButtonState::Normal;
    drawButton(dc_, r, label, kind, state);
    if (enabled) hits_.push_back({r, command});
  }
  void hit(const RECT& r, int command) { hits_.push_back({r, command}); }
  // A toggle row: the box, the label beside it (bold when on), clickable when `command` >= 0.
  void toggle(int left, int top, int right, const std::string& label, bool on, int command,
              bool enabled = true) {
    drawToggleBox(dc_, rect(left, top, left + 18, top + 18), on);
    text(left + 28, top - 2, right, top + 22, label, font(13, on ? kBold : kNormal),
         enabled ? kBodyText : kSecondaryText, kMiddle);
    if (enabled && command >= 0) hit(rect(left, top - 4, right, top + 22), command);
  }

 private:
  HDC dc_;
  RECT area_;
  PageContext& context_;
  std::vector<Hit>& hits_;
};

void paintOverview(Canvas& c, const ServiceView& view) {
  const int w = c.width();
  const auto state = overviewEmblem(view);
  const int emblemLeft = (w - 220) / 2;
  drawEmblem(c.dc(), c.rect(emblemLeft, 40, emblemLeft + 220, 260), static_cast<int>(state), {},
             toWide(checkedObjectsLine(view.summary)));
  c.text(20, 272, w - 20, 308, std::string(headlineText(headlineFor(view))), font(20, kBold),
         state == EmblemState::Threat ? kWarningText : kBodyText, kCentredLine);
  c.text(20, 312, w - 20, 332, signatureLine(view), font(12), kSecondaryText, kCentredLine);

  const bool running = view.status.scanRunning;
  const int left = (w - (170 * 2 + 12)) / 2;
  c.button(c.rect(left, 346, left + 170, 386), L"Быстрая проверка", kCmdQuickScan, ButtonKind::Primary,
           !running);
  c.button(c.rect(left + 182, 346, left + 352, 386), L"Полная проверка", kCmdFullScan,
           ButtonKind::Secondary, !running);
  int cardTop = 404;
  if (running) {
    const int stop = (w - 170) / 2;
    c.button(c.rect(stop, 398, stop + 170, 438), L"Остановить", kCmdCancelScan, ButtonKind::Secondary, true);
    cardTop = 454;
  }
  const int cardLeft = (w - 520) / 2;
  drawCard(c.dc(), c.rect(cardLeft, cardTop, cardLeft + 520, cardTop + 96));
  c.text(cardLeft + 20, cardTop + 18, cardLeft + 500, cardTop + 42, std::wstring(L"Последняя проверка"),
         font(13, kBold), kBodyText);
  c.text(cardLeft + 20, cardTop + 52, cardLeft + 500, cardTop + 74, lastScanLine(view.summary), font(12),
         kSecondaryText);
}

void paintScan(Canvas& c, const ServiceView& view) {
  const int w = c.width();
  const bool running = view.status.scanRunning;
  c.text(40, 80, w - 40, 102, scanSubtitle(view), font(13), kSecondaryText);
  const RECT track = c.rect(40, 120, w - 40, 138);
  if (running) {
    drawProgressBar(c.dc(), track, scanPercent(view.progress), kBlue);
  } else {
    drawProgressBar(c.dc(), track, 100, kGreen);
    drawText(c.dc(), track, L"100%", font(11, kBold), kSecondaryText,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  c.text(40, 150, w - 40, 172, scanCountsLine(view.progress), font(12), kBodyText);
  if (running && !view.progress.currentFile.empty())
    c.text(40, 176, w - 40, 196, view.progress.currentFile, font(11), kSecondaryText,
           DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
  c.button(c.rect(40, 210, 210, 250), L"Быстрая проверка", kCmdQuickScan, ButtonKind::Secondary, !running);
  c.button(c.rect(222, 210, 392, 250), L"Полная проверка", kCmdFullScan, ButtonKind::Secondary, !running);
  c.button(c.rect(404, 210, 574, 250), L"Остановить", kCmdCancelScan, ButtonKind::Primary, running);
  const Line result = scanResultLine(view);
  if (!result.text.empty())
    c.text(40, 270, w - 40, 300, result.text, font(14, kBold),
           result.tone == Tone::Warning ? kRed : kGreen);
}

void paintQuarantine(Canvas& c, const ServiceView& view, PageContext& context) {
  const int w = c.width(), h = c.height();
  const auto& entries = view.quarantine;
  c.text(40, 80, w - 40, 100, quarantineCountLine(entries.size()), font(12), kSecondaryText);
  context.quarantineVisible = 0;
  if (entries.empty()) {
    c.text(40, 116, w - 40, 140, std::wstring(L"Карантин пуст. Все обнаруженные объекты будут появляться здесь."),
           font(12), kSecondaryText);
    return;
  }
  constexpr int kTop = 112, kHeader = 32, kRow = 48, kBar = 10;
  const int rowsTop = kTop + kHeader;
  const size_t visible = static_cast<size_t>(std::max(1, (h - 20 - rowsTop) / kRow));
  context.quarantineVisible = visible;
  context.quarantineFirst = scrollRows(context.quarantineFirst, 0, entries.size(), visible);
  const bool scrolls = entries.size() > visible;
  const int left = 40, right = w - 40 - (scrolls ? kBar + 4 : 0);

  fillRect(c.dc(), c.rect(left, kTop, right, rowsTop), kTableHeader);
  const HFONT header = font(12, kBold);
  c.text(left + 12, kTop, left + 320, rowsTop, std::wstring(L"Файл"), header, kWhite, kMiddle);
  c.text(left + 330, kTop, left + 470, rowsTop, std::wstring(L"Угроза"), header, kWhite, kMiddle);
  c.text(right - 230, kTop, right - 12, rowsTop, std::wstring(L"Действия"), header, kWhite,
         DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

  const size_t shown = std::min(visible, entries.size() - context.quarantineFirst);
  for (size_t row = 0; row < shown; ++row) {
    const auto& e = entries[context.quarantineFirst + row];
    const int top = rowsTop + static_cast<int>(row) * kRow;
    if (row % 2 == 1) fillRect(c.dc(), c.rect(left, top, right, top + kRow), kWhite);
    c.text(left + 12, top + 5, left + 320, top + 24, e.name.empty() ? e.originPath : e.name,
           font(12, kBold), kBodyText);
    c.text(left + 12, top + 25, left + 320, top + 43, e.originPath, font(11), kSecondaryText,
           DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
    c.text(left + 330, top, std::min(left + 470, right - 230), top + kRow, e.threat, font(12),
           e.severity < 3 ? kOrange : kRed, kMiddle);
    const int id = static_cast<int>(row);
    c.button(c.rect(right - 12 - 200, top + 10, right - 12 - 104, top + 38), L"Восстановить",
             kRestoreRowBase + id, ButtonKind::Secondary, true);
    c.button(c.rect(right - 12 - 96, top + 10, right - 12, top + 38), L"Удалить", kDeleteRowBase + id,
             ButtonKind::Primary, true);
  }

  if (!scrolls) return;
  // A thin track with a thumb sized by the share of the list on screen.
  const int trackTop = rowsTop, trackBottom = rowsTop + static_cast<int>(visible) * kRow;
  const RECT track = c.rect(w - 40 - kBar, trackTop, w - 40, trackBottom);
  fillRound(c.dc(), track, px(4), kBorder);
  const int span = track.bottom - track.top;
  const auto total = static_cast<double>(entries.size());
  const int thumbHeight = std::max(px(24), static_cast<int>(span * static_cast<double>(visible) / total));
  const int thumbTop =
      track.top + static_cast<int>((span - thumbHeight) * static_cast<double>(context.quarantineFirst) /
                                   static_cast<double>(entries.size() - visible));
  const RECT thumb{track.left, thumbTop, track.right, thumbTop + thumbHeight};
  fillRound(c.dc(), thumb, px(4), RGB(160, 170, 182));
  c.hit({track.left, track.top, track.right, thumb.top}, kQuarantinePageUp);
  c.hit({track.left, thumb.bottom, track.right, track.bottom}, kQuarantinePageDown);
}

// A permission row of the Settings page: title, sub-line, state word and, when missing, "Выдать".
void permissionRow(Canvas& c, int left, int right, int top, const wchar_t* title, const wchar_t* sub,
                   bool granted, int command) {
  c.text(left, top, right, top + 18, std::wstring(title), font(12, kBold), kBodyText);
  c.text(left, top + 18, right, top + 34, std::wstring(sub), font(11), kSecondaryText);
  c.text(left, top + 40, right - 120, top + 64, std::wstring(granted ? L"разрешено" : L"не разрешено"),
         font(12, kBold), granted ? kGreen : kRed, kMiddle);
  if (!granted)
    c.button(c.rect(right - 110, top + 38, right, top + 66), L"Выдать", command, ButtonKind::Primary, true);
}

void paintSettings(Canvas& c, const ServiceView& view) {
  const int w = c.width();
  size_t count = 0;
  const SettingRow* rows = settingRows(&count);
  for (size_t i = 0; i < count; ++i)
    c.toggle(40, 88 + static_cast<int>(i) * 36, 440, rows[i].label, view.settings.*rows[i].field,
             rows[i].id);
  c.text(40, 344, 250, 368, std::wstring(L"Час запуска по расписанию"), font(13), kBodyText, kMiddle);
  const RECT hour = c.rect(260, 340, 380, 370);
  fillRound(c.dc(), hour, px(4), kWhite, kBorder);
  drawText(c.dc(), hour, toWide(formatHour(view.settings.scheduledHour)), font(13, kBold), kBodyText,
           DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  c.hit(hour, kScheduledHourId);
  c.button(c.rect(40, 396, 210, 436), L"Сохранить", kCmdSaveSettings, ButtonKind::Primary, true);

  const int left = 470, right = std::max(left + 200, w - 30);
  c.text(left, 84, right, 106, std::wstring(L"Разрешения Windows"), font(13, kBold), kSecondaryText);
  permissionRow(c, left, right, 112, L"Push-уведомления", L"Balloon в трее, когда окно свёрнуто",
                notificationsGranted(), kCmdNotificationSettings);
  permissionRow(c, left, right, 186, L"Автозапуск при входе в систему",
                L"Приложение стартует в трей и ловит угрозы", autostartGranted(), kCmdAutostart);

  c.text(left, 264, right, 284, databaseLine(view), font(12), kBodyText);
  const bool up = view.connected;
  c.button(c.rect(left, 290, right, 322), L"Обновить базу", kCmdUpdateSignatures, ButtonKind::Secondary, up);
  c.button(c.rect(left, 330, right, 362), L"Обновить из интернета", kCmdLiveUpdate, ButtonKind::Secondary,
           up && !view.status.liveUpdateRunning);
  c.button(c.rect(left, 370, right, 402), toWide(programUpdateLabel(view)), kCmdProgramUpdate,
           ButtonKind::Secondary, up && !view.status.selfUpdateRunning);
  const Line live = liveUpdateLine(view);
  c.text(left, 412, right, 448, live.text, font(11), toneColor(live.tone),
         DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
  const Line self = selfUpdateLine(view);
  c.text(left, 452, right, 488, self.text, font(11), toneColor(self.tone),
         DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void paintFirewall(Canvas& c, const ServiceView& view) {
  const int w = c.width(), h = c.height();
  const bool up = view.connected;
  c.toggle(40, 88, w - 40, "Включить брандмауэр", view.firewall.allProfilesOn(), kCmdFirewallToggle, up);
  c.toggle(40, 124, w - 40, "Блокировать все входящие подключения",
           view.firewall.blockInbound.value_or(false), kCmdFirewallBlockInbound, up);
  const Line status = firewallStatusLine(view);
  c.text(40, 158, w - 40, 178, status.text, font(11), toneColor(status.tone));
  c.text(40, 188, w - 40, 210, firewallRulesTitle(view), font(13, kBold), kBodyText);

  const int buttonsTop = h - 96;
  constexpr int kTableTop = 214, kHeader = 28, kRow = 26;
  const int left = 40, right = w - 40;
  if (view.firewall.rules.empty()) {
    c.text(40, kTableTop + 4, w - 40, kTableTop + 26, std::wstring(L"Правил для программ пока нет."),
           font(12), kSecondaryText);
  } else {
    fillRect(c.dc(), c.rect(left, kTableTop, right, kTableTop + kHeader), kTableHeader);
    // Column edges: вкл, действие, напр, имя, программа.
    const int columns[] = {left + 10, left + 60, left + 150, left + 210, left + 400, right - 8};
    const wchar_t* const titles[] = {L"вкл", L"действие", L"напр", L"имя", L"программа"};
    for (int i = 0; i < 5; ++i)
      c.text(columns[i], kTableTop, columns[i + 1] - 6, kTableTop + kHeader, std::wstring(titles[i]),
             font(11, kBold), kWhite, kMiddle);
    const int fit = std::max(0, (buttonsTop - 12 - kTableTop - kHeader) / kRow);
    const size_t shown = std::min(view.firewall.rules.size(), static_cast<size_t>(fit));
    for (size_t i = 0; i < shown; ++i) {
      const auto& rule = view.firewall.rules[i];
      const int top = kTableTop + kHeader + static_cast<int>(i) * kRow;
      if (i % 2 == 1) fillRect(c.dc(), c.rect(left, top, right, top + kRow), kWhite);
      const std::string cells[] = {rule.enabled ? "вкл" : "выкл", rule.action, rule.direction, rule.name,
                                   rule.program};
      for (int k = 0; k < 5; ++k)
        c.text(columns[k], top, columns[k + 1] - 6, top + kRow, cells[k], font(11), kBodyText,
               k == 4 ? (DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS) : kMiddle);
    }
  }
  c.button(c.rect(40, buttonsTop, 240, buttonsTop + 36), L"Разрешить программу...", kCmdFirewallAllowProgram,
           ButtonKind::Secondary, up);
  c.button(c.rect(252, buttonsTop, 452, buttonsTop + 36), L"Заблокировать программу...",
           kCmdFirewallBlockProgram, ButtonKind::Secondary, up);
  c.button(c.rect(464, buttonsTop, 664, buttonsTop + 36), L"Удалить правила ZORVEK", kCmdFirewallRemoveRules,
           ButtonKind::Primary, up);
  c.text(40, buttonsTop + 46, w - 40, buttonsTop + 66,
         std::wstring(L"Правила применяются к брандмауэру Windows; без прав администратора изменения недоступны."),
         font(11), kSecondaryText);
}

}  // namespace

void paintPage(HDC dc, const RECT& area, const ServiceView& view, PageContext& context,
               std::vector<Hit>& hits) {
  hits.clear();
  fillRect(dc, area, kBackground);
  Canvas c(dc, area, context, hits);
  c.text(40, 40, c.width() - 40, 72, std::wstring(kTitles[static_cast<int>(context.page)]), font(18, kBold),
         kBodyText);
  switch (context.page) {
    case Page::Overview: paintOverview(c, view); break;
    case Page::Scan: paintScan(c, view); break;
    case Page::Quarantine: paintQuarantine(c, view, context); break;
    case Page::Settings: paintSettings(c, view); break;
    case Page::Firewall: paintFirewall(c, view); break;
  }
}

}  // namespace zorvek::gui
