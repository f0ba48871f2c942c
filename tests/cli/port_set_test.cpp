// The ports of one run, and the prefix of their lines.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "cli/port_set.h"

namespace corvel::cli {
namespace {

// A system with two adapters, each also reachable through a by-id link.
PortSystem FakeSystem() {
  static const std::map<std::string, std::vector<std::string>> patterns = {
      {"/dev/ttyUSB*", {"/dev/ttyUSB0", "/dev/ttyUSB1"}},
      {"/dev/serial/by-id/*CP2102*", {"/dev/serial/by-id/usb-CP2102-if00"}},
  };
  static const std::map<std::string, std::string> links = {
      {"/dev/serial/by-id/usb-CP2102-if00", "/dev/ttyUSB1"},
  };
  return {[](const std::string& pattern) {
            const auto found = patterns.find(pattern);
            return found == patterns.end() ? std::vector<std::string>{} : found->second;
          },
          [](const std::string& path) {
            const auto found = links.find(path);
            return found == links.end() ? path : found->second;
          }};
}

TEST(PortSet, ExpandsWildcardsAndKeepsEachDeviceOnceUnderItsFirstName) {
  struct Row {
    const char* name;
    std::vector<std::string> given;
    std::vector<std::string> paths;  // empty: refused
  };
  const std::vector<Row> rows = {
      {"plain", {"/dev/ttyUSB1"}, {"/dev/ttyUSB1"}},
      {"wildcard", {"/dev/ttyUSB*"}, {"/dev/ttyUSB0", "/dev/ttyUSB1"}},
      {"by-id link first", {"/dev/serial/by-id/*CP2102*", "/dev/ttyUSB*"},
       {"/dev/serial/by-id/usb-CP2102-if00", "/dev/ttyUSB0"}},
      {"same path twice", {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"/dev/ttyUSB0"}},
      {"order as given", {"/dev/pts/3", "/dev/ttyUSB*"}, {"/dev/pts/3", "/dev/ttyUSB0", "/dev/ttyUSB1"}},
      {"no match", {"/dev/ttyUSB0", "/dev/ttyACM*"}, {}},
  };
  for (const Row& row : rows) {
    const auto ports = ResolvePorts(row.given, FakeSystem());
    if (row.paths.empty()) {
      ASSERT_FALSE(ports) << row.name;
      EXPECT_NE(ports.error().text.find("/dev/ttyACM*"), std::string::npos) << row.name;
      continue;
    }
    ASSERT_TRUE(ports) << row.name;
    std::vector<std::string> paths;
    for (const PortEntry& port : *ports) paths.push_back(port.path);
    EXPECT_EQ(paths, row.paths) << row.name;
  }
}

TEST(PortSet, LinesCarryThePortsShortName) {
  struct Row {
    std::string path;
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"/dev/ttyUSB0", "芯片连接成功!", "ttyUSB0: 芯片连接成功!\n"},
      {"/dev/pts/3", "a\n", "3: a\n"},
      {"/dev/serial/by-id/usb-CP2102-if00", "没有发现此串口或被占用\ncause\n",
       "usb-CP2102-if00: 没有发现此串口或被占用\nusb-CP2102-if00: cause\n"},
      {"ttyS1", "", "ttyS1: \n"},
      {"\\\\.\\COM7", "a", "COM7: a\n"},
      {"/dev/ttyUSB0", "a\n\nb", "ttyUSB0: a\nttyUSB0: \nttyUSB0: b\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(PrefixLines(PortShortName(row.path) + ": ", row.text), row.expected) << row.path;
  }
}

TEST(PortSet, EachPortsFileCarriesItsNameBeforeTheExtension) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"flash.bin", "flash-ttyUSB0.bin"},
      {"flash", "flash-ttyUSB0"},
      {"out/app.read.HEX", "out/app.read-ttyUSB0.HEX"},
      {"/tmp/.flash", "/tmp/.flash-ttyUSB0"},
      {"读出/固件.hex", "读出/固件-ttyUSB0.hex"},
#ifdef _WIN32
      {"C:\\out\\app.hex", "C:\\out\\app-ttyUSB0.hex"},
#endif
  };
  for (const auto& [file, expected] : rows) EXPECT_EQ(PortFileName(file, "/dev/ttyUSB0"), expected) << file;
}

}  // namespace
}  // namespace corvel::cli
