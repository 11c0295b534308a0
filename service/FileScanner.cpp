#include "service/FileScanner.h"

#include <array>
#include <chrono>
#include <string_view>
#include <utility>

#include "common/Text.h"
#include "common/platform/File.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

constexpr std::array<std::wstring_view, 41> kScannedExtensions = {
    L".exe", L".dll", L".sys", L".scr", L".cpl",   L".ocx",  L".drv", L".com", L".pif",
    L".msi", L".msp", L".mst", L".jar", L".apk",   L".bat",  L".cmd", L".ps1", L".vbs",
    L".vbe", L".js",  L".jse", L".wsf", L".wsh",   L".hta",  L".lnk", L".chm", L".reg",
    L".sh",  L".py",  L".pl",  L".rb",  L".php",   L".elf",  L".so",  L".dylib", L".class",
    L".swf", L".iso", L".img", L".vhd", L".vhdx"};

constexpr std::array<std::wstring_view, 2> kNeverScannedParts = {L"\\$recycle.bin\\",
                                                                 L"\\system volume information\\"};

constexpr std::array<std::wstring_view, 6> kNeverScannedNames = {
    L"desktop.ini", L"thumbs.db", L"pagefile.sys", L"hiberfil.sys", L"swapfile.sys",
    L"dumpstack.log.tmp"};

constexpr std::array<std::wstring_view, 7> kCoreSystemFiles = {
    L"ntoskrnl.exe", L"hal.dll", L"ndis.sys", L"bootvid.dll", L"kdcom.dll", L"win32k.sys",
    L"ci.dll"};

template <size_t N>
bool isOneOf(std::wstring_view text, const std::array<std::wstring_view, N>& table) {
  for (const auto& t : table)
    if (text == t) return true;
  return false;
}

uint64_t elapsedMsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

}  // namespace

