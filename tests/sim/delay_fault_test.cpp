// The delay fault holds back only the answers it is set for: the wake-up
// burst's sync answer never waits, so the tool connects; a long enough delay
// on one command runs into the tool's command limit, and the commands after it
// are answered on time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/link.h"
#include "tests/support/sim_chip.h"
#include "tests/support/tool_process.h"

namespace corvel::sim {
namespace {

using Clock = std::chrono::steady_clock;

TEST(DelayFault, HoldsBackOnlyItsAnswersAndTheToolStillConnects) {
  struct Row {
    const char* name;
    uint64_t everyMicros;  // delay:MS
    int code;              // delay:CODE=MS, -1 for none
    uint64_t codeMicros;
    int exitStatus;
    bool versionShown;
  };
  const std::vector<Row> rows = {
      {"150 ms before every answer: slower, but the run goes through", 150000, -1, 0, 0, true},
      {"5 s before the version's answer: connected, then the command times out", 0, 0x13, 5000000, 1, false},
  };
  const std::vector<std::string> connected = {"正在连接芯片,请执行复位.....", "芯片连接成功!"};
  for (const Row& row : rows) {
    ModelOptions model;
    model.faults.answerDelayMicros = row.everyMicros;
    if (row.code >= 0) model.faults.delayFor[static_cast<size_t>(row.code)] = row.codeMicros;
    testing::SimChip chip(model, /*pace=*/true);
    const Clock::time_point start = Clock::now();
    testing::Tool tool({"-p", chip.path, "info"});
    EXPECT_EQ(tool.Wait(), row.exitStatus) << row.name << "\n" << tool.out() << tool.err();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::vector<std::string> lines = testing::SplitLines(tool.out());
    ASSERT_GE(lines.size(), 2u) << row.name << "\n" << tool.out();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2), connected) << row.name;
    EXPECT_EQ(tool.out().find("Boot版本 :V1.2") != std::string::npos, row.versionShown) << row.name << "\n" << tool.out();
    EXPECT_NE(tool.out().find("App_Name :DEMO"), std::string::npos) << row.name << ": a later answer";
    if (!row.versionShown) {
      // The limit runs on a whole-second clock: it ends between 3 and 4 s after the command.
      EXPECT_GE(seconds, link::kCommandTimeoutSeconds - 1) << row.name << ": the tool waited its command limit";
    }
  }
}

}  // namespace
}  // namespace corvel::sim
