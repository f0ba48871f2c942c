// corvel-dl's usage errors and help, end to end: short plain errors that name
// the option, an unknown command with the nearest name, and every command's
// help with the global options and an example.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/sim_chip.h"  // SplitLines
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SplitLines;
using testing::Tool;

size_t LongestDigitRun(const std::string& text) {
  size_t longest = 0;
  size_t run = 0;
  for (const char c : text) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

// A usage error: exit 2, nothing on stdout, one or two short lines on stderr,
// no range of digits and no help text.
void ExpectPlainUsageError(const std::vector<std::string>& args, const std::string& fragment) {
  Tool tool(args);
  EXPECT_EQ(tool.Wait(), 2) << args[0];
  EXPECT_EQ(tool.out(), "") << args[0];
  const std::string& err = tool.err();
  EXPECT_NE(err.find(fragment), std::string::npos) << err;
  EXPECT_GE(SplitLines(err).size(), 1u) << err;
  EXPECT_LE(SplitLines(err).size(), 2u) << err;
  EXPECT_LE(LongestDigitRun(err), 11u) << err;
  EXPECT_EQ(err.find("Usage:"), std::string::npos) << err;
}

TEST(Usage, OptionErrorsNameTheOptionAndWhatItTakes) {
  struct Row {
    std::vector<std::string> args;
    std::string fragment;
  };
  const std::vector<Row> rows = {
      {{"-b", "abc", "ports"}, "-b/--baud: \"abc\" is not a baud rate (a positive integer)"},
      {{"ports", "--baud", "0"}, "-b/--baud: \"0\" is not a baud rate"},
      {{"--baud=99999999999", "ports"}, "-b/--baud: \"99999999999\" is not a baud rate"},
      {{"--sync-timeout", "nan", "ports"}, "--sync-timeout: \"nan\" is not a number of seconds from 0 to 86400"},
      {{"--sync-timeout", "inf", "ports"}, "--sync-timeout: \"inf\""},
      {{"--sync-timeout", "1e300", "ports"}, "--sync-timeout: \"1e300\""},
      {{"--sync-timeout", "-1", "ports"}, "--sync-timeout: \"-1\""},
      {{"--sync-timeout", "1e-300", "ports"}, "--sync-timeout: \"1e-300\" is below a microsecond"},
      {{"download", "--speedup", "abc"}, "--speedup: \"abc\" is not a positive number"},
      {{"monitor", "--duration", "-1"}, "--duration: \"-1\" is not a number of 0 or more"},
  };
  for (const Row& row : rows) ExpectPlainUsageError(row.args, row.fragment);
  // The edges of the range are accepted.
  for (const char* seconds : {"0", "86400", "1e-6"}) {
    Tool tool({"--sync-timeout", seconds, "ports"});
    EXPECT_EQ(tool.Wait(), 0) << seconds << ": " << tool.err();
  }
}

TEST(Usage, UnknownCommandNamesItselfAndTheNearestCommand) {
  struct Row {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Row> rows = {
      {{"red-flash", "1000", "4"},
       "unknown command \"red-flash\" (did you mean \"read-flash\"?)\nRun with --help for the commands.\n"},
      {{"-p", "/dev/null", "-b", "9600", "otp-lok", "1"},
       "unknown command \"otp-lok\" (did you mean \"otp-lock\"?)\nRun with --help for the commands.\n"},
      {{"--sim", "frobnicate"}, "unknown command \"frobnicate\"\nRun with --help for the commands.\n"},
  };
  for (const Row& row : rows) {
    Tool tool(row.args);
    EXPECT_EQ(tool.Wait(), 2);
    EXPECT_EQ(tool.out(), "");
    EXPECT_EQ(tool.err(), row.err);
  }
}

TEST(Usage, EveryCommandsHelpShowsTheGlobalOptionsAndAnExample) {
  Tool top({"--help"});
  ASSERT_EQ(top.Wait(), 0);
  const std::string& help = top.out();
  const size_t section = help.find("Subcommands:\n");
  ASSERT_NE(section, std::string::npos) << help;
  std::vector<std::string> commands;
  for (const std::string& line : SplitLines(help.substr(section + 13))) {
    if (line.size() > 2 && line[2] != ' ') commands.push_back(line.substr(2, line.find(' ', 2) - 2));
  }
  ASSERT_GE(commands.size(), 20u) << help;
  for (const std::string& command : commands) {
    Tool tool({command, "--help"});
    EXPECT_EQ(tool.Wait(), 0) << command;
    const std::string& text = tool.out();
    for (const char* global : {"Global options", "-p,--port", "--sim", "-b,--baud", "--password", "--pkt",
                               "--sync-timeout"}) {
      EXPECT_NE(text.find(global), std::string::npos) << command << " lacks " << global << "\n" << text;
    }
    const size_t example = text.find("Example:\n  corvel-dl ");
    ASSERT_NE(example, std::string::npos) << command << "\n" << text;
    const std::string line = text.substr(example + 11, text.find('\n', example + 11) - (example + 11));
    EXPECT_NE((line + " ").find(" " + command + " "), std::string::npos) << command << ": " << line;
  }
}

}  // namespace
}  // namespace corvel::cli
