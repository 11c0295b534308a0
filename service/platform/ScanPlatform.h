#pragma once
// File system facts the scanner needs that differ between the platforms.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvek {

struct FileAttributes {
  uint64_t size = 0;      // 0 for folders
  uint64_t modified = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  bool directory = false;
  bool regular = false;  // an ordinary file: not a folder, FIFO, socket or device
};
// Follows links, as opening the file does. False (with the reason) when the path cannot be
// queried.
bool readFileAttributes(const std::wstring& path, FileAttributes& out, std::string* error = nullptr);

// Joins a folder and a name with the platform separator (no doubled separator after a root).
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

// Lower-cased prefixes of folders never entered by a walk.
const std::vector<std::wstring>& excludedFolderPrefixes();

struct ScanTargetSpec {
  std::wstring path;
  bool recursive = true;
};
std::vector<ScanTargetSpec> platformQuickScanTargets();
std::vector<ScanTargetSpec> platformFullScanTargets(bool includeRemovable);

}  // namespace zorvek
