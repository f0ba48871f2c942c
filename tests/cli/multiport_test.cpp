// One corvel-dl run over several ports at once, end to end: every port's
// lines with its name in front, the summary on stderr, the run's exit status.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/command_codes.h"
#include "tests/support/hex_writer.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SimChip;
using testing::Tool;

std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Each port's stdout lines, without their prefix; every line must carry one.
std::map<std::string, std::vector<std::string>> LinesByPort(const std::string& out,
                                                            const std::vector<std::string>& names) {
  std::map<std::string, std::vector<std::string>> byPort;
  for (const std::string& line : testing::SplitLines(out)) {
    bool known = false;
    for (const std::string& name : names) {
      if (line.rfind(name + ": ", 0) != 0) continue;
      byPort[name].push_back(line.substr(name.size() + 2));
      known = true;
    }
    EXPECT_TRUE(known) << "a line without a port's prefix: " << line;
  }
  return byPort;
}

// The summary's line for a port: its words, split at the column spaces.
std::vector<std::string> SummaryRow(const std::string& err, const std::string& name) {
  for (const std::string& line : testing::SplitLines(err)) {
    if (line.rfind(name + " ", 0) != 0) continue;
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
  }
  return {};
}

const std::vector<std::string> kMacLines = {"正在连接芯片,请执行复位.....", "芯片连接成功!", "蓝牙MAC：0x2B8012345678",
                                            "芯片断开连接!"};

TEST(MultiPort, FourPortsAllSucceedEachWithItsLinesInOrderAndASummary) {
  std::vector<std::unique_ptr<SimChip>> chips;
  std::vector<std::string> args, names;
  for (int i = 0; i < 4; ++i) {
    chips.push_back(std::make_unique<SimChip>());
    args.insert(args.end(), {"-p", chips.back()->path});
    names.push_back(Name(chips.back()->path));
  }
  args.push_back("mac");
  Tool tool(args);
  EXPECT_EQ(tool.Wait(), 0) << tool.err();
  const auto byPort = LinesByPort(tool.out(), names);
  for (const std::string& name : names) {
    EXPECT_EQ(byPort.count(name) ? byPort.at(name) : std::vector<std::string>{}, kMacLines) << name;
    const std::vector<std::string> row = SummaryRow(tool.err(), name);
    ASSERT_EQ(row.size(), 4u) << tool.err();
    EXPECT_EQ(row[1], "done");
    EXPECT_EQ(row[2], "0x12345678");
  }
  EXPECT_NE(tool.err().find("total: 4 ports, 4 done, 0 failed\n"), std::string::npos) << tool.err();
}

TEST(MultiPort, OneFailingPortSetsTheRunsStatusAndTheSummarySaysWhy) {
  struct Row {
    const char* name;
    std::vector<std::string> extraArgs;
    sim::ModelOptions model;
    void (*fault)(sim::Faults&);
    int status;
    const char* result;
  };
  sim::ModelOptions late;
  late.syncAfterBursts = 1000000;
  const std::vector<Row> rows = {
      {"refused erase", {}, {}, [](sim::Faults& f) { f.statusFor[link::cmd::kErase] = 9; }, 1, "chip-refused"},
      {"unanswered erase", {}, {}, [](sim::Faults& f) { f.silentFor.set(link::cmd::kErase); }, 1, "no-answer"},
      {"never syncs", {"--sync-timeout", "1"}, late, nullptr, 3, "no-sync"},
  };
  for (const Row& row : rows) {
    SimChip good1, good2, bad(row.model);
    if (row.fault) bad.server.WithModel([&row](sim::ChipModel& m) { row.fault(m.faults()); });
    testing::TempDir dir;
    const std::string json = dir.Path("runs.json");
    std::vector<std::string> args = row.extraArgs;
    args.insert(args.end(), {"-p", good1.path, "-p", bad.path, "-p", good2.path, "--json", json, "erase-chip"});
    Tool tool(args);
    EXPECT_EQ(tool.Wait(), row.status) << row.name << tool.err();
    // The record says which port failed and why, in the ports' order.
    std::ifstream in(json);
    const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << row.name;
    ASSERT_EQ(document["runs"].size(), 3u) << row.name;
    EXPECT_EQ(document["runs"][1]["port"], bad.path);
    EXPECT_EQ(document["runs"][1]["exit_status"], row.status) << row.name;
    EXPECT_EQ(document["runs"][1]["result"], row.result) << row.name;
    EXPECT_EQ(document["runs"][0]["result"], "ok") << row.name;
    EXPECT_EQ(document["runs"][2]["result"], "ok") << row.name;
    for (const SimChip* chip : {&good1, &good2}) {
      EXPECT_EQ(SummaryRow(tool.err(), Name(chip->path)).at(1), "done") << row.name;
    }
    const std::vector<std::string> failed = SummaryRow(tool.err(), Name(bad.path));
    ASSERT_GE(failed.size(), 2u) << row.name << tool.err();
    EXPECT_EQ(failed[1], row.result) << row.name;
    EXPECT_NE(tool.err().find("3 ports, 2 done, 1 failed"), std::string::npos) << row.name;
  }
}

