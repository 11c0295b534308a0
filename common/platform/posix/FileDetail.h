#pragma once
// What the POSIX file and folder implementations share.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "common/platform/File.h"

namespace zorvek::detail {

OpenFailure failureOf(int err);
FileInfo fileInfoOf(const struct stat& st);
// Keeps `fd` in `handle` when it is a regular file; otherwise closes it and fails. `fd` must have
// been opened with O_NONBLOCK, so that a FIFO or device swapped in for the file could not block
// the open; the flag is cleared again for a regular file.
bool adoptRegularFile(int fd, intptr_t& handle, std::string* error, OpenFailure* why);

}  // namespace zorvek::detail
