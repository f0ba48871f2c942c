#include "host/port_host.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/fake_host.h"
#include "tests/support/pty_pair.h"

namespace corvel::host {
namespace {

using testing::Bytes;
using testing::MakeFrame;
using testing::MakeResponse;
using testing::PtyPair;
using testing::RecordingSink;

class PortHostTest : public ::testing::Test {
 protected:
  PortHostTest() : log(sink), link(host, log) {}

  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    host.SetLink(&link);
    ASSERT_TRUE(host.OpenPort(pty.path(), 115200));
  }

  void EnterFramedMode() { testing::EnterReceiverState(link, link::ReceiverState::kFramed); }

  PtyPair pty;
  RecordingSink sink;
  log::Log log;
  PortHost host;
  link::Link link;
};

TEST_F(PortHostTest, AnswerEndsTheWaitAtOnceAndAFrameAfterItDoesNotReplaceIt) {
  EnterFramedMode();
  const Bytes command = MakeFrame(0x13, {0x00});
  // The far end answers with two frames in one write: the first is the answer,
  // and the second cannot overwrite it.
  std::thread chip([&] {
    EXPECT_EQ(pty.Read(command.size()), command);
    Bytes both = MakeResponse(0x13, 0x00, {0x01, 0x02});
    const Bytes second = MakeResponse(0x15, 0x00, {0xAA, 0xBB, 0xCC, 0xDD});
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(pty.Write(both.data(), both.size()));
  });
  const auto start = std::chrono::steady_clock::now();
  const uint8_t payload = 0;
  const auto answer = link.Transact(0x13, &payload, 1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 0x00);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));  // limit is 4 s
  EXPECT_EQ(answer->code, 0x13);
  EXPECT_EQ(answer->data[0], 0x01);
  EXPECT_EQ(answer->data[1], 0x02);
  chip.join();

  host.WaitUntil(host.NowMicros() + 100000);
  const auto held = link.Await(0);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->code, 0x13);
}

TEST_F(PortHostTest, TextModeBytesBecomeConsoleText) {
  ASSERT_TRUE(pty.Write("boot> hello\r\n"));
  const uint64_t deadline = host.NowMicros() + 5000000;
  while (log.PendingTextSize() < 13 && host.NowMicros() < deadline) host.WaitUntil(deadline);
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "boot> hello\r\n");
  EXPECT_FALSE(pty.MasterHasInput());  // nothing was sent
}

TEST_F(PortHostTest, InterruptWakesTheWaitAndItsHandlerRunsOnTheOwnerThread) {
  std::thread::id ranOn;
  host.SetInterruptHandler([&] { ranOn = std::this_thread::get_id(); });
  std::thread other([&] { host.PostInterrupt(); });
  const auto start = std::chrono::steady_clock::now();
  while (ranOn == std::thread::id{} && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    host.WaitUntil(host.NowMicros() + 10000000);
  }
  other.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(PortHostTest, LostPortEndsTheWait) {
  EnterFramedMode();
  pty.CloseMaster();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.Transact(0x13, nullptr, 0));
  EXPECT_TRUE(host.PortLost());
  EXPECT_FALSE(host.LostReason().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(PortHostTest, ConfigurationErrorsReachTheHandler) {
  std::vector<std::string> errors;
  host.SetPortErrorHandler([&](const std::string& text) { errors.push_back(text); });
  EXPECT_FALSE(host.SetBaudRate(0).ok());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("TCSETS2"), std::string::npos);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Time is what this test is about: an open port with nothing arriving keeps
// both threads blocked.
TEST_F(PortHostTest, IdlePortCostsNoCpu) {
  const double cpuBefore = CpuSeconds();
  const uint64_t end = host.NowMicros() + 500000;
  int wakeUps = 0;
  while (host.NowMicros() < end) {
    host.WaitUntil(end);
    ++wakeUps;
  }
  EXPECT_LE(wakeUps, 2);
  EXPECT_LT(CpuSeconds() - cpuBefore, 0.05);
}

}  // namespace
}  // namespace corvel::host
