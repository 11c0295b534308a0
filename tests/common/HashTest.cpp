#include "common/Hash.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "common/HashKernels.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"

namespace zorvek::hash {
namespace {

struct Vector {
  const char* what;
  std::string input;
  const char* md5;
  const char* sha1;
  const char* sha256;
};

std::vector<Vector> standardVectors() {
  return {
      {"empty", "", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448-bit message", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "8215ef0796a20bcaaae116d3876c664a", "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"one million a", std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
       "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
}

std::vector<std::unique_ptr<Hasher>> allHashers() {
  std::vector<std::unique_ptr<Hasher>> h;
  h.push_back(std::make_unique<Md5>());
  h.push_back(std::make_unique<Sha1>());
  h.push_back(std::make_unique<Sha256>());
  return h;
}

// Runs the body once with the SHA extensions (when the CPU has them) and once without.
template <typename F>
void onBothPaths(F body) {
  const bool saved = shaExtensionsEnabled();
  for (const bool ext : {true, false}) {
    if (ext && !cpuHasShaExtensions()) continue;
    SCOPED_TRACE(ext ? "SHA extensions" : "portable");
    setShaExtensionsEnabled(ext);
    body();
  }
  setShaExtensionsEnabled(saved);
}

TEST(HashTest, StandardVectors) {
  onBothPaths([] {
    for (const auto& v : standardVectors()) {
      SCOPED_TRACE(v.what);
      Md5 md5;
      Sha1 sha1;
      Sha256 sha256;
      for (Hasher* h : std::initializer_list<Hasher*>{&md5, &sha1, &sha256}) {
        h->update(v.input.data(), v.input.size());
        EXPECT_EQ(h->blockSize(), 64u);
      }
      EXPECT_EQ(md5.finalDigest(), v.md5);
      EXPECT_EQ(sha1.finalDigest(), v.sha1);
      EXPECT_EQ(sha256.finalDigest(), v.sha256);
    }
  });
}

TEST(HashTest, RandomSplitsEqualOneShot) {
  std::mt19937 rng(7);
  onBothPaths([&rng] {
    for (int round = 0; round < 20; ++round) {
      const std::string data = test::randomBytes(rng() % 5000, static_cast<uint32_t>(rng()));
      auto whole = allHashers();
      auto split = allHashers();
      for (size_t i = 0; i < whole.size(); ++i) {
        whole[i]->update(data.data(), data.size());
        size_t pos = 0;
        while (pos < data.size()) {
          const size_t n = std::min<size_t>(rng() % 200, data.size() - pos);
          split[i]->update(data.data() + pos, n);  // counts of 0 included
          pos += n;
        }
        EXPECT_EQ(split[i]->finalDigest(), whole[i]->finalDigest()) << "size " << data.size();
      }
    }
  });
}

TEST(HashTest, FinalDigestLeavesTheStreamOpen) {
  auto once = allHashers();
  auto twice = allHashers();
  for (size_t i = 0; i < once.size(); ++i) {
    once[i]->update("abcdef", 6);
    twice[i]->update("abc", 3);
    const std::string first = twice[i]->finalDigest();
    EXPECT_EQ(twice[i]->finalDigest(), first);
    twice[i]->update("def", 3);
    EXPECT_EQ(twice[i]->finalDigest(), once[i]->finalDigest());
  }
}

TEST(HashTest, ShaExtensionsMatchPortableCode) {
  if (!cpuHasShaExtensions()) GTEST_SKIP() << "CPU has no SHA extensions";
  const std::string data = test::randomBytes(64 * 1025, 99);
  // The block functions directly, over every block count of the buffer's prefixes.
  for (size_t blocks : {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{1025}}) {
    SCOPED_TRACE(blocks);
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    uint32_t a1[5] = {1, 2, 3, 4, 5}, b1[5] = {1, 2, 3, 4, 5};
    detail::sha1BlocksPortable(a1, p, blocks);
    detail::sha1BlocksShaExt(b1, p, blocks);
    EXPECT_EQ(std::vector<uint32_t>(a1, a1 + 5), std::vector<uint32_t>(b1, b1 + 5));
    uint32_t a2[8] = {8, 7, 6, 5, 4, 3, 2, 1}, b2[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    detail::sha256BlocksPortable(a2, p, blocks);
    detail::sha256BlocksShaExt(b2, p, blocks);
    EXPECT_EQ(std::vector<uint32_t>(a2, a2 + 8), std::vector<uint32_t>(b2, b2 + 8));
  }
  // And through the classes, for every length 0..1024 and a few large ones.
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1024; ++n) lengths.push_back(n);
  for (size_t n : {size_t{4095}, size_t{65536}, size_t{65600}}) lengths.push_back(n);
  const bool saved = shaExtensionsEnabled();
  for (size_t n : lengths) {
    std::string digests[2][2];
    for (int ext = 0; ext < 2; ++ext) {
      setShaExtensionsEnabled(ext == 1);
      Sha1 s1;
      Sha256 s256;
      s1.update(data.data(), n);
      s256.update(data.data(), n);
      digests[ext][0] = s1.finalDigest();
      digests[ext][1] = s256.finalDigest();
    }
    ASSERT_EQ(digests[0][0], digests[1][0]) << "SHA-1, length " << n;
    ASSERT_EQ(digests[0][1], digests[1][1]) << "SHA-256, length " << n;
  }
  setShaExtensionsEnabled(saved);
}

TEST(HashTest, FilesHashWholeAndInOnePass) {
  test::TempDir dir;
  const std::string data = test::randomBytes(3 * 65536 + 77, 5);
  const std::wstring path = dir.file(L"data.bin");
  test::writeFile(path, data);
  Md5 md5;
  Sha1 sha1;
  Sha256 sha256;
  md5.update(data.data(), data.size());
  sha1.update(data.data(), data.size());
  sha256.update(data.data(), data.size());
  for (size_t chunk : {size_t{0}, size_t{1}, size_t{4096}, size_t{1} << 20}) {
    SCOPED_TRACE(chunk);
    if (chunk != 1) {  // per-algorithm functions byte by byte would only be slow
      EXPECT_EQ(md5File(path, chunk), md5.finalDigest());
      EXPECT_EQ(sha1File(path, chunk), sha1.finalDigest());
      EXPECT_EQ(sha256File(path, chunk), sha256.finalDigest());
    }
    std::string seen;
    const FileDigests d =
        hashFile(path, chunk == 1 ? 1000 : chunk, [&seen](const uint8_t* p, size_t n) {
          seen.append(reinterpret_cast<const char*>(p), n);
        });
    EXPECT_EQ(d.md5, md5.finalDigest());
    EXPECT_EQ(d.sha1, sha1.finalDigest());
    EXPECT_EQ(d.sha256, sha256.finalDigest());
    EXPECT_EQ(d.bytesRead, data.size());
    EXPECT_EQ(seen, data);
  }
}

TEST(HashTest, UnopenableFilesGiveEmptyDigests) {
  test::TempDir dir;
  for (const std::wstring& path : {dir.file(L"missing.bin"), pathToWide(dir.path())}) {
    SCOPED_TRACE(toUtf8(path));
    EXPECT_EQ(md5File(path, 4096), "");
    EXPECT_EQ(sha1File(path, 4096), "");
    EXPECT_EQ(sha256File(path, 4096), "");
    bool called = false;
    const FileDigests d = hashFile(path, 4096, [&called](const uint8_t*, size_t) { called = true; });
    EXPECT_EQ(d.md5 + d.sha1 + d.sha256, "");
    EXPECT_EQ(d.bytesRead, 0u);
    EXPECT_FALSE(called);
  }
}

TEST(HashTest, EmptyFileHasTheDigestsOfTheEmptyMessage) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"empty");
  test::writeFile(path, "");
  const FileDigests d = hashFile(path, 4096);
  EXPECT_EQ(d.md5, "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(d.sha1, "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(md5File(path, 4096), d.md5);
}

TEST(HashTest, ByteEntropy) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const struct {
    const char* what;
    std::string data;
    double expected;
  } cases[] = {
      {"every value once", all, 8.0},
      {"one repeated byte", std::string(1000, 'x'), 0.0},
      {"one byte", "q", 0.0},
      {"two values half each", std::string(7, 'a') + std::string(7, 'b'), 1.0},
      {"four values", "abcdabcdabcd", 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_DOUBLE_EQ(byteEntropy(c.data.data(), c.data.size()), c.expected);
  }
  EXPECT_EQ(byteEntropy(nullptr, 10), 0.0);
  EXPECT_EQ(byteEntropy("abc", 0), 0.0);
}

TEST(HashTest, SeedDatabaseHoldsTheEicarDigests) {
  SignatureDatabase db;
  ASSERT_TRUE(db.load(test::sourcePath(L"data/signatures.seed.txt")));
  const std::string eicar = test::kEicar;
  for (const std::string& text : {eicar, eicar + "\n", eicar + "\r\n"}) {
    SCOPED_TRACE(text.size());
    Md5 md5;
    Sha1 sha1;
    Sha256 sha256;
    md5.update(text.data(), text.size());
    sha1.update(text.data(), text.size());
    sha256.update(text.data(), text.size());
    SignatureMatch m;
    EXPECT_TRUE(db.lookup(md5.finalDigest(), "", "", &m));
    EXPECT_EQ(m.hash, md5.finalDigest());
    EXPECT_TRUE(db.lookup("", sha1.finalDigest(), "", &m));
    EXPECT_EQ(m.hash, sha1.finalDigest());
    EXPECT_TRUE(db.lookup("", "", sha256.finalDigest(), &m));
    EXPECT_EQ(m.hash, sha256.finalDigest());
    EXPECT_EQ(m.name, "EICAR-Test-File");
  }
}

}  // namespace
}  // namespace zorvek::hash
