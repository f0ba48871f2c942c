// corvel-tool's command line where there is no display: help, the version and
// a wrong option are answered before the window's QApplication, which would
// abort for want of one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/tool_process.h"

namespace corvel::app {
namespace {

TEST(CommandLineTest, AnswersWithoutADisplay) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string out, err;  // fragments
  };
  const Row rows[] = {
      {{"--help"}, 0, "Usage: " CORVEL_TOOL_PATH " [options]", ""},
      {{"-h"}, 0, "--screenshot <FILE>", ""},
      {{"--version"}, 0, "corvel-tool 1.3\n", ""},
      // QApplication's own options are its business, not an error.
      {{"-platform", "offscreen", "--version"}, 0, "corvel-tool 1.3\n", ""},
      {{"--bogus"}, 1, "", "corvel-tool: Unknown option 'bogus'.\n"},
      {{"--screenshot"}, 1, "", "Missing value after '--screenshot'"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0]);
    testing::Tool tool(row.args, CORVEL_TOOL_PATH);
    ASSERT_TRUE(tool.started());
    EXPECT_EQ(tool.Wait(), row.exitCode) << tool.err();
    if (row.out.empty()) {
      EXPECT_EQ(tool.out(), "");
    }
    EXPECT_NE(tool.out().find(row.out), std::string::npos) << tool.out();
    EXPECT_NE(tool.err().find(row.err), std::string::npos) << tool.err();
  }
}

}  // namespace
}  // namespace corvel::app
