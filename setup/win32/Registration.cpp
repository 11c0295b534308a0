#include "setup/win32/Registration.h"

#include "common/platform/win32/Win.h"

#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "common/Version.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "setup/InstallLayout.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/WinError.h"

namespace setup {
namespace {

using zorvek::ComPtr;
using zorvek::UniqueRegKey;

LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS setDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

std::wstring startMenuFolder() {
  const std::wstring programs = zorvek::knownFolder(zorvek::KnownFolder::Programs);
  return programs.empty() ? std::wstring() : joinWindowsPath(programs, kProductName);
}

std::wstring desktopShortcut() {
  const std::wstring desktop = zorvek::knownFolder(zorvek::KnownFolder::Desktop);
  return desktop.empty() ? std::wstring() : joinWindowsPath(desktop, kShortcutName);
}

// COM for the calling thread for as long as the object lives; usable also when the thread
// already runs COM in the other apartment model.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

bool saveShortcut(const std::wstring& link, const std::wstring& installDir) {
  ComPtr<IShellLinkW> shell;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              shell.putVoid())))
    return false;
  const std::wstring target = desktopProgramPath(installDir);
  ComPtr<IPersistFile> file;
  return SUCCEEDED(shell->SetPath(target.c_str())) &&
         SUCCEEDED(shell->SetWorkingDirectory(installDir.c_str())) &&
         SUCCEEDED(shell->SetDescription(kProductName)) &&
         SUCCEEDED(shell->SetIconLocation(target.c_str(), 0)) && SUCCEEDED(shell.as(file)) &&
         SUCCEEDED(file->Save(link.c_str(), TRUE));
}

}  // namespace

void writeUninstallEntry(const std::wstring& installDir, StepLog& log) {
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    log.error(L"запись в список установленных программ не создана");
    return;
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const struct {
    const wchar_t* name;
    std::wstring text;
  } strings[] = {
      {L"DisplayName", kProductName},
      {L"DisplayVersion", zorvek::kVersionW},
      {L"Publisher", kPublisher},
      {L"InstallLocation", installDir},
      {L"DisplayIcon", displayIcon(installDir)},
      {L"InstallDate", installDateText(now.wYear, now.wMonth, now.wDay)},
      {L"UninstallString", uninstallCommand(installDir, false)},
      {L"QuietUninstallString", uninstallCommand(installDir, true)},
  };
  const struct {
    const wchar_t* name;
    DWORD value;
  } numbers[] = {
      {L"EstimatedSize", estimatedSizeKb(installDir)},
      {L"NoModify", 0},
      {L"NoRepair", 0},
  };
  std::wstring failed;
  LSTATUS status = ERROR_SUCCESS;
  for (const auto& s : strings) {
    if (LSTATUS r = setString(key.get(), s.name, s.text); r != ERROR_SUCCESS) {
      failed += failed.empty() ? s.name : std::wstring(L", ") + s.name;
      status = r;
    }
  }
  for (const auto& n : numbers) {
    if (LSTATUS r = setDword(key.get(), n.name, n.value); r != ERROR_SUCCESS) {
      failed += failed.empty() ? n.name : std::wstring(L", ") + n.name;
      status = r;
    }
  }
  if (!failed.empty())
    log.error(L"запись в список установленных программ неполна (" + failed + L"): " +
              errorText(static_cast<uint32_t>(status)));
  else
    log.info(L"запись в списке установленных программ создана");
}

void deleteUninstallEntry() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0); }

std::wstring recordedInstallLocation() {
  DWORD bytes = 0;
  const DWORD flags = RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", flags, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS ||
      bytes < sizeof(wchar_t))
    return {};
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", flags, nullptr,
                   buffer.data(), &bytes) != ERROR_SUCCESS)
    return {};
  return std::wstring(buffer.data());
}

bool setAutostart(const std::wstring& installDir, uint32_t* code) {
  UniqueRegKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS) status = setString(key.get(), kRunValue, autostartCommand(installDir));
  if (code) *code = static_cast<uint32_t>(status);
  return status == ERROR_SUCCESS;
}

void removeAutostart() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue); }

void createShortcuts(const std::wstring& installDir, StepLog& log) {
  const ComScope com;
  if (!com.usable()) {
    log.error(L"COM недоступен, ярлыки не созданы");
    return;
  }
  const std::wstring menu = startMenuFolder();
  const bool menuMade = !menu.empty() &&
                        (CreateDirectoryW(menu.c_str(), nullptr) ||
                         GetLastError() == ERROR_ALREADY_EXISTS) &&
                        saveShortcut(joinWindowsPath(menu, kShortcutName), installDir);
  if (menuMade)
    log.info(L"ярлык в меню «Пуск» создан");
  else
    log.error(L"ярлык в меню «Пуск» не создан");
  const std::wstring desktop = desktopShortcut();
  if (!desktop.empty() && saveShortcut(desktop, installDir))
    log.info(L"ярлык на рабочем столе создан");
  else
    log.error(L"ярлык на рабочем столе не создан");
}

void removeShortcuts() {
  if (const std::wstring menu = startMenuFolder(); !menu.empty()) removeTree(menu);
  if (const std::wstring desktop = desktopShortcut(); !desktop.empty())
    DeleteFileW(desktop.c_str());
}

}  // namespace setup
