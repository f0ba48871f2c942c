// corvel-dl in English: the same lines as in Chinese, one for one and in the
// same order, with the same numbers; only the words change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/cjk.h"
#include "tests/support/sim_chip.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SimChip;
using testing::HasCjk;
using testing::Tool;

// Addresses, rates, hex values, sizes; a duration differs from run to run.
std::vector<std::string> Numbers(const std::string& line) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto isHex = [&](char c) { return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
  std::vector<std::string> found;
  for (size_t i = 0; i < line.size();) {
    size_t end = i;
    if (line.compare(i, 2, "0x") == 0 && i + 2 < line.size() && isHex(line[i + 2])) {
      for (end = i + 2; end < line.size() && isHex(line[end]);) ++end;
      found.push_back(line.substr(i, end - i));
    } else if (isDigit(line[i])) {
      while (end < line.size() && isDigit(line[end])) ++end;
      if (end + 1 < line.size() && line[end] == '.' && isDigit(line[end + 1])) {
        for (++end; end < line.size() && isDigit(line[end]);) ++end;
      }
      const bool seconds = end < line.size() && line[end] == 's';
      found.push_back(seconds ? "<seconds>" : line.substr(i, end - i));
    } else {
      ++end;
    }
    i = end;
  }
  return found;
}

void ExpectSameLines(const std::string& chinese, const std::string& english, const std::string& what) {
  const auto zh = testing::SplitLines(chinese);
  const auto en = testing::SplitLines(english);
  ASSERT_EQ(zh.size(), en.size()) << what << "\n" << chinese << "--\n" << english;
  for (size_t i = 0; i < zh.size(); ++i) {
    EXPECT_FALSE(HasCjk(en[i])) << what << ": " << en[i];
    EXPECT_EQ(Numbers(zh[i]), Numbers(en[i])) << what << ":\n" << zh[i] << "\n" << en[i];
  }
}

TEST(Language, EnglishGivesTheSameLinesWithTheSameNumbers) {
  struct Row {
    std::vector<std::string> args;
    int status;
    uint32_t chipPassword = 0x12345678;  // the tool gives 12345678
  };
  const std::vector<Row> rows = {
      {{"info"}, 0},
      {{"download", "--app", CORVEL_EXAMPLES "/app_demo.hex"}, 0},
      {{"read-flash", "0x60000", "16"}, 0},
      {{"page-erase", "0x60000", "100"}, 2},
      {{"mac"}, 3, 0x87654321},
  };
  for (const Row& row : rows) {
    std::string outputs[2][2];
    for (int english = 0; english < 2; ++english) {
      sim::ModelOptions model;
      model.password = row.chipPassword;
      SimChip chip(model);
      std::vector<std::string> args = {"-p", chip.path, "--password", "12345678"};
      if (english) args.insert(args.end(), {"--lang", "en"});
      args.insert(args.end(), row.args.begin(), row.args.end());
      Tool tool(args);
      EXPECT_EQ(tool.Wait(), row.status) << row.args.front() << tool.err();
      outputs[english][0] = tool.out();
      outputs[english][1] = tool.err();
    }
    const std::string what = row.args.front() + " " + std::to_string(row.status);
    ExpectSameLines(outputs[0][0], outputs[1][0], what + " stdout");
    ExpectSameLines(outputs[0][1], outputs[1][1], what + " stderr");
  }
}

TEST(Language, TheEnvironmentChoosesUnlessTheOptionDoes) {
  struct Row {
    const char* environment;  // CORVEL_LANG, or none
    std::vector<std::string> lang;
    int status;
    const char* out;  // the first stdout line
    const char* err;
  };
  const std::vector<Row> rows = {
      {"en", {}, 0, "Connecting to the chip, please reset it.....", ""},
      {"en", {"--lang", "zh"}, 0, "正在连接芯片,请执行复位.....", ""},
      {"zh", {"--lang", "en"}, 0, "Connecting to the chip, please reset it.....", ""},
      {"fr", {}, 0, "正在连接芯片,请执行复位.....", "corvel-dl: CORVEL_LANG=fr is neither zh nor en; using zh\n"},
      {nullptr, {"--lang", "fr"}, 2, "", nullptr},
  };
  for (const Row& row : rows) {
    SimChip chip;
    if (row.environment != nullptr) setenv("CORVEL_LANG", row.environment, 1);
    std::vector<std::string> args = {"-p", chip.path, "mac"};
    args.insert(args.end(), row.lang.begin(), row.lang.end());
    Tool tool(args);
    unsetenv("CORVEL_LANG");
    const std::string name = std::string(row.environment ? row.environment : "-") + " " +
                             (row.lang.empty() ? "" : row.lang.back());
    EXPECT_EQ(tool.Wait(), row.status) << name;
    EXPECT_EQ(tool.out().substr(0, tool.out().find('\n')), row.out) << name;
    if (row.err != nullptr) {
      EXPECT_EQ(tool.err(), row.err) << name;
    } else {
      EXPECT_NE(tool.err().find("--lang"), std::string::npos) << tool.err();
    }
  }
}

}  // namespace
}  // namespace corvel::cli
