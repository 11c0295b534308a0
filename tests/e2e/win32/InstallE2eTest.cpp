// The installer as a user meets it, in a Wine prefix of its own (tests/e2e/wine_install.sh makes
// it and removes it afterwards): silent install from the distributable, repair over the running
// installation, files held open, uninstall from the install folder and from a copy elsewhere.
// The tests run in order and build on each other; this process keeps the prefix's services alive
// between the installer runs.
#include "common/platform/win32/Win.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "gui/win32/GuiDriver.h"
#include "setup/InstallLayout.h"
#include "setup/SetupLog.h"
#include "setup/WizardFlow.h"
#include "setup/win32/Worker.h"
#include "setup/win32/SetupTestUtil.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using test::ProgramRun;
using zorvek::ComPtr;
using zorvek::UniqueFile;
using zorvek::UniqueRegKey;
using zorvek::UniqueServiceHandle;
using Env = std::vector<std::pair<std::wstring, std::wstring>>;

bool inFreshPrefix() { return zorvek::environmentVariable(L"ZORVEK_INSTALL_E2E") == L"1"; }

#define REQUIRE_FRESH_PREFIX()                                                         \
  if (!inFreshPrefix())                                                                \
  GTEST_SKIP() << "installs into the prefix: runs only from tests/e2e/wine_install.sh"

fs::path binFolder() { return zorvek::toPath(zorvek::modulePath()).parent_path(); }
std::wstring binFile(const wchar_t* name) { return zorvek::pathToWide(binFolder() / name); }
std::wstring distInstaller() {
  return zorvek::pathToWide(binFolder().parent_path() / "dist" / "ZorvekSetup.exe");
}
const std::wstring& installDir() {
  static const std::wstring dir =
      defaultInstallDir(zorvek::knownFolder(zorvek::KnownFolder::ProgramFiles));
  return dir;
}
std::wstring installed(const wchar_t* name) { return joinWindowsPath(installDir(), name); }
const std::wstring& dataFolder() {
  static const std::wstring dir = zorvek::platformDataFolder();
  return dir;
}

// Scratch folders of this run inside the prefix's temporary folder.
std::wstring scratch(const wchar_t* name) {
  const std::wstring path = zorvek::pathToWide(zorvek::toPath(zorvek::environmentVariable(L"TEMP").value_or(L"C:\\")) / L"zorvek-e2e" / name);
  zorvek::createDirectories(path);
  return path;
}
// The installers' temporary folder: their setup log lies there.
std::wstring setupTemp() { return scratch(L"setup-temp") + L"\\"; }
std::wstring hostsFile() { return scratch(L"etc") + L"\\hosts"; }

ProgramRun runSetup(const std::wstring& program, const std::wstring& arguments) {
  return test::runProgram(program, arguments, setupTemp(), Env{{L"ZORVEK_HOSTS", hostsFile()}},
                          180000);
}

ProgramRun zorvekctl(const std::wstring& arguments) {
  return test::runProgram(binFile(L"zorvekctl.exe"), arguments, scratch(L"ctl-temp"));
}

std::string utf8(const std::wstring& text) { return zorvek::toUtf8(text); }

// Each expected line appears in the output, in this order.
void expectLinesInOrder(const std::string& out, const std::vector<std::wstring>& expected) {
  size_t at = 0;
  for (const auto& line : expected) {
    const std::string text = utf8(line) + "\r\n";
    const size_t found = out.find(text, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << utf8(line) << "\n" << out;
    if (found != std::string::npos) at = found + text.size();
  }
}

bool contains(const std::string& out, const std::wstring& text) {
  return out.find(utf8(text)) != std::string::npos;
}

struct ServiceState {
  bool exists = false;
  DWORD state = 0;
  DWORD pid = 0;
};

ServiceState serviceState(const wchar_t* name = kServiceName) {
  ServiceState s;
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  if (!service) return s;
  s.exists = true;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                           sizeof status, &needed)) {
    s.state = status.dwCurrentState;
    s.pid = status.dwProcessId;
  }
  return s;
}

bool waitForService(DWORD state, int tenthsOfSeconds = 200) {
  for (int i = 0; i < tenthsOfSeconds; ++i) {
    if (serviceState().state == state) return true;
    Sleep(100);
  }
  return false;
}

std::wstring regString(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t buffer[2048];
  DWORD bytes = sizeof buffer;
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer,
                   &bytes) != ERROR_SUCCESS)
    return L"<missing>";
  return buffer;
}

DWORD regDword(HKEY root, const wchar_t* key, const wchar_t* value) {
  DWORD data = 0xDEADBEEF, bytes = sizeof data;
  RegGetValueW(root, key, value, RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &data, &bytes);
  return data;
}

bool keyExists(HKEY root, const wchar_t* key) {
  UniqueRegKey k;
  return RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_64KEY, k.put()) == ERROR_SUCCESS;
}

std::wstring startMenuShortcut() {
  return joinWindowsPath(joinWindowsPath(zorvek::knownFolder(zorvek::KnownFolder::Programs), kProductName),
                         kShortcutName);
}
std::wstring desktopShortcut() { return joinWindowsPath(zorvek::knownFolder(zorvek::KnownFolder::Desktop), kShortcutName); }

struct Shortcut {
  std::wstring target, workingDir, description;
};

bool readShortcut(const std::wstring& path, Shortcut& out) {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  wchar_t text[MAX_PATH] = {};
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.putVoid())) ||
      FAILED(link.as(file)) || FAILED(file->Load(path.c_str(), STGM_READ)))
    return false;
  if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) out.target = text;
  if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) out.workingDir = text;
  if (SUCCEEDED(link->GetDescription(text, MAX_PATH))) out.description = text;
  return true;
}

std::string fileText(const std::wstring& path) {
  std::string text;
  zorvek::readWholeFile(path, text);
  return text;
}

std::wstring settingsFile() { return joinWindowsPath(dataFolder(), L"settings.ini"); }

