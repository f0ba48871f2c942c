// corvel-dl's whole reading of its own arguments, without a chip.
#include "cli/argument_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvel::cli {
namespace {

using tools::ExtensionBox;

TEST(ArgumentText, BoxArgumentsAreReadWhole) {
  struct Row {
    ExtensionBox box;
    std::string text;
    std::string expected;  // the text handed on when accepted, or a fragment of the refusal
    bool accepted;
  };
  const std::vector<Row> rows = {
      {ExtensionBox::kAddress, "1000", "1000", true},
      {ExtensionBox::kAddress, "0x1000", "0x1000", true},
      {ExtensionBox::kAddress, "0X1000", "0x1000", true},
      {ExtensionBox::kAddress, "0x0", "0x0", true},
      {ExtensionBox::kAddress, "0", "0", true},
      {ExtensionBox::kAddress, "FFFFFFFF", "FFFFFFFF", true},
      {ExtensionBox::kAddress, "0x0000abcd", "0x0000abcd", true},
      {ExtensionBox::kData, "0XdeadBEEF", "0xdeadBEEF", true},
      {ExtensionBox::kAddress, "zz", "参数ADDR非法: \"zz\"", false},
      {ExtensionBox::kAddress, "123456789", "参数ADDR非法: \"123456789\" 应为1到8位十六进制数", false},
      {ExtensionBox::kAddress, "0x000000001", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "", "参数ADDR非法: \"\"", false},
      {ExtensionBox::kAddress, "0x", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "-1", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "+1", "参数ADDR非法", false},
      {ExtensionBox::kAddress, " 1", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "1 ", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "10g", "参数ADDR非法", false},
      {ExtensionBox::kAddress, "x10", "参数ADDR非法", false},
      {ExtensionBox::kData, "xyz", "参数VALUE非法: \"xyz\"", false},
      {ExtensionBox::kLength, "256", "256", true},
      {ExtensionBox::kLength, "0", "0", true},
      {ExtensionBox::kLength, "0256", "0256", true},
      {ExtensionBox::kLength, "4294967295", "4294967295", true},
      {ExtensionBox::kLength, "4294967296", "参数LEN超出范围: \"4294967296\"", false},
      {ExtensionBox::kLength, "-4", "参数LEN非法: \"-4\" 应为十进制数", false},
      {ExtensionBox::kLength, "+4", "参数LEN非法", false},
      {ExtensionBox::kLength, "0x100", "参数LEN非法", false},
      {ExtensionBox::kLength, "4x", "参数LEN非法", false},
      {ExtensionBox::kLength, "", "参数LEN非法", false},
      {ExtensionBox::kPage, "2", "2", true},
      {ExtensionBox::kPage, "two", "参数PAGE非法", false},
      {ExtensionBox::kLoadFile, "any path at all", "any path at all", true},
  };
  for (const Row& row : rows) {
    std::string text = row.text;
    const std::optional<std::string> error = CheckBoxArgument(row.box, text);
    if (row.accepted) {
      EXPECT_FALSE(error) << row.text << ": " << *error;
      EXPECT_EQ(text, row.expected);
    } else {
      ASSERT_TRUE(error) << row.text;
      EXPECT_EQ(error->rfind(row.expected, 0), 0u) << *error;
      EXPECT_EQ(text, row.text);
    }
  }
}

TEST(ArgumentText, BaudAndSyncTimeout) {
  struct Row {
    std::string text;
    bool accepted;
    std::string error;  // the whole line when refused
  };
  const std::vector<Row> bauds = {
      {"115200", true, ""},
      {"1", true, ""},
      {"4294967295", true, ""},
      {"abc", false, "-b/--baud: \"abc\" is not a baud rate (a positive integer)"},
      {"0", false, "-b/--baud: \"0\" is not a baud rate (a positive integer)"},
      {"4294967296", false, "-b/--baud: \"4294967296\" is not a baud rate (a positive integer)"},
      {"-9600", false, "-b/--baud: \"-9600\" is not a baud rate (a positive integer)"},
      {"9600.5", false, "-b/--baud: \"9600.5\" is not a baud rate (a positive integer)"},
  };
  for (const Row& row : bauds) {
    uint32_t baud = 7;
    const auto error = ReadBaud(row.text, baud);
    EXPECT_EQ(!error, row.accepted) << row.text;
    if (error) {
      EXPECT_EQ(*error, row.error);
    } else {
      EXPECT_EQ(std::to_string(baud), row.text);
    }
  }

  const std::string range = " is not a number of seconds from 0 to 86400";
  const std::vector<Row> timeouts = {
      {"0", true, ""},
      {"20", true, ""},
      {"0.3", true, ""},
      {"86400", true, ""},
      {"1e-6", true, ""},
      {"nan", false, "--sync-timeout: \"nan\"" + range},
      {"inf", false, "--sync-timeout: \"inf\"" + range},
      {"1e300", false, "--sync-timeout: \"1e300\"" + range},
      {"86400.5", false, "--sync-timeout: \"86400.5\"" + range},
      {"-1", false, "--sync-timeout: \"-1\"" + range},
      {"2s", false, "--sync-timeout: \"2s\"" + range},
      {"", false, "--sync-timeout: \"\"" + range},
      {"1e-300", false, "--sync-timeout: \"1e-300\" is below a microsecond (0 waits for ever)"},
      {"5e-7", false, "--sync-timeout: \"5e-7\" is below a microsecond (0 waits for ever)"},
  };
  for (const Row& row : timeouts) {
    double seconds = -1;
    const auto error = ReadSyncTimeout(row.text, seconds);
    EXPECT_EQ(!error, row.accepted) << row.text;
    if (error) {
      EXPECT_EQ(*error, row.error);
    } else {
      EXPECT_EQ(seconds, std::stod(row.text));
    }
  }
}

TEST(ArgumentText, NearestCommandOnlyForASlip) {
  const std::vector<std::string> commands = {"info", "mac", "read-flash", "write-flash", "read-reg", "otp-lock"};
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"red-flash", "read-flash"}, {"readflash", "read-flash"}, {"otp-lok", "otp-lock"}, {"inf", "info"},
      {"inof", "info"},            {"otp-lcok", "otp-lock"},
      {"read-regs", "read-reg"},   {"frobnicate", ""},          {"flash", ""},          {"x", ""},
  };
  for (const auto& [word, nearest] : rows) EXPECT_EQ(NearestCommand(word, commands), nearest) << word;
  EXPECT_EQ(UnknownCommandMessage("red-flash", "read-flash"),
            "unknown command \"red-flash\" (did you mean \"read-flash\"?)\nRun with --help for the commands.\n");
  EXPECT_EQ(UnknownCommandMessage("x", ""), "unknown command \"x\"\nRun with --help for the commands.\n");
}

}  // namespace
}  // namespace corvel::cli
