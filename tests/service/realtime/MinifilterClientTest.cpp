#include "service/realtime/MinifilterClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "service/engine/Gate.h"
#include "service/realtime/DriverMessages.h"
#include "service/realtime/FakeFilterPort.h"

namespace zorvek::svc {
namespace {

using test::DriverMessage;
using test::FakeDriver;

DriverMessage fileCheck(uint64_t id, std::u16string path) {
  DriverMessage m;
  m.messageId = id;
  m.path = std::move(path);
  return m;
}

std::vector<uint8_t> answer(uint64_t id, bool block) {
  const DriverAnswer a = buildDriverAnswer(id, block);
  return {a.begin(), a.end()};
}

TEST(MinifilterClientTest, NoPortGivesTheUnavailableText) {
  MinifilterClient client([](const std::wstring& name, uint32_t* hr) {
    EXPECT_EQ(name, L"\\\\.\\pipe\\ZorvekFilterPort");
    *hr = 0x80004001u;
    return std::unique_ptr<FilterPort>();
  });
  std::string error;
  EXPECT_FALSE(client.connect([](const std::wstring&) { return true; }, &error));
  EXPECT_EQ(error, "фильтр-драйвер недоступен (hr=0x80004001)");
  EXPECT_FALSE(client.connected());
  client.disconnect();  // harmless without a connection
}

TEST(MinifilterClientTest, PlatformPortIsUnavailableWithoutTheDriver) {
  // No test machine has the driver; Wine and Linux have no Filter Manager at all.
  MinifilterClient client;
  std::string error;
  EXPECT_FALSE(client.connect({}, &error));
  EXPECT_EQ(error.rfind("фильтр-драйвер недоступен (hr=0x", 0), 0u) << error;
}

TEST(MinifilterClientTest, ListenerAnswersEachMessageInTurn) {
  FakeDriver driver;
  MinifilterClient client(driver.factory());
  std::vector<std::wstring> asked;
  ASSERT_TRUE(client.connect([&](const std::wstring& path) {
    asked.push_back(path);
    if (path == L"C:\\boom.exe") throw std::runtime_error("scanner failed");
    return path != L"C:\\evil.exe";
  }));
  EXPECT_TRUE(client.connected());

  DriverMessage badMagic = fileCheck(4, u"C:\\never.exe");
  badMagic.magic = "ZRVX";
  DriverMessage version2 = fileCheck(5, u"C:\\never.exe");
  version2.version = 2;
  DriverMessage probe = test::probe();
  probe.messageId = 1;
  DriverMessage secondType = fileCheck(7, u"C:\\evil.exe");
  secondType.type = 2;
  for (const DriverMessage& m :
       {probe, fileCheck(2, u"C:\\clean.exe"), fileCheck(3, u"C:\\evil.exe"), badMagic, version2,
        fileCheck(6, u"C:\\boom.exe"), secondType})
    driver.send(m.build());

  ASSERT_TRUE(driver.waitForAnswers(5));
  ASSERT_TRUE(driver.waitUntilIdle());
  // Ignored messages get no answer at all; a check that throws allows the file.
  EXPECT_EQ(driver.answers(),
            (std::vector<std::vector<uint8_t>>{answer(1, false), answer(2, false), answer(3, true),
                                               answer(6, false), answer(7, true)}));
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"C:\\clean.exe", L"C:\\evil.exe", L"C:\\boom.exe",
                                              L"C:\\evil.exe"}));
  EXPECT_EQ(client.answered(), 4u);  // file checks, not the probe
  client.disconnect();
  EXPECT_FALSE(client.connected());
}

TEST(MinifilterClientTest, DisconnectEndsTheWaitForAMessage) {
  FakeDriver driver;
  MinifilterClient client(driver.factory());
  ASSERT_TRUE(client.connect([](const std::wstring&) { return true; }));
  ASSERT_TRUE(driver.waitUntilIdle());
  const auto start = std::chrono::steady_clock::now();
  client.disconnect();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(driver.interrupted());
  EXPECT_FALSE(client.connected());
  client.disconnect();
}

TEST(MinifilterClientTest, DisconnectWaitsForTheCheckInProgress) {
  FakeDriver driver;
  MinifilterClient client(driver.factory());
  zorvek::test::Gate checking, release;
  ASSERT_TRUE(client.connect([&](const std::wstring&) {
    checking.open();
    release.wait();
    return false;
  }));
  driver.send(fileCheck(9, u"C:\\slow.exe").build());
  ASSERT_TRUE(checking.wait());
  std::atomic<bool> disconnected{false};
  std::thread stopper([&] {
    client.disconnect();
    disconnected.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(disconnected.load());  // the driver is still owed its answer
  release.open();
  stopper.join();
  EXPECT_EQ(driver.answers(), std::vector<std::vector<uint8_t>>{answer(9, true)});
}

TEST(MinifilterClientTest, DriverClosingThePortEndsTheConnection) {
  FakeDriver driver;
  MinifilterClient client(driver.factory());
  ASSERT_TRUE(client.connect([](const std::wstring&) { return true; }));
  ASSERT_TRUE(driver.waitUntilIdle());
  driver.closePort();
  ASSERT_TRUE(zorvek::test::waitUntil([&] { return !client.connected(); }));
  // The driver came back: a new connection answers again.
  ASSERT_TRUE(client.connect([](const std::wstring&) { return false; }));
  driver.send(fileCheck(11, u"C:\\x.exe").build());
  ASSERT_TRUE(driver.waitForAnswers(1));
  EXPECT_EQ(driver.answers().back(), answer(11, true));
  std::string error;
  EXPECT_FALSE(client.connect({}, &error));
  EXPECT_EQ(error, "already connected");
}

}  // namespace
}  // namespace zorvek::svc