class ComScope {
 public:
  ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComScope() { CoUninitialize(); }
};

TEST(InstallE2eTest, SilentInstallFromTheDistributable) {
  REQUIRE_FRESH_PREFIX();
  ASSERT_TRUE(zorvek::pathExists(distInstaller())) << "build the dist target first";
  const ProgramRun run = runSetup(distInstaller(), L"/silent");
  ASSERT_EQ(run.code, 0u) << run.out;
  const std::wstring image = serviceImagePath(installDir());
  const std::wstring seed = seedDatabaseFor(installDir());
  expectLinesInOrder(run.out, {
      L"Установка ZORVEK Antivirus 1.2.0",
      L"Каталог: " + installDir(),
      L"Права: администратор есть",
      L"скопирован ZorvekService.exe",
      L"скопирован sigutil.exe",
      L"скопирован ZorvekSetup.exe",
      L"скопирована папка data",
      L"права на папку данных заданы: " + dataFolder(),
      L"путь к базе сигнатур: " + seed,
      L"служба создана, binPath=" + image,
      L"восстановление: перезапуск через 15 с, 1 мин и 5 мин",
      L"служба запущена",
      L"служба отвечает, защита работает",
      L"ярлык в меню «Пуск» создан",
      L"ярлык на рабочем столе создан",
      L"автозапуск при входе в Windows включён",
      L"Установка завершена.",
  });
  EXPECT_FALSE(contains(run.out, L"ОШИБКА")) << run.out;
  // The desktop program may not be part of this build's payload: skipped with its line.
  if (!contains(run.out, L"скопирован ZorvekAntivirus.exe")) {
    EXPECT_TRUE(contains(run.out, L"ZorvekAntivirus.exe не найден в источнике, пропущен\r\n"));
  }
  // No driver file in the payload: nothing registered.
  EXPECT_TRUE(contains(run.out, L"ZorvekFilter.sys не найден в источнике, пропущен\r\n"));
  EXPECT_TRUE(contains(run.out, L"ZorvekFilter.sys не найден, драйвер пропущен\r\n"));
  EXPECT_FALSE(serviceState(kDriverName).exists);

  // Every line is in the setup log too, stamped with the time.
  std::wstring log;
  ASSERT_TRUE(readSetupLog(setupLogPath(setupTemp()), [&](const std::wstring& t) { log += t; }));
  for (const char* line : {" Установка ZORVEK Antivirus 1.2.0\r\n", " служба запущена\r\n",
                           " Установка завершена.\r\n"})
    EXPECT_NE(utf8(log).find(line), std::string::npos) << line;

  // The programs, byte for byte.
  for (const wchar_t* name : {kServiceExe, kSigutilExe, kSetupExe})
    EXPECT_EQ(fileText(installed(name)), fileText(binFile(name))) << utf8(name);
  EXPECT_EQ(fileText(seed), fileText(binFile(L"data\\signatures.seed.txt")));

  // The service runs and answers.
  EXPECT_EQ(serviceState().state, static_cast<DWORD>(SERVICE_RUNNING));
  const ProgramRun status = zorvekctl(L"status");
  EXPECT_EQ(status.code, 0u) << status.out;
  EXPECT_NE(status.out.find("1.2.0"), std::string::npos) << status.out;

  // The settings point at this installation.
  const std::string settings = fileText(settingsFile());
  EXPECT_NE(settings.find("SignatureDb=" + utf8(seed) + "\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("QuarantineDir=" + utf8(dataFolder()) + "\\Quarantine\n"), std::string::npos)
      << settings;

  // The uninstall entry, every value.
  const HKEY hklm = HKEY_LOCAL_MACHINE;
  const struct {
    const wchar_t* name;
    std::wstring value;
  } strings[] = {
      {L"DisplayName", L"ZORVEK Antivirus"},
      {L"DisplayVersion", L"1.2.0"},
      {L"Publisher", L"ZORVEK"},
      {L"InstallLocation", installDir()},
      {L"DisplayIcon", installDir() + L"\\ZorvekAntivirus.exe,0"},
      {L"UninstallString", L"\"" + installDir() + L"\\ZorvekSetup.exe\" /uninstall"},
      {L"QuietUninstallString", L"\"" + installDir() + L"\\ZorvekSetup.exe\" /uninstall /silent"},
  };
  for (const auto& s : strings) EXPECT_EQ(utf8(regString(hklm, kUninstallKey, s.name)), utf8(s.value));
  SYSTEMTIME today{};
  GetLocalTime(&today);
  EXPECT_EQ(regString(hklm, kUninstallKey, L"InstallDate"),
            installDateText(today.wYear, today.wMonth, today.wDay));
  EXPECT_TRUE(std::regex_match(utf8(regString(hklm, kUninstallKey, L"InstallDate")),
                               std::regex("\\d{4}-\\d{2}-\\d{2}")));
  uint64_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(zorvek::toPath(installDir()))) {
    if (e.is_regular_file()) bytes += e.file_size();
  }
  EXPECT_EQ(regDword(hklm, kUninstallKey, L"EstimatedSize"), static_cast<DWORD>(bytes / 1024));
  EXPECT_EQ(regDword(hklm, kUninstallKey, L"NoModify"), 0u);
  EXPECT_EQ(regDword(hklm, kUninstallKey, L"NoRepair"), 0u);
  EXPECT_EQ(utf8(regString(HKEY_CURRENT_USER, kRunKey, kRunValue)),
            utf8(L"\"" + installDir() + L"\\ZorvekAntivirus.exe\" --autostart"));

  // Both shortcuts start the desktop program in the install folder.
  const ComScope com;
  for (const std::wstring& path : {startMenuShortcut(), desktopShortcut()}) {
    SCOPED_TRACE(utf8(path));
    Shortcut link;
    ASSERT_TRUE(readShortcut(path, link));
    EXPECT_EQ(utf8(link.target), utf8(desktopProgramPath(installDir())));
    EXPECT_EQ(utf8(link.workingDir), utf8(installDir()));
    EXPECT_EQ(utf8(link.description), "ZORVEK Antivirus");
  }
}

UniqueServiceHandle openForQuery() {
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  return UniqueServiceHandle(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
}

TEST(InstallE2eTest, ServiceConfiguration) {
  REQUIRE_FRESH_PREFIX();
  const UniqueServiceHandle service = openForQuery();
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed));
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(utf8(config->lpBinaryPathName), utf8(serviceImagePath(installDir())));
  EXPECT_EQ(utf8(config->lpDisplayName), "ZORVEK Antivirus");
  EXPECT_EQ(zorvek::asciiLower(utf8(config->lpServiceStartName)), "localsystem");

  std::fill(buffer.begin(), buffer.end(), 0);
  ASSERT_TRUE(QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), &needed));
  EXPECT_EQ(utf8(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription),
            utf8(kServiceDescription));
}

