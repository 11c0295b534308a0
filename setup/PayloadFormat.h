#pragma once
// The payload appended to a distributable installer: the executable image, then a container of
// named files, then a 32-byte trailer that locates the container. All integers little-endian.
//
//   trailer:   "ZRVKENDL" | u64 container offset | u64 container size | u64 trailer size (32)
//   container: "ZRVK" | u32 version (1) | u32 count | count x entry
//   entry:     u32 name length (1..4096) | UTF-8 name, "/" separated | u64 data size | data
//
// The reader never loads the data: an index records where each entry's bytes lie, and the
// extraction copies them from the source in blocks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

inline constexpr std::string_view kTrailerMagic = "ZRVKENDL";
inline constexpr std::string_view kContainerMagic = "ZRVK";
inline constexpr uint64_t kTrailerSize = 32;
inline constexpr uint32_t kContainerVersion = 1;
inline constexpr uint32_t kMaxEntryName = 4096;
// A real installer carries a handful of files; a count beyond this is a damaged container, and
// the cap keeps a hostile one from growing the index without bound.
inline constexpr uint32_t kMaxEntries = 100000;

// Random access to the bytes of an installer file (or of a buffer, in tests).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly `count` bytes at `offset`; false when they cannot all be read.
  virtual bool readAt(uint64_t offset, void* buffer, size_t count) = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  bool readAt(uint64_t offset, void* buffer, size_t count) override;

 private:
  std::string_view bytes_;
};

struct PayloadEntry {
  std::string name;     // as stored: UTF-8, "/" separated, not yet checked
  uint64_t offset = 0;  // of the data, in the source
  uint64_t size = 0;
};

enum class PayloadState {
  Absent,   // no trailer: an ordinary build without a payload
  Damaged,  // a trailer, but the payload cannot be read or does not add up
  Present,
};

struct PayloadIndex {
  PayloadState state = PayloadState::Absent;
  std::string status;  // the Russian status text of the last step reached (UTF-8)
  std::vector<PayloadEntry> entries;

  uint64_t totalBytes() const;
};

// Reads the trailer at the end of the source and the container it points to. An ordinary build
// yields Absent; any inconsistency yields Damaged with no entries at all.
PayloadIndex indexPayload(ByteSource& source);

// Reads a container of `size` bytes at `offset`; false (with `entries` empty and a Russian
// reason) when it is cut short, has the wrong magic or version, or a name of a refused length.
bool parseContainer(ByteSource& source, uint64_t offset, uint64_t size,
                    std::vector<PayloadEntry>& entries, std::string* reason = nullptr);

// The 32-byte trailer for a container of `size` bytes at `offset`.
std::string makeTrailer(uint64_t containerOffset, uint64_t containerSize);
// The 12-byte container header and the bytes of an entry that precede its data.
std::string makeContainerHeader(uint32_t count);
std::string makeEntryHeader(std::string_view name, uint64_t dataSize);

}  // namespace setup
