#include "tools/mkpayload/Mkpayload.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "setup/EntryName.h"
#include "setup/Payload.h"
#include "setup/PayloadFormat.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

struct Input {
  std::string name;  // the entry name
  fs::path path;
  uint64_t size = 0;
};

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string shown(const fs::path& p) { return pathToUtf8(p); }

// A regular file (or a link to one) enters the payload; FIFOs, devices and sockets would block
// or never end, so they are refused rather than read.
bool addFile(std::vector<Input>& inputs, std::string name, const fs::path& path, std::string* error) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec) return fail(error, "cannot read " + shown(path) + ": " + ec.message());
  if (!fs::is_regular_file(st)) return fail(error, "not a regular file: " + shown(path));
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) return fail(error, "cannot read " + shown(path) + ": " + ec.message());
  if (!setup::entryNameAllowed(name))
    return fail(error, "the installer would refuse the name \"" + name + "\" (" + shown(path) + ")");
  inputs.push_back({std::move(name), path, size});
  return true;
}

bool addItem(std::vector<Input>& inputs, const fs::path& item, std::string* error) {
  std::error_code ec;
  const fs::path clean = item.lexically_normal();
  const fs::path base = clean.has_filename() ? clean : clean.parent_path();
  const std::string baseName = pathToUtf8(base.filename());
  if (!fs::is_directory(item, ec)) return addFile(inputs, baseName, item, error);

  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(item, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec)) files.push_back(it->path());
  }
  if (ec) return fail(error, "cannot list " + shown(item) + ": " + ec.message());
  // Sorted, so the same tree always gives the same installer.
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::string name = baseName;
    for (const auto& part : f.lexically_relative(item)) {
      name += '/';
      name += pathToUtf8(part);
    }
    if (!addFile(inputs, std::move(name), f, error)) return false;
  }
  return true;
}

bool writeBytes(std::FILE* out, const void* data, size_t size) {
  return std::fwrite(data, 1, size, out) == size;
}

// Appends the whole file, which must still have the size measured when the list was made.
bool appendFile(std::FILE* out, const fs::path& path, uint64_t size, std::string* error) {
  InputFile in;
  std::string why;
  if (!in.open(pathToWide(path), InputFile::Share::ReadOnly, &why))
    return fail(error, "cannot open " + shown(path) + ": " + why);
  std::vector<char> buffer(1 << 18);
  uint64_t done = 0;
  for (;;) {
    const long long n = in.read(buffer.data(), buffer.size());
    if (n < 0) return fail(error, "cannot read " + shown(path));
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (done > size) break;
    if (!writeBytes(out, buffer.data(), static_cast<size_t>(n)))
      return fail(error, "cannot write the output");
  }
  if (done != size) return fail(error, shown(path) + " changed while it was read");
  return true;
}

bool writeInstaller(const fs::path& output, const fs::path& image, const std::vector<Input>& inputs,
                    uint64_t imageSize, std::string* error) {
  std::FILE* out = openStdioFile(pathToWide(output), "wb");
  if (!out) return fail(error, "cannot create " + shown(output));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(out, std::fclose);
  if (!appendFile(out, image, imageSize, error)) return false;

  uint64_t containerSize = setup::makeContainerHeader(0).size();
  for (const auto& in : inputs) containerSize += setup::makeEntryHeader(in.name, 0).size() + in.size;
  const std::string header = setup::makeContainerHeader(static_cast<uint32_t>(inputs.size()));
  if (!writeBytes(out, header.data(), header.size())) return fail(error, "cannot write the output");
  for (const auto& in : inputs) {
    const std::string entry = setup::makeEntryHeader(in.name, in.size);
    if (!writeBytes(out, entry.data(), entry.size())) return fail(error, "cannot write the output");
    if (!appendFile(out, in.path, in.size, error)) return false;
  }
  const std::string trailer = setup::makeTrailer(imageSize, containerSize);
  if (!writeBytes(out, trailer.data(), trailer.size()) || std::fclose(closer.release()) != 0)
    return fail(error, "cannot write the output");
  return true;
}

bool build(const std::vector<std::wstring>& args, size_t& entries, uint64_t& bytes,
           std::string* error) {
  const fs::path output = toPath(args[1]);
  const fs::path image = toPath(args[2]);

  std::error_code ec;
  if (!fs::is_regular_file(image, ec)) return fail(error, "not a regular file: " + shown(image));
  setup::InstallerPayload existing;
  existing.read(args[2]);
  // An image shorter than a trailer has none, though the installer would call it damaged.
  const uintmax_t onDisk = fs::file_size(image, ec);
  const bool tooShortForATrailer = !ec && onDisk < setup::kTrailerSize;
  if (existing.index().state != setup::PayloadState::Absent && !tooShortForATrailer) {
    return fail(error, existing.index().state == setup::PayloadState::Present
                           ? "the image already carries a payload: " + shown(image)
                           : "cannot use the image: " + existing.index().status);
  }
  const uint64_t imageSize = existing.source().size();

  std::vector<Input> inputs;
  for (size_t i = 3; i < args.size(); ++i) {
    if (!addItem(inputs, toPath(args[i]), error)) return false;
  }
  std::set<std::string> names;
  for (const auto& in : inputs) {
    if (!names.insert(in.name).second) return fail(error, "two entries named \"" + in.name + "\"");
  }
  if (inputs.size() > setup::kMaxEntries) return fail(error, "too many files");

  // Written beside the output and moved over it: a failed run leaves no half-built installer.
  const fs::path temporary =
      output.parent_path() / (pathToUtf8(output.filename()) + ".tmp" + std::to_string(currentProcessId()));
  if (!writeInstaller(temporary, image, inputs, imageSize, error)) {
    removeFile(pathToWide(temporary));
    return false;
  }
  bool readsBack = false;
  std::string status;
  {
    // Checked with the installer's own reader, which must let go of the file before the move.
    setup::InstallerPayload check;
    check.read(pathToWide(temporary));
    readsBack = check.index().state == setup::PayloadState::Present &&
                check.index().entries.size() == inputs.size();
    status = check.index().status;
    bytes = check.index().totalBytes();
  }
  if (!readsBack) {
    removeFile(pathToWide(temporary));
    return fail(error, "the written installer does not read back: " + status);
  }
  unsigned long code = 0;
  if (!moveFile(pathToWide(temporary), pathToWide(output), &code)) {
    removeFile(pathToWide(temporary));
    return fail(error, "cannot replace " + shown(output) + " (error " + std::to_string(code) + ")");
  }
  entries = inputs.size();
  return true;
}

}  // namespace

int runMkpayload(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err) {
  if (args.size() < 3) {
    std::fputs("usage: mkpayload OUTPUT IMAGE [FILE|FOLDER]...\n", err);
    return 2;
  }
  size_t entries = 0;
  uint64_t bytes = 0;
  std::string error;
  if (!build(args, entries, bytes, &error)) {
    std::fprintf(err, "mkpayload: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out, "%s: %zu entries, %llu bytes\n", toUtf8(args[1]).c_str(), entries,
               static_cast<unsigned long long>(bytes));
  return 0;
}

}  // namespace zorvek