TEST(InstallE2eTest, ServiceRestartsAfterFailures) {
  REQUIRE_FRESH_PREFIX();
  const UniqueServiceHandle service = openForQuery();
  ASSERT_TRUE(service);
  std::vector<BYTE> buffer(4096);
  DWORD needed = 0;
  if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &needed)) {
    const DWORD code = GetLastError();
    if (code == ERROR_INVALID_LEVEL) GTEST_SKIP() << "failure actions cannot be read back here";
    FAIL() << "QueryServiceConfig2W: " << code;
  }
  const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
  EXPECT_EQ(failure->dwResetPeriod, 0u);
  ASSERT_EQ(failure->cActions, 3u);
  const DWORD delays[] = {15000, 60000, 300000};
  for (DWORD i = 0; i < 3; ++i) {
    EXPECT_EQ(failure->lpsaActions[i].Type, SC_ACTION_RESTART);
    EXPECT_EQ(failure->lpsaActions[i].Delay, delays[i]);
  }
}

TEST(InstallE2eTest, ScQcShowsTheService) {
  REQUIRE_FRESH_PREFIX();
  const ProgramRun qc = test::runProgram(L"C:\\windows\\system32\\sc.exe", L"qc ZorvekService",
                                         scratch(L"sc-temp"));
  if (qc.code != 0 && qc.out.empty()) GTEST_SKIP() << "this sc has no qc command";
  EXPECT_NE(qc.out.find("ZorvekService.exe"), std::string::npos) << qc.out;
  EXPECT_NE(qc.out.find("AUTO_START"), std::string::npos) << qc.out;
}

TEST(InstallE2eTest, DataFolderAccessList) {
  REQUIRE_FRESH_PREFIX();
  test::AccessList folder, log;
  ASSERT_TRUE(test::readAccessList(dataFolder(), folder));
  ASSERT_TRUE(test::readAccessList(joinWindowsPath(dataFolder(), L"zorvek.log"), log));
  const std::vector<test::AccessEntry> folderList = {
      {L"S-1-5-18", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
      {L"S-1-5-32-544", FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
      {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}};
  const std::vector<test::AccessEntry> logList = {
      {L"S-1-5-18", FILE_ALL_ACCESS, 0},
      {L"S-1-5-32-544", FILE_ALL_ACCESS, 0},
      {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_APPEND_DATA, 0}};
  if (folder.entries != folderList && !folder.isProtected)
    GTEST_SKIP() << "access lists are not kept here (Wine maps them to mode bits)";
  EXPECT_EQ(folder.entries, folderList);
  EXPECT_TRUE(folder.isProtected);
  EXPECT_EQ(utf8(folder.owner), "S-1-5-32-544");
  EXPECT_EQ(log.entries, logList);
  EXPECT_TRUE(log.isProtected);
}

// Marks an installed file, so that a repair that replaces it shows.
void spoil(const std::wstring& path) {
  zorvek::AppendFile file;
  ASSERT_TRUE(file.open(path));
  ASSERT_TRUE(file.write("spoiled", 7));
}

TEST(InstallE2eTest, RepairOverTheRunningInstallation) {
  REQUIRE_FRESH_PREFIX();
  // The user's settings, read by the running service: a repair keeps them, apart from the paths.
  ASSERT_EQ(zorvekctl(L"config set ScheduledHour=7 ScanArchives=1").code, 0u);
  ASSERT_TRUE(waitForService(SERVICE_RUNNING));
  const DWORD before = serviceState().pid;
  spoil(installed(kSigutilExe));

  const ProgramRun run = runSetup(distInstaller(), L"/repair /silent");
  ASSERT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {
      L"служба ZorvekService остановлена",
      L"скопирован sigutil.exe",
      L"существующая служба обновлена на " + serviceImagePath(installDir()),
      L"служба запущена",
      L"служба отвечает, защита работает",
      L"Установка завершена.",
  });
  EXPECT_EQ(fileText(installed(kSigutilExe)), fileText(binFile(kSigutilExe)));
  const ServiceState after = serviceState();
  EXPECT_EQ(after.state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_NE(after.pid, before) << "the service was stopped and started again";

  const ProgramRun config = zorvekctl(L"config get");
  EXPECT_EQ(config.code, 0u) << config.out;
  for (const std::string& line : std::vector<std::string>{
           "ScheduledHour=7", "ScanArchives=1", "SignatureDb=" + utf8(seedDatabaseFor(installDir()))})
    EXPECT_NE(config.out.find(line), std::string::npos) << line << "\n" << config.out;
}

// Holds a file open the way another program would, until the object goes.
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD share)
      : file_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  explicit operator bool() const { return static_cast<bool>(file_); }
  void release() { file_.reset(); }

 private:
  UniqueFile file_;
};

