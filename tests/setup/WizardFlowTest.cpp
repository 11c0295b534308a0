#include "setup/WizardFlow.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace setup {
namespace {

WizardState stateFor(WizardMode mode, int page = kWelcomePage) {
  WizardState s;
  s.options.uninstall = mode == WizardMode::Uninstall;
  s.options.repair = mode == WizardMode::Repair;
  s.page = page;
  return s;
}

std::string u8(const std::wstring& text) { return zorvek::toUtf8(text); }

TEST(WizardFlowTest, ModeFollowsTheOptions) {
  SetupOptions o;
  EXPECT_EQ(wizardMode(o), WizardMode::Install);
  o.repair = true;
  EXPECT_EQ(wizardMode(o), WizardMode::Repair);
  // "/repair /uninstall" keeps repair set: removal wins.
  o.uninstall = true;
  EXPECT_EQ(wizardMode(o), WizardMode::Uninstall);
}

TEST(WizardFlowTest, ButtonsOfEachPage) {
  const struct {
    WizardMode mode;
    int page;
    const char* next;
    bool back, cancel;
  } cases[] = {
      {WizardMode::Install, kWelcomePage, "Установить", false, true},
      {WizardMode::Repair, kWelcomePage, "Восстановить", false, true},
      {WizardMode::Uninstall, kWelcomePage, "Удалить", false, true},
      {WizardMode::Uninstall, kOptionsPage, "Далее", true, true},
      {WizardMode::Install, kWorkPage, "Далее", true, true},
      {WizardMode::Repair, kFinishPage, "Закрыть", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(u8(nextButtonText(c.mode, c.page)), c.next);
    EXPECT_EQ(backEnabled(c.page), c.back);
    EXPECT_EQ(cancelEnabled(c.page), c.cancel);
  }
}

TEST(WizardFlowTest, CommandsOnEachPage) {
  using A = WizardAction;
  const struct {
    int page;
    bool working;
    int id;
    A action;
    int to;
  } cases[] = {
      {kWelcomePage, false, kNextButton, A::ShowPage, kOptionsPage},
      {kWelcomePage, false, kBackButton, A::None, 0},
      {kWelcomePage, false, kCancelButton, A::Close, 0},
      {kOptionsPage, false, kNextButton, A::StartWork, 0},
      {kOptionsPage, false, kBackButton, A::ShowPage, kWelcomePage},
      {kOptionsPage, false, kBrowseButton, A::Browse, 0},
      {kOptionsPage, false, kCancelButton, A::Close, 0},
      // The work page cannot be left: the main and back buttons do nothing, cancel disables itself.
      {kWorkPage, true, kNextButton, A::None, 0},
      {kWorkPage, true, kBackButton, A::None, 0},
      {kWorkPage, true, kCancelButton, A::DisableCancel, 0},
      {kWorkPage, true, kBrowseButton, A::None, 0},
      {kFinishPage, false, kNextButton, A::Finish, 0},
      {kFinishPage, false, kCancelButton, A::None, 0},
      {kFinishPage, false, kLaunchBox, A::None, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "page " << c.page << " id " << c.id);
    WizardState s = stateFor(WizardMode::Install, c.page);
    s.working = c.working;
    const WizardStep step = onCommand(s, c.id);
    EXPECT_EQ(step.action, c.action);
    if (c.action == A::ShowPage) {
      EXPECT_EQ(step.page, c.to);
    }
  }
}

TEST(WizardFlowTest, ClosingIsRefusedWhileTheWorkRuns) {
  WizardState s = stateFor(WizardMode::Install, kOptionsPage);
  EXPECT_EQ(onClose(s).action, WizardAction::Close);
  beginWork(s);
  EXPECT_EQ(s.page, kWorkPage);
  EXPECT_EQ(onClose(s).action, WizardAction::DisableCancel);
  // Even a main-button click that reaches the window during the work starts nothing.
  s.page = kOptionsPage;
  EXPECT_EQ(onCommand(s, kNextButton).action, WizardAction::None);
  finishWork(s, 0);
  EXPECT_FALSE(s.working);
  EXPECT_EQ(onClose(s).action, WizardAction::Close);
}

TEST(WizardFlowTest, OutcomeOfTheWork) {
  const struct {
    WizardMode mode;
    int result;
    const char* title;
    const char* text;
    bool launch;
    int emblem;
    const char* label;
    int exitCode;
  } cases[] = {
      {WizardMode::Install, 0, "Готово",
       "Программа установлена. Служба защиты запущена, отвечает и будет стартовать автоматически.",
       true, 0, "Установлено", 0},
      {WizardMode::Repair, 0, "Готово", "Программа восстановлена. Служба защиты запущена и отвечает.",
       true, 0, "Установлено", 0},
      {WizardMode::Uninstall, 0, "Готово", "Программа и служба удалены.", false, 0, "Удалено", 0},
      {WizardMode::Install, 1, "Не удалось завершить",
       "Установка завершилась с ошибками, смотрите журнал.", false, 4, "Установка", 1},
      {WizardMode::Repair, 1, "Не удалось завершить",
       "Установка завершилась с ошибками, смотрите журнал.", false, 4, "Установка", 1},
      {WizardMode::Uninstall, 1, "Не удалось завершить",
       "Удаление завершилось с ошибками, смотрите журнал.", false, 4, "Установка", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WizardState s = stateFor(c.mode, kOptionsPage);
    beginWork(s);
    EXPECT_EQ(bandEmblem(s).state, 4);
    EXPECT_FALSE(controlShown(s, kLaunchBox));
    finishWork(s, c.result);
    EXPECT_EQ(s.page, kFinishPage);
    EXPECT_EQ(u8(pageTitle(s)), c.title);
    EXPECT_EQ(u8(pageText(s)), c.text);
    EXPECT_EQ(controlShown(s, kLaunchBox), c.launch);
    EXPECT_EQ(bandEmblem(s).state, c.emblem);
    EXPECT_EQ(u8(bandEmblem(s).label), c.label);
    EXPECT_EQ(wizardExitCode(s), c.exitCode);
  }
}

TEST(WizardFlowTest, EachPageShowsItsOwnControls) {
  const int optionControls[] = {kFolderLabel, kFolderEdit, kBrowseButton, kAutostartBox, kDriverBox};
  const int workControls[] = {kProgressBar, kLogList};
  for (int page = kWelcomePage; page <= kFinishPage; ++page) {
    SCOPED_TRACE(page);
    const WizardState s = stateFor(WizardMode::Install, page);
    for (int id : optionControls) EXPECT_EQ(controlShown(s, id), page == kOptionsPage) << id;
    for (int id : workControls) EXPECT_EQ(controlShown(s, id), page == kWorkPage) << id;
    for (int id : {kNextButton, kBackButton, kCancelButton}) EXPECT_TRUE(controlShown(s, id)) << id;
  }
}

TEST(WizardFlowTest, TitlesAndDescriptions) {
  const struct {
    WizardMode mode;
    int page;
    const char* title;
    const char* textStart;  // empty: no text under the title
  } cases[] = {
      {WizardMode::Install, kWelcomePage, "Установка ZORVEK Antivirus", "Устанавливаются служба"},
      {WizardMode::Repair, kWelcomePage, "Восстановление ZORVEK Antivirus", "Файлы программы"},
      {WizardMode::Uninstall, kWelcomePage, "Удаление ZORVEK Antivirus", "Будут удалены"},
      {WizardMode::Uninstall, kOptionsPage, "Параметры установки", ""},
      {WizardMode::Install, kWorkPage, "Установка", ""},
      {WizardMode::Repair, kWorkPage, "Восстановление", ""},
      {WizardMode::Uninstall, kWorkPage, "Удаление", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const WizardState s = stateFor(c.mode, c.page);
    EXPECT_EQ(u8(pageTitle(s)), c.title);
    EXPECT_EQ(u8(pageText(s)).rfind(c.textStart, 0), 0u);
    if (!*c.textStart) {
      EXPECT_TRUE(pageText(s).empty());
    }
  }
}

TEST(WizardFlowTest, BandGradientEnds) {
  EXPECT_EQ(bandColor(0), (Rgb{22, 43, 77}));
  EXPECT_EQ(bandColor(1), (Rgb{22, 43, 78}));  // 364 / 256 truncates to 1
  EXPECT_EQ(bandColor(32), (Rgb{26, 62, 122}));
  EXPECT_EQ(bandColor(63), (Rgb{29, 80, 166}));
  // Out-of-range steps stay on the gradient rather than wrapping a channel.
  EXPECT_EQ(bandColor(64), bandColor(63));
  EXPECT_EQ(bandColor(-1), bandColor(0));
}

TEST(WizardFlowTest, PickedFolderGetsTheProductFolder) {
  const struct {
    const wchar_t* chosen;
    const wchar_t* folder;
  } cases[] = {
      {L"D:\\Apps", L"D:\\Apps\\ZORVEK Antivirus"},
      {L"C:\\", L"C:\\ZORVEK Antivirus"},
      {L"\\\\server\\share\\", L"\\\\server\\share\\ZORVEK Antivirus"},
  };
  for (const auto& c : cases) EXPECT_EQ(pickedFolder(c.chosen), c.folder);
}

}  // namespace
}  // namespace setup