bool isExcludedFolder(const std::wstring& folderPath) {
  // With the separator appended, a prefix ending in one matches the folder itself and what is
  // below it, but not a sibling that merely starts with the same letters.
  const std::wstring lower = asciiLower(folderPath) + pathSeparator();
  for (const auto& prefix : excludedFolderPrefixes())
    if (lower.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

FileScanner::FileScanner(std::shared_ptr<const SignatureDatabase> database, Options options)
    : database_(std::move(database)), options_(options) {}

bool FileScanner::shouldScan(const std::wstring& path) const {
  std::wstring lower = asciiLower(path);
  if (lower.size() < 5) return false;
  // Either separator may spell the path; the part table is written with backslashes.
  std::wstring parts = lower;
  for (auto& c : parts)
    if (c == L'/') c = L'\\';
  for (const auto& part : kNeverScannedParts)
    if (parts.find(part) != std::wstring::npos) return false;
  const size_t slash = lower.find_last_of(L"\\/");
  const std::wstring_view name =
      slash == std::wstring::npos ? std::wstring_view(lower) : std::wstring_view(lower).substr(slash + 1);
  if (name.empty()) return false;
  if (isOneOf(name, kNeverScannedNames)) return false;
  if (options_.skipCoreSystemFiles && isOneOf(name, kCoreSystemFiles)) return false;
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  return isOneOf(name.substr(dot), kScannedExtensions);
}

EvaluationOptions FileScanner::evaluationOptions() const {
  EvaluationOptions o;
  o.maxFileSize = options_.maxFileSize;
  o.hashChunkSize = options_.hashChunkSize;
  o.cancel = &cancelled_;
  return o;
}

FileVerdict FileScanner::evaluate(const std::wstring& path) const {
  return evaluateFile(path, database_.get(), evaluationOptions());
}

FileVerdict FileScanner::evaluate(const WalkEntry& file) const {
  return evaluateFileIn(file.folder, file.name, file.path, database_.get(), evaluationOptions(),
                        file.links);
}

void FileScanner::walk(const ScanTarget& target, const FileVisitor& visitor,
                       const std::atomic<bool>& stop, const FolderErrorCallback& folderError) const {
  if (stop.load()) return;
  const auto report = [&](const std::wstring& folder, const std::string& error) {
    if (folderError) folderError(folder, error.empty() ? std::string("cannot open folder") : error);
  };

  // One frame per folder on the way down: its entries and the next one to look at. Iterative, so
  // deep trees cannot exhaust the stack. Only the deepest frames keep their folder open (see
  // maxHeldFolders); the others are found again through ".." and recognised by their identity.
  struct Frame {
    std::wstring path;
    Folder folder;
    FileIdentity identity;
    std::vector<DirEntry> entries;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  size_t firstHeld = 0;  // frames from here to the top hold their folder open

  const auto enter = [&](Frame& frame) {
    std::string error;
    FileInfo info;
    if (!frame.folder.list(frame.entries, &error) || !frame.folder.info(info)) {
      report(frame.path, error);
      return false;
    }
    frame.identity = info.identity;
    return true;
  };

  {
    Frame root;
    root.path = target.path;
    std::string error;
    OpenFailure why = OpenFailure::None;
    // The target itself is taken as named, links and all; below it nothing is followed.
    if (!root.folder.open(target.path, Links::Follow, Folder::Purpose::List, &error, &why)) {
      // A target that does not exist, or names a file, yields nothing and no error.
      if (why != OpenFailure::NotFound && why != OpenFailure::NotFolder) report(target.path, error);
      return;
    }
    if (!enter(root)) return;
    stack.push_back(std::move(root));
  }

  while (!stack.empty()) {
    if (stop.load()) return;
    Frame& top = stack.back();
    if (top.next >= top.entries.size()) {
      const size_t parent = stack.size() - 2;
      if (stack.size() >= 2 && parent < firstHeld) {
        Frame& above = stack[parent];
        std::string error;
        FileInfo info;
        if (!above.folder.openParentOf(top.folder, &error) || !above.folder.info(info) ||
            !(info.identity == above.identity)) {
          // Moved away during the scan: what is left of the walk above could be anywhere.
          report(above.path, error.empty() ? "the folder was moved during the scan" : error);
          return;
        }
        firstHeld = parent;
      }
      stack.pop_back();
      continue;
    }
    const DirEntry& entry = top.entries[top.next++];
    const std::wstring full = joinPath(top.path, entry.name);
    DirEntry::Kind kind = entry.kind;
    Links links = Links::Refuse;
    if (kind == DirEntry::Kind::Link) {
      // Followed links can form cycles; a bounded depth ends them.
      if (!options_.followLinks || stack.size() > 256) continue;
      links = Links::Follow;
      Folder probe;
      kind = probe.openChild(top.folder, entry.name, Links::Follow, Folder::Purpose::List)
                 ? DirEntry::Kind::Directory
                 : DirEntry::Kind::File;
    }
    if (kind == DirEntry::Kind::File) {
      visitor(WalkEntry{full, top.folder, entry.name, links});
    } else if (kind == DirEntry::Kind::Directory) {
      if (!target.recursive || isExcludedFolder(full)) continue;
      Frame child;
      child.path = full;
      std::string error;
      // A folder swapped for a link since it was listed is refused here, not followed.
      if (!child.folder.openChild(top.folder, entry.name, links, Folder::Purpose::List, &error)) {
        report(full, error);
        continue;
      }
      if (!enter(child)) continue;
      stack.push_back(std::move(child));
      if (stack.size() - firstHeld > maxHeldFolders()) stack[firstHeld++].folder.close();
    }
  }
}

ScanProgressInfo FileScanner::measure(const std::vector<ScanTarget>& targets,
                                      const std::atomic<bool>& stop) const {
  ScanProgressInfo info;
  info.phase = L"counting";
  for (const ScanTarget& target : targets) {
    if (stop.load()) break;
    walk(target, [&](const WalkEntry& file) {
      if (!shouldScan(file.path)) return;
      FileInfo entry;
      if (!file.folder.entryInfo(file.name, entry)) return;
      ++info.filesTotal;
      info.bytesTotal += entry.size;
    }, stop);
  }
  return info;
}

ScanProgressInfo FileScanner::measure(const std::vector<ScanTarget>& targets) const {
  const std::atomic<bool> never{false};
  return measure(targets, never);
}

ScanSummary FileScanner::scan(const std::vector<ScanTarget>& targets,
                              const ProgressCallback& progress, const VerdictCallback& verdict,
                              const FolderErrorCallback& folderError) {
  const auto start = std::chrono::steady_clock::now();
  cancelled_.store(false);
  ScanSummary summary;
  ScanProgressInfo info;
  info.phase = L"scanning";
  if (progress) progress(info);
  auto lastReport = std::chrono::steady_clock::now();

  const auto onFolderError = [&](const std::wstring& folder, const std::string& error) {
    ++summary.foldersUnreadable;
    if (folderError) folderError(folder, error);
  };
  for (const ScanTarget& target : targets) {
    if (cancelled_.load()) break;
    walk(target, [&](const WalkEntry& file) {
      if (cancelled_.load() || !shouldScan(file.path)) return;
      info.currentFile = file.path;
      const FileVerdict v = evaluate(file);
      // Cut short by the cancel: neither judged nor unreadable.
      if (v.readError == kCancelledRead && cancelled_.load()) return;
      ++info.filesDone;
      info.bytesDone += v.size;
      if (countsAsUnreadable(v)) {
        ++summary.filesUnreadable;
      } else {
        ++summary.filesScanned;
        summary.bytesScanned += v.size;
        if (countsAsThreat(v)) ++summary.threats;
        else if (countsAsSuspicious(v)) ++summary.suspicious;
      }
      if (progress && elapsedMsSince(lastReport) >= kProgressIntervalMs) {
        progress(info);
        lastReport = std::chrono::steady_clock::now();
      }
      if (verdict) verdict(v);
    }, cancelled_, onFolderError);
  }

  info.phase = L"finishing";
  if (progress) progress(info);
  summary.cancelled = cancelled_.load();
  summary.elapsedMs = elapsedMsSince(start);
  return summary;
}

std::vector<ScanTarget> FileScanner::quickScanTargets() {
  std::vector<ScanTarget> out;
  for (auto& t : platformQuickScanTargets()) out.push_back({std::move(t.path), t.recursive});
  return out;
}

std::vector<ScanTarget> FileScanner::fullScanTargets(bool includeRemovable) {
  std::vector<ScanTarget> out;
  for (auto& t : platformFullScanTargets(includeRemovable))
    out.push_back({std::move(t.path), t.recursive});
  return out;
}

}  // namespace zorvek