TEST(InstallE2eTest, ARepairGetsPastAFileInUse) {
  REQUIRE_FRESH_PREFIX();
  const std::wstring sigutil = installed(kSigutilExe);
  spoil(sigutil);
  // Read and renamed, as a running program's file may be, but not overwritten.
  HeldFile held(sigutil, FILE_SHARE_READ | FILE_SHARE_DELETE);
  ASSERT_TRUE(held);
  const ProgramRun run = runSetup(distInstaller(), L"/repair /silent");
  held.release();
  EXPECT_EQ(run.code, 0u) << run.out;
  EXPECT_TRUE(contains(run.out, L"скопирован sigutil.exe\r\n")) << run.out;
  EXPECT_EQ(fileText(sigutil), fileText(binFile(kSigutilExe)));
  EXPECT_FALSE(zorvek::pathExists(sigutil + L".old"));
}

// The pending renames the system carries out at the next restart.
std::vector<std::wstring> pendingRenames() {
  wchar_t buffer[8192] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t) * 2;
  std::vector<std::wstring> out;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, buffer,
                   &bytes) != ERROR_SUCCESS)
    return out;
  // Strings back to back, ended by an empty one.
  for (const wchar_t* p = buffer; p < buffer + bytes / sizeof(wchar_t) && *p; p += wcslen(p) + 1)
    out.emplace_back(p);
  return out;
}

void clearPendingRenames() {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations");
}

TEST(InstallE2eTest, AFileThatCannotEvenBeRenamedIsReplacedAtTheRestart) {
  REQUIRE_FRESH_PREFIX();
  {
    // Can this system register a rename for the restart at all?
    const std::wstring probe = scratch(L"probe") + L"\\probe.txt";
    zorvek::test::writeFile(probe, "x");
    const bool registered = MoveFileExW(probe.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    const bool recorded = !pendingRenames().empty();
    clearPendingRenames();
    if (!registered || !recorded)
      GTEST_SKIP() << "MOVEFILE_DELAY_UNTIL_REBOOT is not available here: " << GetLastError();
  }
  const std::wstring sigutil = installed(kSigutilExe);
  spoil(sigutil);
  const std::string spoiled = fileText(sigutil);
  HeldFile held(sigutil, FILE_SHARE_READ);
  ASSERT_TRUE(held);
  const ProgramRun run = runSetup(distInstaller(), L"/repair /silent");
  held.release();
  EXPECT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {
      L"занят работающим процессом, sigutil.exe будет обновлён при следующей перезагрузке",
      L"служба отвечает, защита работает",
      L"часть файлов была занята работающей программой и обновится после перезагрузки Windows",
  });
  // Silent: the message is printed, no box waits for a click.
  EXPECT_TRUE(contains(run.out, L"Установка завершена, но некоторые файлы программы были заняты"));
  EXPECT_EQ(fileText(sigutil), spoiled);
  // The new file waits beside the old one, outside the installer's temporary folder.
  EXPECT_EQ(fileText(sigutil + L".new"), fileText(binFile(kSigutilExe)));
  const std::vector<std::wstring> pending = pendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(utf8(pending[0]), utf8(L"\\??\\" + sigutil + L".new"));
  EXPECT_EQ(utf8(pending[1]), utf8(L"!\\??\\" + sigutil));
  clearPendingRenames();
}

const std::string kUserHosts =
    "127.0.0.1 localhost\r\n# mine\r\n10.0.0.1 intranet\r\n";

TEST(InstallE2eTest, UninstallFromTheInstallFolderRemovesItAfterExit) {
  REQUIRE_FRESH_PREFIX();
  zorvek::test::writeFile(hostsFile(), kUserHosts +
                                           "\r\n# ZORVEK WEB SHIELD BEGIN\r\n127.0.0.1 bad.example "
                                           "# zorvek-blocked\r\n# ZORVEK WEB SHIELD END\r\n");
  const std::string settings = fileText(settingsFile());
  ASSERT_FALSE(settings.empty());

  const ProgramRun run = runSetup(installed(kSetupExe), L"/uninstall /silent");
  EXPECT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {
      L"Удаление ZORVEK Antivirus",
      L"служба ZorvekService остановлена",
      L"служба удалена",
      L"блокировки веб-экрана сняты",
      L"каталог будет удалён после выхода программы",
      L"Удаление завершено.",
  });
  EXPECT_FALSE(serviceState().exists);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
  EXPECT_EQ(regString(HKEY_CURRENT_USER, kRunKey, kRunValue), L"<missing>");
  EXPECT_FALSE(zorvek::pathExists(startMenuShortcut()));
  EXPECT_FALSE(zorvek::pathExists(desktopShortcut()));
  EXPECT_EQ(fileText(hostsFile()), "127.0.0.1 localhost\n# mine\n10.0.0.1 intranet\n\n");
  // The data folder stays for the next installation.
  EXPECT_EQ(fileText(settingsFile()), settings);

  bool gone = false;
  for (int i = 0; i < 150 && !gone; ++i) {
    gone = !zorvek::pathExists(installDir());
    if (!gone) Sleep(100);
  }
  EXPECT_TRUE(gone) << "the install folder is still there 15 s after the uninstaller ended";
}

