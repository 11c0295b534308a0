#include "setup/PayloadFormat.h"

#include <cstring>

namespace setup {
namespace {

uint64_t readLe(const unsigned char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

void appendLe(std::string& out, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads fields of a container in order; every read is checked against the container's end.
class ContainerCursor {
 public:
  enum class Fault { None, Short, Io };

  ContainerCursor(ByteSource& source, uint64_t offset, uint64_t end)
      : source_(source), pos_(offset), end_(end) {}

  bool bytes(void* out, size_t n) {
    if (fault_ != Fault::None) return false;
    if (n > end_ - pos_) return fail(Fault::Short);
    if (!source_.readAt(pos_, out, n)) return fail(Fault::Io);
    pos_ += n;
    return true;
  }
  uint64_t integer(size_t n) {
    unsigned char b[8];
    return bytes(b, n) ? readLe(b, n) : 0;
  }
  bool skip(uint64_t n) {
    if (fault_ != Fault::None) return false;
    if (n > end_ - pos_) return fail(Fault::Short);
    pos_ += n;
    return true;
  }
  uint64_t pos() const { return pos_; }
  Fault fault() const { return fault_; }

 private:
  bool fail(Fault f) {
    fault_ = f;
    return false;
  }

  ByteSource& source_;
  uint64_t pos_;
  uint64_t end_;
  Fault fault_ = Fault::None;
};

bool refuse(std::vector<PayloadEntry>& entries, std::string* reason, std::string text) {
  entries.clear();
  if (reason) *reason = std::move(text);
  return false;
}

}  // namespace

bool MemorySource::readAt(uint64_t offset, void* buffer, size_t count) {
  if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
  if (count > 0) std::memcpy(buffer, bytes_.data() + offset, count);
  return true;
}

uint64_t PayloadIndex::totalBytes() const {
  uint64_t total = 0;
  for (const auto& e : entries) total += e.size;
  return total;
}

bool parseContainer(ByteSource& source, uint64_t offset, uint64_t size,
                    std::vector<PayloadEntry>& entries, std::string* reason) {
  entries.clear();
  if (offset > source.size() || size > source.size() - offset)
    return refuse(entries, reason, "контейнер за пределами файла");
  ContainerCursor in(source, offset, offset + size);
  const auto cutShort = [&](const std::string& where) {
    return refuse(entries, reason,
                  in.fault() == ContainerCursor::Fault::Io ? "контейнер не прочитан"
                                                           : "контейнер обрезан: " + where);
  };

  char magic[4];
  const bool haveMagic = in.bytes(magic, sizeof magic);
  const auto version = static_cast<uint32_t>(in.integer(4));
  const auto count = static_cast<uint32_t>(in.integer(4));
  if (!haveMagic || in.fault() != ContainerCursor::Fault::None) return cutShort("заголовок");
  if (std::string_view(magic, sizeof magic) != kContainerMagic)
    return refuse(entries, reason, "неверная сигнатура контейнера");
  if (version != kContainerVersion)
    return refuse(entries, reason, "версия контейнера " + std::to_string(version) +
                                       " не поддерживается");
  if (count > kMaxEntries)
    return refuse(entries, reason, "слишком много записей: " + std::to_string(count));

  for (uint32_t i = 0; i < count; ++i) {
    const std::string which = "запись " + std::to_string(i + 1);
    const auto nameLength = static_cast<uint32_t>(in.integer(4));
    if (in.fault() != ContainerCursor::Fault::None) return cutShort(which);
    if (nameLength == 0 || nameLength > kMaxEntryName)
      return refuse(entries, reason, which + ": длина имени " + std::to_string(nameLength) +
                                         " вне 1.." + std::to_string(kMaxEntryName));
    PayloadEntry entry;
    entry.name.resize(nameLength);
    in.bytes(entry.name.data(), nameLength);
    entry.size = in.integer(8);
    entry.offset = in.pos();
    if (!in.skip(entry.size)) return cutShort(which);
    entries.push_back(std::move(entry));
  }
  return true;
}

PayloadIndex indexPayload(ByteSource& source) {
  PayloadIndex index;
  const auto damaged = [&index](std::string status) {
    index.state = PayloadState::Damaged;
    index.status = std::move(status);
    index.entries.clear();
    return index;
  };
  const uint64_t fileSize = source.size();
  if (fileSize < kTrailerSize) return damaged("файл меньше завершающего блока");
  unsigned char trailer[kTrailerSize];
  if (!source.readAt(fileSize - kTrailerSize, trailer, sizeof trailer))
    return damaged("не прочитан завершающий блок");
  if (std::string_view(reinterpret_cast<const char*>(trailer), kTrailerMagic.size()) !=
      kTrailerMagic) {
    index.status = "завершающего блока нет: это обычная сборка без нагрузки";
    return index;
  }
  const uint64_t offset = readLe(trailer + 8, 8);
  const uint64_t size = readLe(trailer + 16, 8);
  if (readLe(trailer + 24, 8) != kTrailerSize) return damaged("размер завершающего блока неверный");
  // Subtract rather than add: offset + size may wrap for a hostile trailer.
  const uint64_t room = fileSize - kTrailerSize;
  if (offset > room || size != room - offset)
    return damaged("границы не сходятся: " + std::to_string(offset) + "+" + std::to_string(size) +
                   "+" + std::to_string(kTrailerSize) + " != " + std::to_string(fileSize));

  const std::string readStatus = "хвост прочитан: " + std::to_string(size);
  std::string reason;
  if (!parseContainer(source, offset, size, index.entries, &reason)) {
    // A payload that is there but unreadable is an error, not an ordinary build: the install
    // must not fall back to whatever lies beside the installer.
    return damaged(reason == "контейнер не прочитан" ? reason
                                                      : readStatus + ", но " + reason);
  }
  index.state = PayloadState::Present;
  index.status = readStatus;
  return index;
}

std::string makeTrailer(uint64_t containerOffset, uint64_t containerSize) {
  std::string out(kTrailerMagic);
  appendLe(out, containerOffset, 8);
  appendLe(out, containerSize, 8);
  appendLe(out, kTrailerSize, 8);
  return out;
}

std::string makeContainerHeader(uint32_t count) {
  std::string out(kContainerMagic);
  appendLe(out, kContainerVersion, 4);
  appendLe(out, count, 4);
  return out;
}

std::string makeEntryHeader(std::string_view name, uint64_t dataSize) {
  std::string out;
  appendLe(out, name.size(), 4);
  out += name;
  appendLe(out, dataSize, 8);
  return out;
}

}  // namespace setup
