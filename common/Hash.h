#pragma once
// Streaming MD5, SHA-1 and SHA-256 with lower-case hex output, whole-file hashing and byte
// entropy. SHA-1 and SHA-256 use the x86 SHA extensions when the CPU has them.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zorvek {
class InputFile;
}

namespace zorvek::hash {

class Hasher {
 public:
  virtual ~Hasher() = default;
  virtual void update(const void* data, size_t size) = 0;
  // Digest of everything fed so far. Works on a copy of the state: feeding may go on.
  virtual std::string finalDigest() const = 0;
  virtual uint64_t blockSize() const = 0;
};

class Md5 final : public Hasher {
 public:
  Md5();
  void update(const void* data, size_t size) override;
  std::string finalDigest() const override;
  uint64_t blockSize() const override { return 64; }

 private:
  uint32_t state_[4];
  uint64_t bits_ = 0;
  uint8_t block_[64] = {};
  size_t pending_ = 0;
};

class Sha1 final : public Hasher {
 public:
  Sha1();
  void update(const void* data, size_t size) override;
  std::string finalDigest() const override;
  uint64_t blockSize() const override { return 64; }

 private:
  using Blocks = void (*)(uint32_t* state, const uint8_t* data, size_t blocks);
  Blocks compress_;
  uint32_t state_[5];
  uint64_t bits_ = 0;
  uint8_t block_[64] = {};
  size_t pending_ = 0;
};

class Sha256 final : public Hasher {
 public:
  Sha256();
  void update(const void* data, size_t size) override;
  std::string finalDigest() const override;
  uint64_t blockSize() const override { return 64; }

 private:
  using Blocks = void (*)(uint32_t* state, const uint8_t* data, size_t blocks);
  Blocks compress_;
  uint32_t state_[8];
  uint64_t bits_ = 0;
  uint8_t block_[64] = {};
  size_t pending_ = 0;
};

// True when the CPU has the SHA extensions (and the SSE levels they need).
bool cpuHasShaExtensions();
// Whether hashers created from now on use the SHA extensions. Always false without CPU support;
// tests and benchmarks turn it off to measure and check the portable code.
bool shaExtensionsEnabled();
void setShaExtensionsEnabled(bool enabled);

// Whole-file digests, read in chunks of `chunkSize` bytes with one buffer. A file that cannot be
// opened or read to its end gives "": never the digest of part of a file.
std::string md5File(const std::wstring& path, size_t chunkSize);
std::string sha1File(const std::wstring& path, size_t chunkSize);
std::string sha256File(const std::wstring& path, size_t chunkSize);
// The same through a file already open (read from its start); `error` tells why it is "".
std::string sha256OpenFile(InputFile& file, size_t chunkSize, std::string* error = nullptr);

struct FileDigests {
  std::string md5, sha1, sha256;  // all empty unless the file was read to its end (or the limit)
  uint64_t bytesRead = 0;
  std::string error;       // why the digests are empty
  bool cancelled = false;  // the cancel flag ended the read
};
// Sees every chunk of the file in order as it is read, before the next read.
using ChunkSink = std::function<void(const uint8_t* data, size_t size)>;
// MD5, SHA-1 and SHA-256 of a file in one pass: each byte is read once and fed to all three.
FileDigests hashFile(const std::wstring& path, size_t chunkSize, const ChunkSink& sink = {});
// The same through a file already open, from its current position: no more than `limit` bytes are
// read (a file that grows meanwhile is not followed), and `cancel`, when given, is checked before
// every chunk.
FileDigests hashOpenFile(InputFile& file, size_t chunkSize, const ChunkSink& sink,
                         uint64_t limit, const std::atomic<bool>* cancel = nullptr);

// Shannon entropy in bits per byte, 0.0 to 8.0; 0.0 for null data or size 0.
double byteEntropy(const void* data, size_t size);

inline constexpr size_t kDefaultChunkSize = 1u << 20;

}  // namespace zorvek::hash