TEST(InstallE2eTest, AnInstallerWithoutPayloadCopiesFromItsOwnFolder) {
  REQUIRE_FRESH_PREFIX();
  // A plain installer beside the service and the data, without sigutil.exe.
  const std::wstring source = scratch(L"plain");
  for (const wchar_t* name : {kSetupExe, kServiceExe})
    ASSERT_TRUE(CopyFileW(binFile(name).c_str(), joinWindowsPath(source, name).c_str(), FALSE));
  fs::copy(binFolder() / "data", zorvek::toPath(source) / "data", fs::copy_options::recursive |
                                                                       fs::copy_options::overwrite_existing);
  const std::wstring dir = L"C:\\Zorvek Test";
  const ProgramRun run =
      runSetup(joinWindowsPath(source, kSetupExe), L"/silent /nodriver /noautostart \"/dir=" + dir + L"\"");
  ASSERT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {
      L"Каталог: " + dir,
      L"Источник: " + source,
      L"скопирован ZorvekService.exe",
      L"sigutil.exe не найден в источнике, пропущен",
      L"скопирован ZorvekSetup.exe",
      L"путь к базе сигнатур: " + seedDatabaseFor(dir),
      L"служба создана, binPath=" + serviceImagePath(dir),
      L"служба отвечает, защита работает",
      L"автозапуск при входе в Windows выключен",
      L"Установка завершена.",
  });
  EXPECT_FALSE(contains(run.out, L"ZorvekFilter.sys")) << "/nodriver: the driver is not touched";
  EXPECT_TRUE(zorvek::pathExists(joinWindowsPath(dir, kServiceExe)));
  EXPECT_FALSE(zorvek::pathExists(joinWindowsPath(dir, kSigutilExe)));
  EXPECT_EQ(utf8(regString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation")), utf8(dir));
  EXPECT_EQ(regString(HKEY_CURRENT_USER, kRunKey, kRunValue), L"<missing>");
}

TEST(InstallE2eTest, UninstallFromACopyElsewhereFindsTheRecordedFolder) {
  REQUIRE_FRESH_PREFIX();
  const std::wstring dir = L"C:\\Zorvek Test";
  const std::wstring copy = joinWindowsPath(scratch(L"elsewhere"), kSetupExe);
  ASSERT_TRUE(CopyFileW(joinWindowsPath(dir, kSetupExe).c_str(), copy.c_str(), FALSE));
  zorvek::test::writeFile(hostsFile(), kUserHosts);

  // No "/dir=": the default folder holds nothing, the uninstall entry names this one.
  const ProgramRun run = runSetup(copy, L"/uninstall /silent");
  EXPECT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {
      L"Каталог: " + dir,
      L"служба удалена",
      L"блокировки веб-экрана сняты",
      L"каталог удалён",
      L"Удаление завершено.",
  });
  EXPECT_FALSE(zorvek::pathExists(dir)) << "removed before the uninstaller ended";
  EXPECT_FALSE(serviceState().exists);
  EXPECT_EQ(fileText(hostsFile()), kUserHosts) << "no block: the file is not rewritten";
  EXPECT_TRUE(zorvek::pathExists(settingsFile()));
}

TEST(InstallE2eTest, TheUninstallNeverEmptiesAFolderWithoutTheProgram) {
  REQUIRE_FRESH_PREFIX();
  // A mistyped "/dir=": a folder of the user's.
  const std::wstring folder = scratch(L"precious");
  zorvek::test::writeFile(joinWindowsPath(folder, L"thesis.docx"), "years of work");

  // Through the worker thread the wizard uses: the lines arrive in order, then the result.
  SetupOptions options;
  options.uninstall = options.silent = true;
  options.installDir = folder;
  std::vector<std::wstring> lines;
  int result = -1;
  std::thread worker = startWork(options, Progress{[&](const std::wstring& l) { lines.push_back(l); }, {}},
                                 [&](int code) { result = code; });
  worker.join();
  EXPECT_EQ(result, 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(utf8(lines.front()), "Удаление ZORVEK Antivirus");
  EXPECT_EQ(utf8(lines.back()), "Удаление завершено.");
  const std::wstring refusal = L"ОШИБКА: каталог " + folder +
                               L" не удалён: в нём нет ни ZorvekService.exe, ни ZorvekSetup.exe";
  EXPECT_NE(std::find(lines.begin(), lines.end(), refusal), lines.end());
  EXPECT_EQ(fileText(joinWindowsPath(folder, L"thesis.docx")), "years of work");

  // The same from the program: exit code 1.
  const ProgramRun run = runSetup(binFile(kSetupExe), L"/uninstall /silent \"/dir=" + folder + L"\"");
  EXPECT_EQ(run.code, 1u) << run.out;
  EXPECT_TRUE(contains(run.out, refusal)) << run.out;
  EXPECT_TRUE(zorvek::pathExists(joinWindowsPath(folder, L"thesis.docx")));
}


TEST(InstallE2eTest, ADriverInTheSourceIsRegisteredAndRemovedAgain) {
  REQUIRE_FRESH_PREFIX();
  // A plain installer with a stand-in driver file: registered, its filter instance written; Wine
  // loads no kernel driver, so only the start's outcome line varies.
  const std::wstring source = scratch(L"with-driver");
  for (const wchar_t* name : {kSetupExe, kServiceExe})
    ASSERT_TRUE(CopyFileW(binFile(name).c_str(), joinWindowsPath(source, name).c_str(), FALSE));
  zorvek::test::writeFile(joinWindowsPath(source, kDriverFile), "not a real driver");
  const std::wstring dir = L"C:\\Zorvek Driver";
  const std::wstring dirArgument = L" \"/dir=" + dir + L"\"";
  ProgramRun run = runSetup(joinWindowsPath(source, kSetupExe), L"/silent /noautostart" + dirArgument);
  EXPECT_EQ(run.code, 1u) << "no data folder in the source: " << run.out;
  expectLinesInOrder(run.out, {
      L"скопирован ZorvekFilter.sys",
      L"служба драйвера создана, Start=0 (boot)",
      L"высота фильтра 370040 зарегистрирована",
  });
  EXPECT_TRUE(contains(run.out, L"драйвер запущен\r\n") ||
              contains(run.out, L"нужен перезапуск Windows\r\n") ||
              contains(run.out, L"запуск драйвера не удался, потребуется перезагрузка\r\n"))
      << run.out;
  const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  {
    const UniqueServiceHandle driver(OpenServiceW(manager.get(), kDriverName, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(driver);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(driver.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
    const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_BOOT_START));
    EXPECT_EQ(utf8(config->lpDisplayName), "ZORVEK Minifilter");
  }
  const wchar_t instance[] =
      L"SYSTEM\\CurrentControlSet\\Services\\ZorvekFilter\\Instances\\ZorvekFilterInstance";
  EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, instance, L"Altitude"), L"370040");
  EXPECT_EQ(regDword(HKEY_LOCAL_MACHINE, instance, L"Flags"), 0u);

  // A repair finds the driver registered and leaves it so.
  run = runSetup(joinWindowsPath(dir, kSetupExe), L"/silent /noautostart" + dirArgument);
  EXPECT_TRUE(contains(run.out, L"служба драйвера уже зарегистрирована\r\n")) << run.out;

  const std::wstring copy = joinWindowsPath(scratch(L"driver-uninstaller"), kSetupExe);
  ASSERT_TRUE(CopyFileW(joinWindowsPath(dir, kSetupExe).c_str(), copy.c_str(), FALSE));
  run = runSetup(copy, L"/uninstall /silent" + dirArgument);
  EXPECT_EQ(run.code, 0u) << run.out;
  expectLinesInOrder(run.out, {L"служба драйвера удалена", L"служба удалена", L"каталог удалён"});
  EXPECT_FALSE(serviceState(kDriverName).exists);
  EXPECT_FALSE(serviceState().exists);
  EXPECT_FALSE(zorvek::pathExists(dir));
}

