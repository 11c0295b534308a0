#include "tools/mkpayload/Mkpayload.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "setup/Payload.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

class MkpayloadTest : public ::testing::Test {
 protected:
  using Result = test::ConsoleRun;
  Result run(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"mkpayload");
    return test::captureConsole(
        dir_, [&](std::FILE* out, std::FILE* err) { return runMkpayload(args, out, err); });
  }
  std::wstring write(const std::wstring& name, const std::string& bytes) {
    return dir_.write(name, bytes);
  }
  test::TempDir dir_;
};

TEST_F(MkpayloadTest, BuildsAnInstallerThatExtractsItsFiles) {
  const std::wstring image = write(L"bin/ZorvekSetup.exe", "MZ plain installer");
  const std::wstring service = write(L"bin/ZorvekService.exe", std::string(300000, 's'));
  write(L"bin/data/signatures.seed.txt", "seed");
  write(L"bin/data/sub/Б.txt", "nested");
  const std::wstring output = dir_.file(L"dist.exe");
  const Result r = run({output, image, service, dir_.file(L"bin/data/"), image});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, toUtf8(output) + ": 4 entries, 300028 bytes\n");

  const std::string built = test::readFile(output);
  EXPECT_EQ(built.compare(0, 18, "MZ plain installer"), 0) << "the image comes first, unchanged";
  setup::InstallerPayload payload;
  payload.read(output);
  ASSERT_EQ(payload.index().state, setup::PayloadState::Present) << payload.index().status;
  std::vector<std::string> names;
  for (const auto& e : payload.index().entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ZorvekService.exe", "data/signatures.seed.txt",
                                             "data/sub/Б.txt", "ZorvekSetup.exe"}));

  std::vector<std::wstring> lines;
  EXPECT_EQ(setup::runSelfTest(payload, pathToWide(dir_.path() / ""),
                               [&](const std::wstring& l) { lines.push_back(l); }),
            0);
  EXPECT_EQ(lines.back(), L"РАСПАКОВКА: ок");
}

TEST_F(MkpayloadTest, RefusesWhatTheInstallerWouldNotTake) {
  const std::wstring image = write(L"ZorvekSetup.exe", "MZ");
  const std::wstring file = write(L"a.txt", "a");
  const std::wstring output = dir_.file(L"dist.exe");
  ASSERT_EQ(run({output, image, file}).code, 0);
  const std::wstring dots = write(L"a..b.txt", "x");
  const struct {
    const char* what;
    std::vector<std::wstring> args;
    std::string error;
  } cases[] = {
      {"an image that already has a payload", {dir_.file(L"again.exe"), output, file},
       "mkpayload: the image already carries a payload: " + toUtf8(output) + "\n"},
      {"two entries of one name", {dir_.file(L"x.exe"), image, file, file},
       "mkpayload: two entries named \"a.txt\"\n"},
      {"two dots in a row", {dir_.file(L"x.exe"), image, dots},
       "mkpayload: the installer would refuse the name \"a..b.txt\" (" + toUtf8(dots) + ")\n"},
      {"a missing file", {dir_.file(L"x.exe"), image, dir_.file(L"missing")}, ""},
      {"a missing image", {dir_.file(L"x.exe"), dir_.file(L"missing"), file}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 1);
    if (!c.error.empty()) {
      EXPECT_EQ(r.err, c.error);
    }
    EXPECT_FALSE(fs::exists(toPath(c.args[0]))) << "no output, not even a partial one";
  }
  EXPECT_EQ(run({output}).code, 2);
  // The failed runs left the earlier installer alone and no temporary behind.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 6u);  // ZorvekSetup.exe a.txt dist.exe a..b.txt and the captured output
}

TEST_F(MkpayloadTest, RefusesSpecialFiles) {
  const std::wstring image = write(L"ZorvekSetup.exe", "MZ");
  const fs::path fifo = dir_.path() / "fifo";
  if (std::system(("mkfifo '" + pathToUtf8(fifo) + "' 2>/dev/null").c_str()) != 0 || !fs::exists(fifo))
    GTEST_SKIP() << "no FIFOs on this system";
  const Result r = run({dir_.file(L"x.exe"), image, pathToWide(fifo)});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "mkpayload: not a regular file: " + pathToUtf8(fifo) + "\n");
}

}  // namespace
}  // namespace zorvek
