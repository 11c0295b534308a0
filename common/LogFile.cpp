#include "common/LogFile.h"

#include <filesystem>
#include <system_error>

#include "common/Text.h"

namespace zorvek {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

}  // namespace

// Holds the writers' lock of one AppendFile while in scope, when the file system grants it.
class LogFile::WritersLock {
 public:
  explicit WritersLock(AppendFile& file) : file_(file), held_(file.lock()) {}
  ~WritersLock() { release(); }
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;
  void release() {
    if (held_) file_.unlock();
    held_ = false;
  }

 private:
  AppendFile& file_;
  bool held_;
};

namespace {

// A file that no line reached yet gets the mark first. Called with the lock held, so of two
// writers meeting a new file only one writes it.
bool markIfEmpty(AppendFile& file) {
  return file.size() != 0 || file.writeLocked(kBom.data(), kBom.size());
}

}  // namespace

std::wstring rotatedLogPath(const std::wstring& path) { return path + L".1"; }

bool LogFile::open(const std::wstring& path, uint64_t rotateAtBytes) {
  close();
  path_ = path;
  rotateAt_ = rotateAtBytes;
  nextAttemptAt_ = rotateAtBytes;
  std::error_code ec;
  std::filesystem::create_directories(toPath(path).parent_path(), ec);
  if (!file_.open(path)) return false;
  WritersLock lock(file_);
  markIfEmpty(file_);
  return true;
}

void LogFile::close() { file_.close(); }

LogFile::Appended LogFile::append(std::string_view line) {
  if (!file_.isOpen()) return Appended::Failed;
  WritersLock lock(file_);
  if (!file_.isAt(path_)) {
    // Renamed away by the writer that rotates, or deleted: write where the name points now. If
    // that cannot be opened, the line still goes to the file we hold.
    AppendFile next;
    if (next.open(path_)) {
      lock.release();
      file_ = std::move(next);
      WritersLock nextLock(file_);
      markIfEmpty(file_);
      if (!file_.writeLocked(line.data(), line.size())) return Appended::Failed;
      return Appended::Written;
    }
  }
  if (!file_.writeLocked(line.data(), line.size())) return Appended::Failed;
  if (rotateAt_ == 0) return Appended::Written;
  const long long size = file_.size();
  if (size < 0 || static_cast<uint64_t>(size) < nextAttemptAt_) return Appended::Written;
  if (!rotate(lock)) {
    nextAttemptAt_ = static_cast<uint64_t>(size) + rotateAt_ / 16 + 1;
    return Appended::RotationFailed;
  }
  nextAttemptAt_ = rotateAt_;
  return Appended::Rotated;
}

bool LogFile::rotate(WritersLock& lock) {
  const std::wstring older = rotatedLogPath(path_);
  unsigned long err = 0;
  if (!moveFile(path_, older, &err)) {
    // Windows refuses to replace an older log that someone still holds open (a writer that has
    // not followed yet, the crash writer's spare handle), and deleting it keeps its name until
    // the last holder lets go. Renaming it aside under a name of its own frees the name at once;
    // the aside file is then deleted, for good once nobody holds it.
    const std::wstring aside = older + L"." + std::to_wstring(++asideCount_) + L".old";
    if (moveFile(older, aside)) {
      removeFile(aside);
    } else {
      removeFile(older);
    }
    if (!moveFile(path_, older, &err)) {
      rotationError_ = "cannot rename " + toUtf8(path_) + " (error " + std::to_string(err) + ")";
      return false;
    }
  }
  AppendFile next;
  if (!next.open(path_)) {
    // We keep writing into the renamed file; the next line tries the name again.
    rotationError_.clear();
    return true;
  }
  {
    WritersLock nextLock(next);
    markIfEmpty(next);
  }
  // Writers waiting for the old file's lock find the new file at the name once they get it.
  lock.release();
  file_ = std::move(next);
  rotationError_.clear();
  return true;
}

}  // namespace zorvek
