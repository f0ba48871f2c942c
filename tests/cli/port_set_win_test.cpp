// Windows port names: wildcards over the port list, and one port under its
// two spellings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/port_set.h"

namespace corvel::cli {
namespace {

TEST(PortSetWindows, WildcardsMatchThePortListAndComNamesAreOnePortWhateverTheSpelling) {
  // In the order the port list keeps: COM10 after COM7.
  const PortSystem system =
      PortsInList([] { return std::vector<std::string>{"COM1", "COM3", "COM7", "COM10", "COM12"}; });
  struct Row {
    std::vector<std::string> given;
    std::vector<std::string> paths;  // empty: refused
  };
  const std::vector<Row> rows = {
      {{"COM*"}, {"COM1", "COM3", "COM7", "COM10", "COM12"}},
      {{"com*"}, {"COM1", "COM3", "COM7", "COM10", "COM12"}},
      {{"COM?"}, {"COM1", "COM3", "COM7"}},
      {{"COM1?"}, {"COM10", "COM12"}},
      {{"COM[1-3]"}, {"COM1", "COM3"}},
      {{"COM[!1]"}, {"COM3", "COM7"}},
      {{"\\\\.\\COM1*"}, {"COM1", "COM10", "COM12"}},
      {{"com7", "\\\\.\\COM7"}, {"com7"}},
      {{"\\\\.\\COM7", "COM[37]"}, {"\\\\.\\COM7", "COM3"}},
      {{"COM7", "COM9*"}, {}},
      {{"LPT*"}, {}},
  };
  for (const Row& row : rows) {
    const std::string name = ::testing::PrintToString(row.given);
    const auto ports = ResolvePorts(row.given, system);
    if (row.paths.empty()) {
      ASSERT_FALSE(ports) << name;
      EXPECT_EQ(ports.error().kind, ErrorKind::kBadInput) << name;
      EXPECT_EQ(ports.error().text, "没有与 " + row.given.back() + " 匹配的串口") << name;
      continue;
    }
    ASSERT_TRUE(ports) << name;
    std::vector<std::string> paths;
    for (const PortEntry& port : *ports) paths.push_back(port.path);
    EXPECT_EQ(paths, row.paths) << name;
  }
}

}  // namespace
}  // namespace corvel::cli
