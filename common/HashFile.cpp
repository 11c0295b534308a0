#include <cmath>
#include <memory>

#include "common/Hash.h"
#include "common/platform/File.h"

namespace zorvek::hash {
namespace {

// A zero chunk size would end the loop at once with the digest of nothing.
size_t effectiveChunk(size_t chunkSize) { return chunkSize ? chunkSize : kDefaultChunkSize; }

template <typename H>
std::string digestOpenFile(InputFile& file, size_t chunkSize, std::string* error) {
  const size_t chunk = effectiveChunk(chunkSize);
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunk]());
  H hasher;
  for (;;) {
    const long long n = file.read(buffer.get(), chunk, error);
    if (n < 0) return {};
    if (n == 0) break;
    hasher.update(buffer.get(), static_cast<size_t>(n));
  }
  return hasher.finalDigest();
}

template <typename H>
std::string digestFile(const std::wstring& path, size_t chunkSize) {
  InputFile file;
  if (!file.open(path)) return {};
  return digestOpenFile<H>(file, chunkSize, nullptr);
}

}  // namespace

std::string md5File(const std::wstring& path, size_t chunkSize) {
  return digestFile<Md5>(path, chunkSize);
}
std::string sha1File(const std::wstring& path, size_t chunkSize) {
  return digestFile<Sha1>(path, chunkSize);
}
std::string sha256File(const std::wstring& path, size_t chunkSize) {
  return digestFile<Sha256>(path, chunkSize);
}
std::string sha256OpenFile(InputFile& file, size_t chunkSize, std::string* error) {
  return digestOpenFile<Sha256>(file, chunkSize, error);
}

FileDigests hashFile(const std::wstring& path, size_t chunkSize, const ChunkSink& sink) {
  InputFile file;
  FileDigests out;
  if (!file.open(path, InputFile::Share::ReadOnly, &out.error)) return out;
  return hashOpenFile(file, chunkSize, sink, UINT64_MAX);
}

FileDigests hashOpenFile(InputFile& file, size_t chunkSize, const ChunkSink& sink, uint64_t limit,
                         const std::atomic<bool>* cancel) {
  FileDigests out;
  const size_t chunk = effectiveChunk(chunkSize);
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunk]());
  Md5 md5;
  Sha1 sha1;
  Sha256 sha256;
  // The three passes over a chunk go slice by slice so that the bytes are still in the L1/L2
  // cache for the second and third digest.
  constexpr size_t kSlice = 32 * 1024;
  while (out.bytesRead < limit) {
    // Checked per chunk, so a cancel or a stop ends even a huge file within moments.
    if (cancel && cancel->load()) {
      out.cancelled = true;
      out.error = "cancelled";
      return out;
    }
    const uint64_t left = limit - out.bytesRead;
    const size_t want = left < chunk ? static_cast<size_t>(left) : chunk;
    const long long n = file.read(buffer.get(), want, &out.error);
    if (n < 0) {
      if (out.error.empty()) out.error = "read failed";
      return out;
    }
    if (n == 0) break;
    const auto size = static_cast<size_t>(n);
    for (size_t off = 0; off < size; off += kSlice) {
      const size_t len = size - off < kSlice ? size - off : kSlice;
      md5.update(buffer.get() + off, len);
      sha1.update(buffer.get() + off, len);
      sha256.update(buffer.get() + off, len);
    }
    out.bytesRead += size;
    if (sink) sink(buffer.get(), size);
  }
  out.error.clear();
  out.md5 = md5.finalDigest();
  out.sha1 = sha1.finalDigest();
  out.sha256 = sha256.finalDigest();
  return out;
}

double byteEntropy(const void* data, size_t size) {
  if (!data || size == 0) return 0.0;
  const auto* p = static_cast<const uint8_t*>(data);
  // Four tables break the store-to-load chain of runs of one byte value.
  uint64_t counts[4][256] = {};
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    ++counts[0][p[i]];
    ++counts[1][p[i + 1]];
    ++counts[2][p[i + 2]];
    ++counts[3][p[i + 3]];
  }
  for (; i < size; ++i) ++counts[0][p[i]];
  const double total = static_cast<double>(size);
  double entropy = 0.0;
  for (int v = 0; v < 256; ++v) {
    const uint64_t c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
    if (!c) continue;
    const double prob = static_cast<double>(c) / total;
    entropy -= prob * std::log2(prob);
  }
  return entropy;
}

}  // namespace zorvek::hash