// --- The wizard --------------------------------------------------------------------------------
// The distributable without /silent, clicked through the way a user does it on the virtual display
// that tests/e2e/wine_install.sh starts: a failed install, an install into a folder chosen with the
// picker, a repair over it and its removal.

constexpr uint32_t kWindowWaitMs = 30000;
constexpr uint32_t kWorkWaitMs = 180000;
constexpr COLORREF kBackground = RGB(244, 246, 249);
constexpr COLORREF kOrange = RGB(232, 139, 26);
constexpr COLORREF kGreen = RGB(30, 158, 90);
constexpr COLORREF kRed = RGB(209, 59, 47);

int px(int length) { return MulDiv(length, static_cast<int>(GetDpiForSystem()), 96); }

#define REQUIRE_DISPLAY()                                                    \
  REQUIRE_FRESH_PREFIX();                                                    \
  if (const auto reason = zorvek::environmentVariable(L"ZORVEK_NO_DISPLAY")) \
  GTEST_SKIP() << "no display for windows: " << utf8(*reason)

// Outside the profile: Wine's picker does not open the hidden folders below it.
const wchar_t kWizardParent[] = L"C:\\Zorvek Wizard";
std::wstring wizardFolder() { return joinWindowsPath(kWizardParent, kProductName); }

class WizardRun {
 public:
  // The installer inherits the variables: its temporary folder and the hosts file of the run.
  explicit WizardRun(const std::wstring& arguments) {
    for (const wchar_t* name : {L"TMP", L"TEMP", L"ZORVEK_HOSTS"})
      saved_.emplace_back(name, zorvek::environmentVariable(name));
    zorvek::setEnvironmentVariable(L"TMP", setupTemp());
    zorvek::setEnvironmentVariable(L"TEMP", setupTemp());
    zorvek::setEnvironmentVariable(L"ZORVEK_HOSTS", hostsFile());
    std::string error;
    EXPECT_TRUE(program_.start(distInstaller(), arguments, &error)) << error;
    if (program_.pid())
      hwnd_ = zorvek::test::waitForWindow(program_.pid(), kWizardClass, kWindowWaitMs);
    // Found as soon as it exists: its controls come before it is shown.
    EXPECT_TRUE(zorvek::test::waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  }
  ~WizardRun() {
    program_.kill();
    for (const auto& [name, value] : saved_) zorvek::setEnvironmentVariable(name, value);
  }
  WizardRun(const WizardRun&) = delete;
  WizardRun& operator=(const WizardRun&) = delete;

  HWND window() const { return hwnd_; }
  DWORD pid() const { return program_.pid(); }
  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  LRESULT send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(item(id), message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
  }
  std::wstring text(int id) const {
    wchar_t buffer[1024] = {};
    send(id, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
  }
  void setText(int id, const std::wstring& text) const {
    send(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  bool shown(int id) const { return IsWindowVisible(item(id)) != FALSE; }
  bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
  bool checked(int id) const { return send(id, BM_GETCHECK) == BST_CHECKED; }

  // What a button sends its window when clicked.
  void click(int id) const {
    PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item(id)));
  }
  // A check box toggles itself under the mouse, then tells the window.
  void toggle(int id) const { send(id, BM_CLICK); }

  int page() const {
    if (text(kNextButton) == L"Закрыть") return kFinishPage;
    if (shown(kLogList)) return kWorkPage;
    return shown(kFolderEdit) ? kOptionsPage : kWelcomePage;
  }
  bool waitPage(int page, uint32_t ms = 5000) const {
    return zorvek::test::waitFor([&] { return this->page() == page; }, ms);
  }

  zorvek::test::Image capture(const char* name) const {
    zorvek::test::Image image = zorvek::test::captureClient(hwnd_);
    const fs::path artifacts = binFolder().parent_path() / "gui-artifacts";
    fs::create_directories(artifacts);
    EXPECT_TRUE(zorvek::test::keepCapture(image, name, zorvek::pathToWide(artifacts))) << name;
    return image;
  }

  // From the welcome page to the finish page, the work done in `folder` (empty: the one the
  // wizard offers).
  bool walk(const std::wstring& folder, bool untickAutostart = false) const {
    click(kNextButton);
    if (!waitPage(kOptionsPage)) return false;
    if (untickAutostart) toggle(kAutostartBox);
    if (!folder.empty()) setText(kFolderEdit, folder);
    click(kNextButton);
    return waitPage(kFinishPage, kWorkWaitMs);
  }

  DWORD exitCode() {
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(program_.waitExit(30000, &code)) << "the wizard did not end";
    return code;
  }

 private:
  zorvek::test::Program program_;
  HWND hwnd_ = nullptr;
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// The band's gradient steps, the emblem in `emblem` and the page's background.
void expectBand(const zorvek::test::Image& image, COLORREF emblem) {
  using zorvek::test::closeTo;
  using zorvek::test::describe;
  ASSERT_FALSE(image.empty());
  for (int i : {0, 20, 40, 63}) {
    const Rgb c = bandColor(i);
    const int y = (image.height * i / kBandSteps + image.height * (i + 1) / kBandSteps) / 2;
    EXPECT_TRUE(closeTo(image.at(px(4), y), RGB(c.r, c.g, c.b), 2))
        << "band " << i << ": " << describe(image.at(px(4), y));
  }
  const RECT shield{px(60), px(50), px(170), px(150)};
  const int area = (shield.right - shield.left) * (shield.bottom - shield.top);
  EXPECT_GT(zorvek::test::countLike(image, shield, emblem, 40), area / 5) << "emblem colour";
  EXPECT_TRUE(closeTo(image.at(px(690), px(8)), kBackground, 2)) << describe(image.at(px(690), px(8)));
}

// Pixels of `color` in the text under the finish page's title.
int resultTextPixels(const zorvek::test::Image& image, COLORREF color) {
  return zorvek::test::countLike(image, {px(258), px(64), px(672), px(130)}, color, 40);
}

TEST(InstallE2eTest, WizardLeftBeforeTheWorkExitsWithOne) {
  REQUIRE_DISPLAY();
  {
    // Escape on the welcome page is "Отмена".
    WizardRun w(L"");
    ASSERT_TRUE(w.window()) << "no wizard window";
    PostMessageW(w.item(kNextButton), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_EQ(w.exitCode(), 1u);
  }
  WizardRun w(L"/uninstall");
  ASSERT_TRUE(w.window()) << "no wizard window";
  w.click(kNextButton);
  ASSERT_TRUE(w.waitPage(kOptionsPage));
  w.click(kCancelButton);
  EXPECT_EQ(w.exitCode(), 1u);
  EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"<missing>")
      << "nothing was done";
}

TEST(InstallE2eTest, WizardInstallIntoAFolderThatCannotBeMadeFails) {
  REQUIRE_DISPLAY();
  // A file where a folder of the path should be.
  const std::wstring blocker = joinWindowsPath(scratch(L"wizard-blocked"), L"not-a-folder");
  zorvek::test::writeFile(blocker, "a file");
  WizardRun w(L"");
  ASSERT_TRUE(w.window()) << "no wizard window";
  // Enter reaches the main button through the dialog navigation of the message loop.
  PostMessageW(w.item(kNextButton), WM_KEYDOWN, VK_RETURN, 1);
  PostMessageW(w.item(kNextButton), WM_KEYUP, VK_RETURN, 0xC0000001);
  ASSERT_TRUE(w.waitPage(kOptionsPage)) << "Enter did not press the main button";
  w.click(kBackButton);
  ASSERT_TRUE(w.waitPage(kWelcomePage));
  ASSERT_TRUE(w.walk(joinWindowsPath(blocker, kProductName)));
  EXPECT_FALSE(w.shown(kLaunchBox));
  EXPECT_FALSE(w.enabled(kCancelButton));
  const auto image = w.capture("wizard-failed");
  expectBand(image, kOrange);
  EXPECT_GT(resultTextPixels(image, kRed), 20) << "red result text";
  EXPECT_EQ(resultTextPixels(image, kGreen), 0);
  w.click(kNextButton);
  EXPECT_EQ(w.exitCode(), 1u);
  EXPECT_FALSE(zorvek::pathExists(joinWindowsPath(blocker, kProductName)));
}

TEST(InstallE2eTest, WizardInstallWalk) {
  REQUIRE_DISPLAY();
  const std::wstring folder = wizardFolder();
  const std::wstring chosen = kWizardParent;
  ASSERT_TRUE(zorvek::createDirectories(chosen));
  WizardRun w(L"");
  ASSERT_TRUE(w.window()) << "no wizard window";

  RECT client{};
  GetClientRect(w.window(), &client);
  EXPECT_EQ(client.right, px(700));
  EXPECT_EQ(client.bottom, px(500));
  // The icon is checked in the program file (SetupProgramTest): Wine answers neither
  // GetClassLongPtrW nor WM_GETICON for another process's window.
  wchar_t title[64] = {};
  GetWindowTextW(w.window(), title, 64);
  EXPECT_EQ(utf8(title), "ZORVEK Antivirus");

  // Welcome.
  EXPECT_EQ(utf8(w.text(kNextButton)), "Установить");
  EXPECT_FALSE(w.enabled(kBackButton));
  EXPECT_TRUE(w.enabled(kCancelButton));
  for (int id : {kFolderEdit, kAutostartBox, kDriverBox, kLogList, kLaunchBox}) EXPECT_FALSE(w.shown(id)) << id;
  expectBand(w.capture("wizard-welcome"), kOrange);

  // Options: back once and forth again, then the folder from the picker, which starts where the
  // box points.
  w.click(kNextButton);
  ASSERT_TRUE(w.waitPage(kOptionsPage));
  w.click(kBackButton);
  ASSERT_TRUE(w.waitPage(kWelcomePage));
  w.click(kNextButton);
  ASSERT_TRUE(w.waitPage(kOptionsPage));
  EXPECT_EQ(utf8(w.text(kNextButton)), "Далее");
  EXPECT_TRUE(w.enabled(kBackButton));
  EXPECT_EQ(utf8(w.text(kFolderLabel)), "Каталог:");
  EXPECT_EQ(w.text(kFolderEdit), defaultInstallDir(zorvek::knownFolder(zorvek::KnownFolder::ProgramFiles)));
  EXPECT_TRUE(w.checked(kAutostartBox));
  EXPECT_TRUE(w.checked(kDriverBox));
  w.setText(kFolderEdit, chosen);
  w.click(kBrowseButton);
  const HWND picker = zorvek::test::waitForWindow(w.pid(), L"#32770", 10000);
  ASSERT_TRUE(picker) << "no folder picker";
  ASSERT_TRUE(zorvek::test::waitFor([&] { return IsWindowEnabled(GetDlgItem(picker, IDOK)) != FALSE; }, 5000));
  PostMessageW(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(zorvek::test::waitFor([&] { return w.text(kFolderEdit) == folder; }, 5000))
      << utf8(w.text(kFolderEdit));
  w.toggle(kAutostartBox);
  EXPECT_FALSE(w.checked(kAutostartBox));
  w.capture("wizard-options");

  // Work. "Отмена" and closing the window come in right behind the start: both meet the work
  // running, whatever its speed.
  w.click(kNextButton);
  w.click(kCancelButton);
  PostMessageW(w.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(zorvek::test::waitFor([&] { return !w.enabled(kCancelButton); }, 5000));
  EXPECT_TRUE(IsWindow(w.window()));
  EXPECT_TRUE(w.shown(kProgressBar));
  EXPECT_TRUE(zorvek::test::waitFor([&] { return w.send(kLogList, LB_GETCOUNT) > 0; }, 30000));
  if (w.page() == kWorkPage) w.capture("wizard-work");

  ASSERT_TRUE(w.waitPage(kFinishPage, kWorkWaitMs));
  EXPECT_TRUE(IsWindow(w.window())) << "closed during the work";
  const LRESULT lines = w.send(kLogList, LB_GETCOUNT);
  EXPECT_GT(lines, 5);
  // The list followed the lines: the last one is in view.
  RECT list{};
  GetClientRect(w.item(kLogList), &list);
  const auto itemHeight = static_cast<int>(w.send(kLogList, LB_GETITEMHEIGHT));
  ASSERT_GT(itemHeight, 0);
  EXPECT_GE(w.send(kLogList, LB_GETTOPINDEX) + list.bottom / itemHeight, lines - 1);

  EXPECT_TRUE(w.shown(kLaunchBox));
  EXPECT_TRUE(w.checked(kLaunchBox));
  EXPECT_EQ(utf8(w.text(kLaunchBox)), "Запустить ZORVEK Antivirus сейчас");
  EXPECT_FALSE(w.enabled(kCancelButton));
  const auto finish = w.capture("wizard-finish");
  expectBand(finish, kGreen);
  EXPECT_GT(resultTextPixels(finish, kGreen), 20) << "green result text";

  for (const wchar_t* name : kProgramFiles) EXPECT_TRUE(zorvek::pathExists(joinWindowsPath(folder, name))) << utf8(name);
  EXPECT_TRUE(zorvek::pathExists(seedDatabaseFor(folder)));
  EXPECT_EQ(regString(HKEY_CURRENT_USER, kRunKey, kRunValue), L"<missing>") << "autostart was unticked";
  EXPECT_EQ(regString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder);
  EXPECT_EQ(serviceState().state, static_cast<DWORD>(SERVICE_RUNNING));

  // "Закрыть" with the box ticked opens the desktop program.
  w.click(kNextButton);
  EXPECT_EQ(w.exitCode(), 0u);
  HWND desktop = nullptr;
  EXPECT_TRUE(zorvek::test::waitFor([&] { return (desktop = FindWindowW(L"ZorvekMainWindow", nullptr)) != nullptr; },
                                    kWindowWaitMs))
      << "the desktop program did not open";
  if (desktop) {
    DWORD pid = 0;
    GetWindowThreadProcessId(desktop, &pid);
    const zorvek::UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (process) {
      TerminateProcess(process.get(), 0);
      WaitForSingleObject(process.get(), 10000);
    }
  }
}

TEST(InstallE2eTest, WizardRepairWalk) {
  REQUIRE_DISPLAY();
  WizardRun w(L"/repair");
  ASSERT_TRUE(w.window()) << "no wizard window";
  EXPECT_EQ(utf8(w.text(kNextButton)), "Восстановить");
  w.capture("wizard-repair");
  // Started without "/dir=" like the entry in the list of installed programs: the wizard offers
  // the folder the installation is in.
  w.click(kNextButton);
  ASSERT_TRUE(w.waitPage(kOptionsPage));
  EXPECT_EQ(w.text(kFolderEdit), wizardFolder());
  w.click(kBackButton);
  ASSERT_TRUE(w.waitPage(kWelcomePage));
  ASSERT_TRUE(w.walk({}, true));
  EXPECT_TRUE(w.shown(kLaunchBox));
  expectBand(w.capture("wizard-repair-finish"), kGreen);
  w.toggle(kLaunchBox);  // nothing to open this time
  w.click(kNextButton);
  EXPECT_EQ(w.exitCode(), 0u);
  EXPECT_EQ(serviceState().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(regString(HKEY_CURRENT_USER, kRunKey, kRunValue), L"<missing>");
}

TEST(InstallE2eTest, WizardRemovalWalk) {
  REQUIRE_DISPLAY();
  const std::wstring folder = wizardFolder();
  WizardRun w(L"/uninstall");
  ASSERT_TRUE(w.window()) << "no wizard window";
  EXPECT_EQ(utf8(w.text(kNextButton)), "Удалить");
  w.capture("wizard-removal");
  ASSERT_TRUE(w.walk({}));
  EXPECT_FALSE(w.shown(kLaunchBox));
  const auto image = w.capture("wizard-removal-finish");
  expectBand(image, kGreen);
  EXPECT_GT(resultTextPixels(image, kGreen), 20);
  w.click(kNextButton);
  EXPECT_EQ(w.exitCode(), 0u);
  EXPECT_FALSE(serviceState().exists);
  EXPECT_FALSE(zorvek::pathExists(folder)) << "the installation the wizard offered is removed";
}

}  // namespace
}  // namespace setup
