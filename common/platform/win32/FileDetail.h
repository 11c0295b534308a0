#pragma once
// What the Windows file, folder and client-identity implementations share.

#include <cstdint>
#include <string>

#include "common/platform/File.h"
#include "common/platform/win32/Win.h"

namespace zorvek::detail {

// The path as the file API takes it beyond MAX_PATH: long paths get the "\\?\" (or "\\?\UNC\")
// prefix after normalisation; short ones stay as they are.
std::wstring extendedPath(const std::wstring& path);
// The path made whole and clean by the system (GetFullPathNameW); unchanged when it cannot be.
std::wstring fullPath(const std::wstring& path);

OpenFailure failureOf(DWORD code);
std::string win32Text(const char* what, DWORD code);
bool fileInfoOf(HANDLE h, FileInfo& out);
// Keeps `h` in `handle` when it is a regular file on disk (not a folder, pipe, console or other
// device, nor a reparse point when `links` refuses them); otherwise closes it and fails.
bool adoptRegularFile(HANDLE h, Links links, intptr_t& handle, std::string* error,
                      OpenFailure* why);

// The pipe client this thread acts for (ClientIdentity.h), or null when it acts for the service
// itself. Opens check the client's token against each object before they use it.
HANDLE actingClientToken();
// True when `token` is null or the object behind `h` (opened with READ_CONTROL) grants `access`
// to it.
bool tokenMayAccess(HANDLE token, HANDLE h, ACCESS_MASK access);

}  // namespace zorvek::detail
