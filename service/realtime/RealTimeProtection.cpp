#include "service/realtime/RealTimeProtection.h"

#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek::svc {

RealTimeProtection::RealTimeProtection(RealTimeOptions options)
    : minifilter_(std::move(options.filterPort)), watcher_(std::move(options.watcher)) {}

std::shared_ptr<RealTimeProtection> RealTimeProtection::install(EngineHooks& hooks,
                                                                RealTimeOptions options) {
  auto self = std::make_shared<RealTimeProtection>(std::move(options));
  hooks.connectMinifilter = [self](RealTimeAccess& engine, std::string* error) {
    return self->minifilter_.connect(
        [&engine](const std::wstring& path) { return engine.realTimeCheck(path); }, error);
  };
  hooks.disconnectMinifilter = [self] { self->minifilter_.disconnect(); };
  hooks.realTimeWatch = [self](RealTimeAccess& engine) {
    runDirectoryWatcher(engine, self->watcher_, self->counters_);
  };
  return self;
}

std::vector<std::wstring> watchedFoldersFromEnvironment() {
  std::vector<std::wstring> out;
  const auto value = environmentVariable(L"ZORVEK_WATCH_DIRS");
  if (!value) return out;
  const wchar_t separator = pathSeparator() == L'\\' ? L';' : L':';
  size_t start = 0;
  while (start <= value->size()) {
    size_t end = value->find(separator, start);
    if (end == std::wstring::npos) end = value->size();
    if (end > start) out.push_back(value->substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace zorvek::svc
