#include "gui/model/Headline.h"

namespace zorvek::gui {

Headline headlineFor(const ServiceView& view) {
  if (!view.connected) return Headline::ServiceDown;
  if (view.status.scanRunning) return Headline::Scanning;
  if (!view.pendingThreats.empty()) return Headline::PendingThreats;
  if (view.summary.threats != 0) return Headline::ThreatsFound;
  // Until the settings arrive, the service's own flag from hello stands in for the copy's.
  const bool on = view.settingsLoaded ? view.settings.protectionEnabled : view.status.protectionEnabled;
  if (!on) return Headline::ProtectionOff;
  return view.status.signatureCount != 0 ? Headline::Protected : Headline::EmptyDatabase;
}

const char* headlineText(Headline headline) {
  switch (headline) {
    case Headline::ServiceDown: return "Служба не отвечает. Запустите ZorvekService в services.msc";
    case Headline::Scanning: return "Идёт проверка";
    case Headline::PendingThreats: return "Есть угрозы, требующие решения";
    case Headline::ThreatsFound: return "Найдены угрозы";
    case Headline::Protected: return "Система защищена";
    case Headline::EmptyDatabase: return "База сигнатур пуста — работают только эвристики";
    case Headline::ProtectionOff: return "Защита выключена";
  }
  return "";
}

}  // namespace zorvek::gui