TEST(MultiPort, CtrlCDuringAParallelDownloadDisconnectsEveryPort) {
  std::vector<uint8_t> image(60 * 1024);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  testing::TempDir dir;
  const std::string hex = dir.Write("app.hex", testing::HexText(image));
  // Paced: the transfer takes seconds, so the signal comes while it runs.
  SimChip a({}, true), b({}, true), c({}, true);
  const std::vector<std::string> names = {Name(a.path), Name(b.path), Name(c.path)};
  Tool tool({"-p", a.path, "-p", b.path, "-p", c.path, "download", "--app", hex});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto allStarted = [&] {
    for (const std::string& name : names) {
      if (tool.out().find(name + ": 正在下载") == std::string::npos) return false;
    }
    return true;
  };
  while (!allStarted() && std::chrono::steady_clock::now() < deadline) tool.ReadOut(100);
  ASSERT_TRUE(allStarted()) << tool.out();
  tool.Signal(SIGINT);
  EXPECT_EQ(tool.Wait(), 130) << tool.err();
  const auto byPort = LinesByPort(tool.out(), names);
  for (const std::string& name : names) {
    ASSERT_TRUE(byPort.count(name)) << name;
    EXPECT_EQ(byPort.at(name).back(), "芯片断开连接!") << name << "\n" << tool.out();
    EXPECT_EQ(SummaryRow(tool.err(), name).at(1), "interrupted") << tool.err();
  }
}

TEST(MultiPort, AWildcardNamesEveryMatchAndOneDeviceRunsOnce) {
  SimChip a, b;
  testing::TempDir dir;
  std::filesystem::create_symlink(a.path, dir.Path("chip-a"));
  std::filesystem::create_symlink(b.path, dir.Path("chip-b"));
  // chip-a's device again, under its own name: it runs once, as chip-a.
  Tool tool({"-p", dir.Path("chip-*"), "-p", a.path, "mac"});
  EXPECT_EQ(tool.Wait(), 0) << tool.err();
  const auto byPort = LinesByPort(tool.out(), {"chip-a", "chip-b"});
  EXPECT_EQ(byPort.size(), 2u);
  EXPECT_EQ(byPort.count("chip-a") ? byPort.at("chip-a") : std::vector<std::string>{}, kMacLines);
  // A second run on chip-a would double its frames; a loaded machine may
  // cost either chip a resent command or two, so the counts need not be equal.
  EXPECT_LE(a.FramesReceived(), b.FramesReceived() + 2);

  const uint64_t before = a.BytesReceived();
  Tool none({"-p", dir.Path("nothing-*"), "-p", a.path, "mac"});
  EXPECT_EQ(none.Wait(), 2);
  EXPECT_EQ(none.out(), "");
  EXPECT_EQ(testing::SplitLines(none.err()).size(), 1u) << none.err();
  EXPECT_NE(none.err().find(dir.Path("nothing-*")), std::string::npos) << none.err();
  EXPECT_EQ(a.BytesReceived(), before);
}

}  // namespace
}  // namespace corvel::cli

namespace corvel::cli {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// A station: the port whose chip is swapped after each run programs chip
// after chip, one record each; the port whose chip stays says so once and
// writes one record only. Ctrl-C ends both.
TEST(Station, RepeatDoesTheNextChipAndNotTheSameOneTwice) {
  sim::ModelOptions swapped;
  swapped.newChipOnDisconnect = true;
  swapped.serialNumber = 0x1000;
  SimChip a(swapped), b;
  const std::vector<std::string> names = {Name(a.path), Name(b.path)};
  testing::TempDir dir;
  const std::string json = dir.Path("station.jsonl");
  Tool tool({"-p", a.path, "-p", b.path, "--repeat", "--json", json, "mac"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto enough = [&] {
    const auto byPort = LinesByPort(tool.out(), names);
    return byPort.count(names[0]) && Count(byPort.at(names[0]), "芯片断开连接!") >= 3 && byPort.count(names[1]) &&
           Count(byPort.at(names[1]), "同一芯片仍在座上, 请换下一块芯片") == 1;
  };
  while (!enough() && std::chrono::steady_clock::now() < deadline) tool.ReadOut(100);
  ASSERT_TRUE(enough()) << tool.out();
  tool.Signal(SIGINT);
  EXPECT_EQ(tool.Wait(), 130) << tool.err();

  const auto byPort = LinesByPort(tool.out(), names);
  EXPECT_EQ(Count(byPort.at(names[1]), "蓝牙MAC：0x2B8012345678"), 1u);
  EXPECT_EQ(Count(byPort.at(names[1]), "同一芯片仍在座上, 请换下一块芯片"), 1u);
  EXPECT_EQ(Count(byPort.at(names[0]), "蓝牙MAC：0x2B8000001000"), 1u);
  EXPECT_EQ(Count(byPort.at(names[0]), "蓝牙MAC：0x2B8000001001"), 1u);

  // One line per chip done, each with its own serial number.
  std::map<std::string, std::vector<std::string>> serials;
  for (const std::string& line : testing::SplitLines(ReadText(json))) {
    const size_t port = line.find("\"port\":\"");
    const size_t serial = line.find("\"serial\":\"");
    ASSERT_NE(port, std::string::npos) << line;
    ASSERT_NE(serial, std::string::npos) << line;
    EXPECT_NE(line.find("\"result\":\"ok\""), std::string::npos) << line;
    serials[line.substr(port + 8, line.find('"', port + 8) - port - 8)].push_back(line.substr(serial + 10, 10));
  }
  EXPECT_EQ(serials[b.path], std::vector<std::string>{"0x12345678"});
  ASSERT_GE(serials[a.path].size(), 3u);
  EXPECT_EQ(serials[a.path][0], "0x00001000");
  EXPECT_EQ(serials[a.path][1], "0x00001001");
  EXPECT_NE(tool.err().find(names[1] + ": 1 done, 0 failed"), std::string::npos) << tool.err();
}

}  // namespace
}  // namespace corvel::cli
