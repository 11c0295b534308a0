// The ZorvekSetup program itself, run as a child process with its output in a file and its
// temporary folder in a scratch folder; exit codes are read with GetExitCodeProcess, since Wine
// truncates codes above 255 on their way to the shell.
#include "common/platform/win32/Win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "SetupTestUtil.h"
#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "setup/Payload.h"
#include "setup/SetupLog.h"
#include "setup/SetupOptions.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/Elevation.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using zorvek::UniqueFile;
using zorvek::UniqueKernelHandle;
using zorvek::test::TempDir;

fs::path binFolder() { return zorvek::toPath(zorvek::modulePath()).parent_path(); }
std::wstring plainInstaller() { return zorvek::pathToWide(binFolder() / "ZorvekSetup.exe"); }
std::wstring distInstaller() {
  return zorvek::pathToWide(binFolder().parent_path() / "dist" / "ZorvekSetup.exe");
}

using test::ProgramRun;

ProgramRun runProgram(const std::wstring& program, const std::wstring& arguments, const TempDir& temp) {
  return test::runProgram(program, arguments, zorvek::pathToWide(temp.path() / ""));
}

std::string crlfLines(const std::vector<std::wstring>& lines) {
  std::string out;
  for (const auto& l : lines) out += zorvek::toUtf8(l) + "\r\n";
  return out;
}

TEST(SetupProgramTest, HelpComesAloneAfterTheUnknownArguments) {
  TempDir temp;
  const ProgramRun run = runProgram(plainInstaller(), L"/SILENT /log /? -dir=x", temp);
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.out, "Неизвестный аргумент: /SILENT\r\nНеизвестный аргумент: -dir=x\r\n" +
                         crlfLines(helpLines()));
}

TEST(SetupProgramTest, ShowsTheSetupLog) {
  TempDir temp;
  const std::wstring log = setupLogPath(zorvek::pathToWide(temp.path() / ""));
  ProgramRun run = runProgram(plainInstaller(), L"/log", temp);
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.out, "Журнал не найден: " + zorvek::toUtf8(log) + "\r\n");

  appendSetupLog(log, L"Установка ZORVEK Antivirus 1.2.0");
  appendSetupLog(log, L"Каталог: C:\\Program Files\\ZORVEK Antivirus");
  std::wstring expected;
  readSetupLog(log, [&](const std::wstring& t) { expected += t; });
  run = runProgram(plainInstaller(), L"--log /selftest", temp);
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.out, zorvek::toUtf8(expected));
  EXPECT_NE(run.out.find(" Каталог: C:\\Program Files\\ZORVEK Antivirus\r\n"), std::string::npos);
}

TEST(SetupProgramTest, SelfTestOfAPlainBuild) {
  TempDir temp;
  const ProgramRun run = runProgram(plainInstaller(), L"/selftest", temp);
  EXPECT_EQ(run.code, 1u);
  EXPECT_EQ(run.out,
            "НАГРУЗКА ПУСТА: завершающего блока нет: это обычная сборка без нагрузки\r\n"
            "(обычная сборка без payload — это ожидаемо, но дистрибутив так быть не должен)\r\n");
}

TEST(SetupProgramTest, SelfTestOfTheDistributable) {
  if (!zorvek::pathExists(distInstaller())) GTEST_SKIP() << "no dist build here";
  TempDir temp;
  const ProgramRun run = runProgram(distInstaller(), L"--selftest", temp);
  EXPECT_EQ(run.code, 0u) << run.out;
  for (const char* entry : {"\r\n  ZorvekService.exe — ", "\r\n  sigutil.exe — ",
                            "\r\n  ZorvekSetup.exe — ", "\r\n  data/signatures.seed.txt — "})
    EXPECT_NE(run.out.find(entry), std::string::npos) << entry;
  EXPECT_EQ(run.out.find("НАГРУЗКА: "), 0u);
  EXPECT_TRUE(run.out.ends_with("\r\nРАСПАКОВКА: ок\r\n")) << run.out;
  for (const auto& e : fs::directory_iterator(temp.path()))
    ADD_FAILURE() << "left behind: " << zorvek::pathToUtf8(e.path());

  // A copy whose trailer no longer adds up.
  const std::wstring copy = temp.file(L"damaged.exe");
  std::string bytes = zorvek::test::readFile(distInstaller());
  bytes[bytes.size() - 24] ^= 1;
  zorvek::test::writeFile(copy, bytes);
  const ProgramRun damaged = runProgram(copy, L"/selftest", temp);
  EXPECT_EQ(damaged.code, 1u);
  EXPECT_EQ(damaged.out.find("НАГРУЗКА ПУСТА: границы не сходятся: "), 0u) << damaged.out;
}

