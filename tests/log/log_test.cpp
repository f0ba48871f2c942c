#include "log/log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/support/fake_host.h"

namespace corvel::log {
namespace {

using testing::RecordingSink;

void Append(Log& log, const std::string& text) {
  log.AppendReceivedText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Log, LinesAndClear) {
  RecordingSink sink;
  Log log(sink);
  log.AppendLog("芯片连接成功!");
  log.AppendLog("");
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"芯片连接成功!", ""}));
  log.ClearLog();
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(sink.clears, 1);
}

TEST(Log, FlushMovesConsoleTextExactlyAsReceived) {
  RecordingSink sink;
  Log log(sink);
  Append(log, "boot v1\r\n");
  Append(log, "ready");
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "boot v1\r\nready");
  log.FlushReceivedText();  // nothing new, nothing added
  EXPECT_EQ(sink.text(), "boot v1\r\nready");
  EXPECT_TRUE(sink.lines.empty());
}

TEST(Log, FlushShowsGbkConsoleTextAsUtf8AndKeepsACharacterSplitBetweenFlushesWhole) {
  RecordingSink sink;
  Log log(sink);
  Append(log, "ver \xD0\xBE\xC6");  // 芯片 in GBK, cut after the first byte of 片
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "ver 芯");
  Append(log, "\xAC\r\n");
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "ver 芯片\r\n");
}

TEST(Log, PausedFlushKeepsTextUntilResumed) {
  RecordingSink sink;
  Log log(sink);
  log.PauseFlush();
  Append(log, "kept");
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "");
  log.ResumeFlush();
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "kept");
}

TEST(Log, ReceivedTextIsBoundedOldestFirst) {
  RecordingSink sink;
  Log log(sink, 8);
  log.PauseFlush();
  Append(log, "0123456789");
  Append(log, "AB");
  EXPECT_EQ(log.PendingTextSize(), 8u);
  log.ResumeFlush();
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), "456789AB");
}

TEST(Log, AppendsFromAnotherThreadLoseNothing) {
  RecordingSink sink;
  Log log(sink);
  std::thread producer([&] {
    for (int i = 0; i < 2000; ++i) Append(log, "x");
  });
  for (int i = 0; i < 200; ++i) log.FlushReceivedText();
  producer.join();
  log.FlushReceivedText();
  EXPECT_EQ(sink.text(), std::string(2000, 'x'));
}

}  // namespace
}  // namespace corvel::log
