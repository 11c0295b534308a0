#include "setup/WizardFlow.h"

#include <algorithm>

#include "setup/InstallLayout.h"

namespace setup {

WizardMode wizardMode(const SetupOptions& options) {
  if (options.uninstall) return WizardMode::Uninstall;
  return options.repair ? WizardMode::Repair : WizardMode::Install;
}

WizardStep onCommand(const WizardState& state, int id) {
  const int page = state.page;
  switch (id) {
    case kNextButton:
      if (state.working) return {};
      if (page == kWelcomePage) return {WizardAction::ShowPage, kOptionsPage};
      if (page == kOptionsPage) return {WizardAction::StartWork};
      if (page == kFinishPage) return {WizardAction::Finish};
      return {};
    case kBackButton:
      if (page == kOptionsPage) return {WizardAction::ShowPage, kWelcomePage};
      return {};
    case kCancelButton:
      // The work cannot be interrupted halfway: stopping it would leave a half-installed program.
      if (page == kWorkPage) return {WizardAction::DisableCancel};
      if (page == kFinishPage) return {};
      return {WizardAction::Close};
    case kBrowseButton:
      return page == kOptionsPage ? WizardStep{WizardAction::Browse} : WizardStep{};
    default:
      return {};
  }
}

WizardStep onClose(const WizardState& state) {
  return state.working ? WizardStep{WizardAction::DisableCancel} : WizardStep{WizardAction::Close};
}

void beginWork(WizardState& state) {
  state.page = kWorkPage;
  state.working = true;
}

void finishWork(WizardState& state, int result) {
  state.working = false;
  state.success = result == 0;
  state.resultText = resultText(wizardMode(state.options), result);
  state.page = kFinishPage;
}

std::wstring nextButtonText(WizardMode mode, int page) {
  if (page == kWelcomePage) {
    switch (mode) {
      case WizardMode::Uninstall: return L"Удалить";
      case WizardMode::Repair: return L"Восстановить";
      case WizardMode::Install: return L"Установить";
    }
  }
  return page == kFinishPage ? L"Закрыть" : L"Далее";
}

bool backEnabled(int page) { return page == kOptionsPage || page == kWorkPage; }
bool cancelEnabled(int page) { return page != kFinishPage; }

bool launchOffered(const WizardState& state) {
  return state.page == kFinishPage && state.success && !state.options.uninstall;
}

bool controlShown(const WizardState& state, int id) {
  switch (id) {
    case kFolderLabel:
    case kFolderEdit:
    case kBrowseButton:
    case kAutostartBox:
    case kDriverBox: return state.page == kOptionsPage;
    case kProgressBar:
    case kLogList: return state.page == kWorkPage;
    case kLaunchBox: return launchOffered(state);
    default: return true;
  }
}

namespace {

const wchar_t* actionName(WizardMode mode) {
  switch (mode) {
    case WizardMode::Uninstall: return L"Удаление";
    case WizardMode::Repair: return L"Восстановление";
    case WizardMode::Install: break;
  }
  return L"Установка";
}

}  // namespace

std::wstring pageTitle(const WizardState& state) {
  const WizardMode mode = wizardMode(state.options);
  switch (state.page) {
    case kWelcomePage: return std::wstring(actionName(mode)) + L" " + kProductName;
    case kOptionsPage: return L"Параметры установки";
    case kWorkPage: return actionName(mode);
    default: return state.success ? L"Готово" : L"Не удалось завершить";
  }
}

std::wstring pageText(const WizardState& state) {
  if (state.page == kFinishPage) return state.resultText;
  if (state.page != kWelcomePage) return {};
  switch (wizardMode(state.options)) {
    case WizardMode::Uninstall:
      return L"Будут удалены служба защиты, программа и ярлыки. Настройки и карантин останутся на "
             L"месте, чтобы после повторной установки ничего не потерять.";
    case WizardMode::Repair:
      return L"Файлы программы и служба защиты будут установлены заново. Ваши настройки, карантин и "
             L"история проверок сохранятся. Используйте восстановление, если служба перестала "
             L"отвечать или программа запускается с ошибкой.";
    case WizardMode::Install:
      return L"Устанавливаются служба защиты в реальном времени, проверка по расписанию и "
             L"приложение с интерфейсом. Служба запускается автоматически при старте Windows.";
  }
  return {};
}

std::wstring resultText(WizardMode mode, int result) {
  if (mode == WizardMode::Uninstall)
    return result == 0 ? L"Программа и служба удалены."
                       : L"Удаление завершилось с ошибками, смотрите журнал.";
  if (result != 0) return L"Установка завершилась с ошибками, смотрите журнал.";
  return mode == WizardMode::Repair
             ? L"Программа восстановлена. Служба защиты запущена и отвечает."
             : L"Программа установлена. Служба защиты запущена, отвечает и будет стартовать "
               L"автоматически.";
}

BandEmblem bandEmblem(const WizardState& state) {
  if (state.page == kFinishPage && state.success)
    // After a removal "Установлено" would tell the user the opposite of what happened.
    return {0, state.options.uninstall ? L"Удалено" : L"Установлено"};
  return {4, L"Установка"};
}

Rgb bandColor(int i) {
  i = std::clamp(i, 0, kBandSteps - 1);
  return {static_cast<uint8_t>(22 + 32 * i / 256), static_cast<uint8_t>(43 + 152 * i / 256),
          static_cast<uint8_t>(77 + 364 * i / 256)};
}

std::wstring pickedFolder(const std::wstring& chosen) {
  // A drive root comes back as "C:\": joined without doubling the separator.
  return joinWindowsPath(chosen, kProductName);
}

}  // namespace setup
