#include "service/net/SelfUpdate.h"

#include <algorithm>

#include "common/Fail.h"
#include "common/Hash.h"
#include "common/HexDigest.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/Version.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "service/engine/EngineAccess.h"
#include "service/net/HttpClient.h"
#include "service/net/UpdateServer.h"

namespace zorvek::svc {
namespace {

// Written in pieces so that the write-fault hook of the tests can strike midway.
constexpr size_t kWriteChunk = 1 << 20;
constexpr wchar_t kUpdatesFolder[] = L"updates";

// A character that names no folder, drive, stream or device part in a file name on either
// platform.
bool isVersionChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

bool isSafeVersion(std::string_view version) {
  return !version.empty() && version.size() <= kMaxVersionChars &&
         std::all_of(version.begin(), version.end(), isVersionChar);
}

bool looksLikeInstaller(std::string_view bytes) {
  return bytes.size() >= kMinInstallerBytes && bytes[0] == 'M' && bytes[1] == 'Z';
}

std::wstring inUpdates(const std::wstring& dataFolder, const std::wstring& name) {
  return dataFolder + pathSeparator() + kUpdatesFolder + pathSeparator() + name;
}

// Opens updates inside the data folder, made when missing. A link or junction planted at its name
// is refused, not followed: whoever may create it must not choose where a service with full
// rights writes and moves an executable.
bool openUpdatesFolder(const std::wstring& dataFolder, Folder& updates) {
  Folder data;
  return data.open(dataFolder, Links::Follow, Folder::Purpose::Modify, nullptr, nullptr, true) &&
         updates.openChild(data, kUpdatesFolder, Links::Refuse, Folder::Purpose::Modify, nullptr,
                           nullptr, true);
}

// The bytes go to a fresh temporary file first; only a complete, closed file is moved over an
// earlier download of the same version. Both names are used inside the folder that was opened.
bool saveInstaller(const std::wstring& dataFolder, const std::wstring& name,
                   std::string_view bytes, const SelfUpdateOptions& options, std::string* error) {
  const std::wstring temp = name + L".tmp";
  const std::string cannotWrite = "не удалось записать " + toUtf8(inUpdates(dataFolder, temp));
  Folder updates;
  if (!openUpdatesFolder(dataFolder, updates)) return fail(error, cannotWrite);
  OutputFile out;
  if (!out.createIn(updates, temp)) return fail(error, cannotWrite);
  bool written = true;
  for (size_t offset = 0; written && offset < bytes.size(); offset += kWriteChunk) {
    const size_t piece = std::min(kWriteChunk, bytes.size() - offset);
    written = (!options.writeFault || options.writeFault(offset)) &&
              out.write(bytes.data() + offset, piece);
  }
  if (!written || !out.finish()) {
    out.discard();
    return fail(error, cannotWrite);
  }
  unsigned long code = 0;
  if (!replaceFileIn(updates, temp, name, &code)) {
    removeFileIn(updates, temp);
    return fail(error, "не удалось сохранить установщик, win32=" + std::to_string(code));
  }
  return true;
}

}  // namespace

bool jsonStringValue(std::string_view text, std::string_view key, std::string* value) {
  std::string quoted;
  quoted.reserve(key.size() + 2);
  quoted.append(1, '"').append(key).append(1, '"');
  const size_t at = text.find(quoted);
  if (at == std::string_view::npos) return false;
  const size_t colon = text.find(':', at + quoted.size());
  if (colon == std::string_view::npos) return false;
  const size_t open = text.find('"', colon + 1);
  if (open == std::string_view::npos) return false;
  std::string out;
  for (size_t i = open + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      if (value) *value = std::move(out);
      return true;
    }
    if (c == '\\') {
      if (++i == text.size()) break;
      c = text[i];
    }
    out.push_back(c);
  }
  return false;  // the value never ends
}

bool readWindowsRelease(std::string_view body, WindowsRelease& release, std::string* error) {
  release = {};
  constexpr std::string_view kWindows = "\"windows\"", kAndroid = "\"android\"";
  const size_t start = body.find(kWindows);
  if (start == std::string_view::npos) return fail(error, "в releases.json нет секции windows");
  const size_t end = body.find(kAndroid, start + kWindows.size());
  const std::string_view section =
      body.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
  if (!jsonStringValue(section, "version", &release.version) ||
      !jsonStringValue(section, "url", &release.url))
    return fail(error, "в секции windows нет version/url");
  release.hasSha256 = jsonStringValue(section, "sha256", &release.sha256);
  return true;
}

bool checkRelease(WindowsRelease& release, std::string* error) {
  // The version becomes part of a file name that a service with full rights writes: anything
  // that could leave the updates folder or name a stream or device is refused.
  if (!isSafeVersion(release.version))
    return fail(error, "недопустимая версия в releases.json: " + release.version);
  if (release.hasSha256) {
    uint8_t bytes[32];
    if (release.sha256.size() != 64 || !sigdb::decodeDigest(release.sha256, bytes))
      return fail(error, "недопустимая контрольная сумма в releases.json: " + release.sha256);
    release.sha256 = asciiLower(release.sha256);
  }
  return true;
}

bool checkForUpdate(SelfUpdateAccess& engine, std::string* error,
                    const SelfUpdateOptions& options) {
  const ServiceConfig config = engine.snapshotConfig();
  if (config.updateServer.empty())
    return fail(error, "не задан сервер обновлений (строка UpdateServer в settings.ini)");
  const HttpOptions http{kHttpTimeoutMs, [&engine] { return engine.stopping(); }};
  std::string body, failure;
  if (!httpGet(updateServerUrl(config.updateServer, kReleasesPath), &body, &failure, http))
    return fail(error, failure);

  WindowsRelease release;
  if (!readWindowsRelease(body, release, error)) return false;
  body = std::string();
  // No ordering of versions: any other text, older or newer, is offered.
  if (release.version == kVersion) {
    engine.setDownloadedInstaller(L"");
    if (error) error->clear();
    return true;
  }
  if (!checkRelease(release, error)) return false;

  std::string installer;
  if (!httpGet(release.url, &installer, &failure, http))
    return fail(error, "загрузка установщика: " + failure);
  if (!looksLikeInstaller(installer)) return fail(error, "по ссылке не похоже на Windows-установщик");
  if (release.hasSha256) {
    hash::Sha256 sha;
    sha.update(installer.data(), installer.size());
    if (sha.finalDigest() != release.sha256)
      return fail(error, "контрольная сумма установщика не совпала");
  }

  const std::wstring name = L"ZorvekSetup-" + toWide(release.version) + L".exe";
  if (!saveInstaller(engine.dataFolder(), name, installer, options, error)) return false;
  engine.setDownloadedInstaller(inUpdates(engine.dataFolder(), name));
  logInfo("self update: installer " + release.version + " saved to updates" +
          (release.hasSha256 ? " (sha256 checked)"
                             : " (releases.json gives no sha256: digest not checked)"));
  if (error) error->clear();
  return true;
}

}  // namespace zorvek::svc
