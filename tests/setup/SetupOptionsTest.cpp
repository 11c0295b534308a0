#include "setup/SetupOptions.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace setup {
namespace {

CommandLine parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"ZorvekSetup.exe");
  return parseCommandLine(args);
}

std::string joined(const std::vector<std::wstring>& args) {
  std::string out;
  for (const auto& a : args) out += zorvek::toUtf8(a) + " ";
  return out;
}

TEST(SetupOptionsTest, SwitchTable) {
  const struct {
    std::vector<std::wstring> args;
    bool uninstall, silent, driver, showLog, autostart, noPrivCheck, selfTest, repair;
    size_t unknown;
  } cases[] = {
      {{}, false, false, true, false, true, false, false, false, 0},
      {{L"--uninstall", L"-silent", L"/nodriver", L"--log"}, true, true, false, true, true, false, false, false, 0},
      {{L"/noautostart", L"/autostart"}, false, false, true, false, true, false, false, false, 0},
      {{L"-noautostart", L"--nocheck", L"--selftest"}, false, false, true, false, false, true, true, false, 0},
      // Later switches override earlier ones.
      {{L"/silent", L"/console"}, false, false, true, false, true, false, false, false, 0},
      {{L"/uninstall", L"/install"}, false, false, true, false, true, false, false, false, 0},
      {{L"/uninstall", L"-repair"}, false, false, true, false, true, false, false, true, 0},
      {{L"/repair", L"/uninstall"}, true, false, true, false, true, false, false, true, 0},
      // Exact and case-sensitive; single-dash forms outside the table do not exist.
      {{L"/SILENT", L"/Uninstall", L"-autostart", L"-help", L"-selftest", L"-nocheck", L"-dir=x",
        L"--dir=x", L"/DIR=x", L"/silent ", L"silent", L""},
       false, false, true, false, true, false, false, false, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.args));
    const CommandLine cl = parse(c.args);
    const SetupOptions& o = cl.options;
    EXPECT_EQ(o.uninstall, c.uninstall);
    EXPECT_EQ(o.silent, c.silent);
    EXPECT_EQ(o.driver, c.driver);
    EXPECT_EQ(o.showLog, c.showLog);
    EXPECT_EQ(o.autostart, c.autostart);
    EXPECT_EQ(o.noPrivCheck, c.noPrivCheck);
    EXPECT_EQ(o.selfTest, c.selfTest);
    EXPECT_EQ(o.repair, c.repair);
    EXPECT_EQ(cl.unknown.size(), c.unknown);
    EXPECT_FALSE(cl.help);
  }
}

TEST(SetupOptionsTest, UnknownArgumentsAreReportedInOrder) {
  const CommandLine cl = parse({L"/SILENT", L"/silent", L"-autostart"});
  EXPECT_TRUE(cl.options.silent);
  ASSERT_EQ(cl.unknown.size(), 2u);
  EXPECT_EQ(unknownArgumentLine(cl.unknown[0]), L"Неизвестный аргумент: /SILENT");
  EXPECT_EQ(cl.unknown[1], L"-autostart");
  EXPECT_EQ(chooseMode(cl), SetupMode::Install);
  EXPECT_EQ(chooseMode(parse({L"/SILENT"})), SetupMode::Wizard);
}

TEST(SetupOptionsTest, InstallDir) {
  EXPECT_EQ(parse({L"/dir=C:\\Program Files\\Z A"}).options.installDir, L"C:\\Program Files\\Z A");
  EXPECT_EQ(parse({L"/dir=D:\\x", L"/dir="}).options.installDir, L"") << "empty means the default";
  EXPECT_EQ(parse({L"/dir=/dir="}).options.installDir, L"/dir=");
}