TEST(SetupProgramTest, RelaunchArgumentsReadBackThroughTheShell) {
  const auto options = [](auto edit) {
    SetupOptions o;
    edit(o);
    return o;
  };
  const SetupOptions cases[] = {
      options([](SetupOptions&) {}),
      options([](SetupOptions& o) { o.uninstall = o.silent = true; }),
      options([](SetupOptions& o) {
        o.repair = o.silent = true;
        o.driver = o.autostart = false;
        o.installDir = L"C:\\Program Files\\ZORVEK Antivirus";
      }),
      options([](SetupOptions& o) { o.installDir = L"D:\\"; }),
      options([](SetupOptions& o) { o.installDir = L"C:\\a  b\\\\"; }),
      options([](SetupOptions& o) { o.installDir = L"C:\\x\" /uninstall \"y"; }),
      options([](SetupOptions& o) { o.installDir = L"C:\\Папка с пробелами"; }),
  };
  for (const auto& o : cases) {
    const std::wstring line = L"ZorvekSetup.exe " + relaunchArguments(o);
    SCOPED_TRACE(zorvek::toUtf8(line));
    int count = 0;
    const zorvek::UniqueLocal<wchar_t**> argv(CommandLineToArgvW(line.c_str(), &count));
    ASSERT_TRUE(argv);
    const CommandLine back = parseCommandLine(std::vector<std::wstring>(argv.get(), argv.get() + count));
    EXPECT_TRUE(back.unknown.empty());
    EXPECT_EQ(back.options.uninstall, o.uninstall);
    EXPECT_EQ(back.options.repair, o.repair);
    EXPECT_EQ(back.options.silent, o.silent);
    EXPECT_EQ(back.options.driver, o.driver);
    EXPECT_EQ(back.options.autostart, o.autostart);
    EXPECT_EQ(back.options.installDir, o.installDir);
  }
}

TEST(SetupProgramTest, AdministratorCheckAndElevatedRun) {
  EXPECT_EQ(isAdministrator(), IsUserAnAdmin() != FALSE);

  // A program that cannot be started: the un-elevated copy reports 740.
  const ElevatedRun missing = runElevated(L"C:\\no\\such\\program.exe", L"");
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.error, 0u);
  EXPECT_EQ(relaunchExitCode(missing.started, missing.error, missing.exitCode), kElevationRequired);

  // The elevated copy's exit code comes back (the helper answers 2 to an unknown command).
  const ElevatedRun run = runElevated(zorvek::test::helperProgram(), L"no-such-command x");
  if (!run.started) GTEST_SKIP() << "ShellExecuteExW \"runas\" is not available here: " << run.error;
  EXPECT_EQ(run.exitCode, 2u);
  if (isAdministrator()) {
    // Wine's user is always an administrator: the prompt, its refusal (1223) and a relaunch from
    // an un-elevated copy cannot be shown here.
    GTEST_SKIP() << "this user is an administrator: no relaunch to observe";
  }
}

TEST(SetupProgramTest, PrivateFolderAdmitsOnlyTheUserAdministratorsAndSystem) {
  TempDir temp;
  const std::wstring path = temp.file(L"private");
  ASSERT_TRUE(createPrivateFolder(path));
  bool exists = false;
  EXPECT_FALSE(createPrivateFolder(path, &exists));
  EXPECT_TRUE(exists);

  test::AccessList list;
  if (!test::readAccessList(path, list) || list.entries.empty())
    GTEST_SKIP() << "this file system keeps no access lists";
  std::vector<std::wstring> sids;
  for (const auto& e : list.entries) sids.push_back(e.sid);
  const bool isProtected = list.isProtected;
  UniqueKernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  unsigned char buffer[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size));
  zorvek::UniqueLocal<wchar_t*> user;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, user.put()));
  // Nobody else: not Everyone, not the Users group.
  for (const auto& sid : sids) {
    EXPECT_NE(sid, L"S-1-1-0");
    EXPECT_NE(sid, L"S-1-5-32-545");
  }
  const std::vector<std::wstring> expected = {L"S-1-5-18", L"S-1-5-32-544", user.get()};
  if (sids != expected && !isProtected) {
    // Wine keeps no access lists: it turns them into the folder's mode bits and reads back a
    // list made from those, so only the absence of other users shows.
    GTEST_SKIP() << "access lists are not kept here (Wine maps them to mode bits)";
  }
  EXPECT_EQ(sids, expected);
  EXPECT_TRUE(isProtected) << "nothing inherited from the temporary folder";
}

TEST(SetupProgramTest, CarriesTheWizardIcon) {
  for (const std::wstring& program : {plainInstaller(), distInstaller()}) {
    SCOPED_TRACE(zorvek::toUtf8(program));
    const HMODULE image =
        LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(image);
    EXPECT_TRUE(FindResourceW(image, MAKEINTRESOURCEW(101), RT_GROUP_ICON));
    const auto icon = static_cast<HICON>(LoadImageW(image, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0));
    EXPECT_TRUE(icon);
    if (icon) DestroyIcon(icon);
    FreeLibrary(image);
  }
}

}  // namespace
}  // namespace setup