TEST(SetupOptionsTest, ModePrecedence) {
  const struct {
    std::vector<std::wstring> args;
    SetupMode mode;
    bool elevate;
  } cases[] = {
      {{L"/log", L"/?"}, SetupMode::Help, false},
      {{L"-?"}, SetupMode::Help, false},
      {{L"--help", L"/silent"}, SetupMode::Help, false},
      {{L"/selftest", L"/log"}, SetupMode::ShowLog, false},
      {{L"/silent", L"/selftest"}, SetupMode::SelfTest, false},
      {{}, SetupMode::Wizard, true},
      {{L"/uninstall"}, SetupMode::Wizard, true},
      {{L"/noprivcheck"}, SetupMode::Wizard, false},
      {{L"/silent", L"/uninstall"}, SetupMode::Uninstall, true},
      {{L"/silent", L"/repair"}, SetupMode::Install, true},
      {{L"/silent", L"/nocheck"}, SetupMode::Install, false},
  };
  for (const auto& c : cases) {
    const CommandLine cl = parse(c.args);
    SCOPED_TRACE(joined(c.args));
    EXPECT_EQ(chooseMode(cl), c.mode);
    EXPECT_EQ(needsElevation(cl), c.elevate);
  }
}

TEST(SetupOptionsTest, HelpNamesOnlySwitchesThatExist) {
  const auto lines = helpLines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], L"ZORVEK Antivirus 1.2.0 — установщик");
  EXPECT_EQ(lines[5], L"  ZorvekSetup.exe /dir=<path>     каталог установки");
  for (size_t i = 2; i < lines.size(); ++i) {
    // "  ZorvekSetup.exe /switch ..." with every description in one column.
    const std::wstring& line = lines[i];
    ASSERT_EQ(line.find(L"  ZorvekSetup.exe /"), 0u) << zorvek::toUtf8(line);
    EXPECT_NE(line[34], L' ');
    EXPECT_EQ(line[33], L' ');
    const std::wstring sw = line.substr(18, line.find(L' ', 18) - 18);
    EXPECT_TRUE(parse({sw}).unknown.empty()) << zorvek::toUtf8(sw);
  }
}

TEST(SetupOptionsTest, RelaunchArguments) {
  const auto with = [](auto edit) {
    SetupOptions o;
    edit(o);
    return relaunchArguments(o);
  };
  EXPECT_EQ(with([](SetupOptions&) {}), L"/install");
  EXPECT_EQ(with([](SetupOptions& o) { o.repair = true; }), L"/install /repair");
  EXPECT_EQ(relaunchArguments(parse({L"/repair", L"/uninstall"}).options), L"/uninstall");
  EXPECT_EQ(with([](SetupOptions& o) {
              o.silent = true;
              o.driver = false;
              o.autostart = false;
              o.showLog = o.selfTest = o.noPrivCheck = true;  // never passed on
            }),
            L"/install /silent /nodriver /noautostart");
  EXPECT_EQ(with([](SetupOptions& o) { o.installDir = L"C:\\Program Files\\ZORVEK Antivirus"; }),
            L"/install /dir=\"C:\\Program Files\\ZORVEK Antivirus\"");
  // A trailing backslash would escape the closing quote.
  EXPECT_EQ(with([](SetupOptions& o) { o.installDir = L"D:\\"; }), L"/install /dir=\"D:\\\\\"");
  EXPECT_EQ(with([](SetupOptions& o) { o.installDir = L"a\\\"b"; }), L"/install /dir=\"a\\\\\\\"b\"");
}

TEST(SetupOptionsTest, RelaunchExitCodes) {
  EXPECT_EQ(relaunchExitCode(true, 0, 0), 0u);
  EXPECT_EQ(relaunchExitCode(true, 0, 1), 1u);
  EXPECT_EQ(relaunchExitCode(true, 0, 740), 740u);
  EXPECT_EQ(relaunchExitCode(false, kErrorCancelled, 1), 0u) << "declined prompt";
  EXPECT_EQ(relaunchExitCode(false, 2, 1), kElevationRequired);
  EXPECT_EQ(relaunchFailureText(1155).find(
                L"Не удалось запустить установщик с правами администратора (win32=1155).\n\n"),
            0u);
}

}  // namespace
}  // namespace setup
