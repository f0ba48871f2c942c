// --json: the writer's records and failures, checked against the published
// schema, and the real corvel-dl writing one for a simulated chip.
#include "cli/json_output.h"

// GCC 12 at -O1 with the sanitizers warns falsely inside std::regex's own
// std::function members; the schema check's patterns need std::regex.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <algorithm>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/crc16.h"
#include "program/hex_reader.h"
#include "sim/faults.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using Json = nlohmann::json;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The part of JSON Schema that docs/run-record.schema.json uses. A keyword it
// does not know fails the check, so the schema cannot outgrow it unnoticed.
class SchemaCheck {
 public:
  SchemaCheck() : root_(Json::parse(ReadAll(CORVEL_SCHEMA))) {}

  // Empty when `value` matches; else where and why not.
  std::string Check(const Json& value) const { return Check(root_, value, "$"); }

 private:
  static bool HasType(const Json& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "array") return value.is_array();
    if (type == "string") return value.is_string();
    if (type == "integer") return value.is_number_integer();
    if (type == "number") return value.is_number();
    if (type == "boolean") return value.is_boolean();
    return false;
  }

  std::string Check(const Json& schema, const Json& value, const std::string& at) const {
    for (const auto& [key, rule] : schema.items()) {
      std::string failure;
      if (key == "$ref") {
        failure = Check(root_.at(Json::json_pointer(rule.get<std::string>().substr(1))), value, at);
      } else if (key == "allOf") {
        for (const Json& part : rule) {
          if (failure = Check(part, value, at); !failure.empty()) break;
        }
      } else if (key == "oneOf") {
        int matches = 0;
        for (const Json& part : rule) matches += Check(part, value, at).empty() ? 1 : 0;
        if (matches != 1) failure = at + ": matches " + std::to_string(matches) + " of oneOf";
      } else if (key == "type") {
        if (!HasType(value, rule.get<std::string>())) failure = at + ": not " + rule.get<std::string>();
      } else if (key == "const" || key == "enum") {
        const bool found = key == "const" ? value == rule : std::find(rule.begin(), rule.end(), value) != rule.end();
        if (!found) failure = at + ": " + value.dump() + " not allowed";
      } else if (key == "pattern") {
        if (value.is_string() && !std::regex_search(value.get<std::string>(), std::regex(rule.get<std::string>()))) {
          failure = at + ": " + value.dump() + " does not match " + rule.get<std::string>();
        }
      } else if (key == "minimum") {
        if (value.is_number() && value.get<double>() < rule.get<double>()) failure = at + ": below minimum";
      } else if (key == "required") {
        for (const Json& name : rule) {
          if (value.is_object() && !value.contains(name.get<std::string>())) failure = at + ": no " + name.dump();
        }
      } else if (key == "properties") {
        for (const auto& [name, part] : rule.items()) {
          if (!value.is_object() || !value.contains(name)) continue;
          if (failure = Check(part, value.at(name), at + "." + name); !failure.empty()) break;
        }
      } else if (key == "items") {
        for (size_t i = 0; value.is_array() && i < value.size() && failure.empty(); ++i) {
          failure = Check(rule, value.at(i), at + "[" + std::to_string(i) + "]");
        }
      } else if (key != "$schema" && key != "$id" && key != "$defs" && key != "title" && key != "description" &&
                 key != "format") {
        failure = "unknown keyword " + key;
      }
      if (!failure.empty()) return failure;
    }
    return "";
  }

  Json root_;
};

RunRecord FullRecord() {
  RunRecord record;
  record.order = 1;
  record.port = "/dev/ttyUSB0";
  record.exitStatus = 1;
  record.result = "chip-refused";
  record.serial = 0xABCD;
  record.chipId = 0x0C0B1E51;
  record.bootVersion = "V1.2";
  record.usb = UsbRecord{0x10C4, 0xEA60, "Silicon Labs", "CP2102 USB to UART", "0001"};
  record.startTime = "2026-12-10T17:45:51.123Z";
  record.seconds = 12.3456;
  record.steps = {{"open", "ok", 0.0012}, {"app", "no-answer", 3.5}};
  record.images = {{"app", 6144, 0x04E5, "demo"}};
  return record;
}

const Json kFullRecord = {
    {"port", "/dev/ttyUSB0"},
    {"exit_status", 1},
    {"result", "chip-refused"},
    {"serial", "0x0000ABCD"},
    {"chip_id", "0x0C0B1E51"},
    {"boot_version", "V1.2"},
    {"usb",
     {{"vendor_id", "10c4"},
      {"product_id", "ea60"},
      {"manufacturer", "Silicon Labs"},
      {"product", "CP2102 USB to UART"},
      {"serial", "0001"}}},
    {"start", "2026-12-10T17:45:51.123Z"},
    {"seconds", 12.346},
    {"steps", {{{"name", "open"}, {"status", "ok"}, {"seconds", 0.001}}, {{"name", "app"}, {"status", "no-answer"}, {"seconds", 3.5}}}},
    {"images", {{{"kind", "app"}, {"length", 6144}, {"crc", "0x04E5"}, {"tag", "demo"}}}},
};

// A run that read nothing: none of the optional fields.
const Json kBareRecord = {{"port", "/dev/ttyUSB1"}, {"exit_status", 3}, {"result", "no-sync"}, {"start", ""},
                          {"seconds", 0.0},         {"steps", Json::array()}, {"images", Json::array()}};

RunRecord BareRecord() {
  RunRecord record;
  record.port = "/dev/ttyUSB1";
  record.exitStatus = 3;
  record.result = "no-sync";
  return record;
}

const std::vector<std::string> kCommand = {"corvel-dl", "-p", "/dev/ttyUSB*", "--json", "out.json", "info"};

std::unique_ptr<JsonOutput> OpenOrFail(const std::string& path, JsonOutput::Mode mode) {
  auto opened = JsonOutput::Open(path, mode, kCommand);
  EXPECT_TRUE(opened) << (opened ? "" : opened.error().text);
  return opened ? std::move(*opened) : nullptr;
}

TEST(JsonOutput, DocumentListsEveryFieldInTheOrderThePortsWereGiven) {
  testing::TempDir dir;
  const std::string path = dir.Path("runs.json");
  auto output = OpenOrFail(path, JsonOutput::Mode::kDocument);
  ASSERT_TRUE(output);
  EXPECT_FALSE(output->toStdout());
  output->Add(FullRecord());  // the second port ended first
  output->Add(BareRecord());
  EXPECT_EQ(ReadAll(path), "");  // nothing before the last run has ended
  ASSERT_TRUE(output->Finish().ok());

  const Json document = Json::parse(ReadAll(path));
  const Json expected = {{"tool", "corvel-dl"}, {"version", CORVEL_VERSION}, {"command", kCommand},
                         {"runs", {kBareRecord, kFullRecord}}};
  EXPECT_EQ(document, expected) << document.dump(2);
  EXPECT_EQ(SchemaCheck().Check(document), "");
}

TEST(JsonOutput, LinesAreAppendedAndFlushedAsEachRunEnds) {
  testing::TempDir dir;
  const std::string path = dir.Write("runs.jsonl", "");
  for (const RunRecord& record : {FullRecord(), BareRecord()}) {
    auto output = OpenOrFail(path, JsonOutput::Mode::kLines);
    ASSERT_TRUE(output);
    const size_t before = ReadAll(path).size();
    output->Add(record);
    EXPECT_GT(ReadAll(path).size(), before);  // on disk before Finish
    ASSERT_TRUE(output->Finish().ok());
  }
  const std::vector<std::string> lines = testing::SplitLines(ReadAll(path));
  ASSERT_EQ(lines.size(), 2u);
  const SchemaCheck schema;
  const Json expected[] = {kFullRecord, kBareRecord};
  for (size_t i = 0; i < lines.size(); ++i) {
    Json line = Json::parse(lines[i]);
    EXPECT_EQ(schema.Check(line), "") << lines[i];
    EXPECT_EQ(line["tool"], "corvel-dl");
    EXPECT_EQ(line["version"], CORVEL_VERSION);
    EXPECT_EQ(line["command"], kCommand);
    for (const char* header : {"tool", "version", "command"}) line.erase(header);
    EXPECT_EQ(line, expected[i]);
  }
}

TEST(JsonOutput, BytesThatAreNotUtf8AreReplacedNotThrown) {
  for (const JsonOutput::Mode mode : {JsonOutput::Mode::kDocument, JsonOutput::Mode::kLines}) {
    testing::TempDir dir;
    const std::string path = dir.Path("runs.json");
    auto output = OpenOrFail(path, mode);
    ASSERT_TRUE(output);
    RunRecord record = BareRecord();
    record.images = {{"user", 2, 0x1234, "\xFF" "ab\xC3"}};
    output->Add(record);
    ASSERT_TRUE(output->Finish().ok());
    const Json written = Json::parse(ReadAll(path));
    const Json& run = mode == JsonOutput::Mode::kDocument ? written["runs"][0] : written;
    EXPECT_EQ(run["images"][0]["tag"], "\uFFFD" "ab\uFFFD");
  }
}

TEST(JsonOutput, WriteFailuresAreReturnedNotThrown) {
  testing::TempDir dir;
  // Open fails where the file cannot be made.
  struct OpenRow {
    std::string path;
    ErrorKind kind;
  };
  for (const OpenRow& row : {OpenRow{dir.Path("missing/runs.json"), ErrorKind::kNotFound}, OpenRow{dir.path(), ErrorKind::kIo}}) {
    auto opened = JsonOutput::Open(row.path, JsonOutput::Mode::kDocument, kCommand);
    ASSERT_FALSE(opened) << row.path;
    EXPECT_EQ(opened.error().kind, row.kind) << row.path;
    EXPECT_EQ(opened.error().text.rfind("无法打开JSON输出 " + row.path + ": ", 0), 0u) << opened.error().text;
  }
  // Writing fails on a full disk, and on stdout when nobody reads it any more.
  struct WriteRow {
    std::unique_ptr<JsonOutput> output;
    std::string name;
  };
  std::vector<WriteRow> rows;
  for (const JsonOutput::Mode mode : {JsonOutput::Mode::kDocument, JsonOutput::Mode::kLines}) {
    rows.push_back({OpenOrFail("/dev/full", mode), "/dev/full"});
  }
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);
  const int savedStdout = dup(STDOUT_FILENO);
  std::fflush(stdout);
  dup2(pipeEnds[1], STDOUT_FILENO);
  for (const JsonOutput::Mode mode : {JsonOutput::Mode::kDocument, JsonOutput::Mode::kLines}) {
    rows.push_back({OpenOrFail("-", mode), "标准输出"});
  }
  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  close(pipeEnds[1]);
  for (WriteRow& row : rows) {
    ASSERT_TRUE(row.output);
    row.output->Add(FullRecord());
    const Result<void> finished = row.output->Finish();
    ASSERT_FALSE(finished.ok()) << row.name;
    EXPECT_EQ(finished.error().kind, ErrorKind::kIo);
    EXPECT_EQ(finished.error().text.rfind("无法写入JSON输出 " + row.name + ": ", 0), 0u) << finished.error().text;
  }
}

// The checker has teeth: each row breaks one rule of the schema.
TEST(JsonOutput, SchemaRefusesWhatItForbids) {
  const Json good = {{"tool", "corvel-dl"}, {"version", "1.3.0"}, {"command", kCommand}, {"runs", {kFullRecord}}};
  const SchemaCheck schema;
  ASSERT_EQ(schema.Check(good), "");
  struct Row {
    const char* pointer;
    Json value;  // null: the member is removed
  };
  const Row rows[] = {
      {"/runs/0/serial", "0xABCD"},        {"/runs/0/chip_id", "0x0c0b1e51"}, {"/runs/0/result", "fine"},
      {"/runs/0/images/0/crc", "0x4E5"},   {"/runs/0/images/0/length", "6144"}, {"/runs/0/exit_status", 1.5},
      {"/runs/0/steps/0/status", "done"},  {"/runs/0/usb/vendor_id", "10C4"}, {"/runs/0/port", nullptr},
      {"/runs/0/images/0/kind", "image"},  {"/tool", "other"},                 {"/runs", nullptr},
  };
  for (const Row& row : rows) {
    Json bad = good;
    const Json::json_pointer pointer(row.pointer);
    if (row.value.is_null()) {
      bad[pointer.parent_pointer()].erase(pointer.back());
    } else {
      bad[pointer] = row.value;
    }
    EXPECT_NE(schema.Check(bad), "") << row.pointer;
  }
}

// The real corvel-dl: the document on stdout, the log lines on stderr.
TEST(JsonOutput, CorvelDlWritesTheRunsRecordToStdout) {
  const std::string hex = std::string(CORVEL_EXAMPLES) + "/app_demo.hex";
  const auto image = program::ReadHexImageFile(hex);
  ASSERT_TRUE(image);
  corvel::testing::Tool download({"--sim", "--json", "-", "download", "--app", hex});
  ASSERT_EQ(download.Wait(), 0) << download.err();
  const Json document = Json::parse(download.out(), nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << download.out();
  EXPECT_EQ(SchemaCheck().Check(document), "");
  ASSERT_EQ(document["runs"].size(), 1u);
  const Json& run = document["runs"][0];
  EXPECT_EQ(run["result"], "ok");
  EXPECT_EQ(run["exit_status"], 0);
  // The download's own steps end with its image, before the disconnect.
  ASSERT_GE(run["steps"].size(), 2u);
  const Json& appStep = run["steps"][run["steps"].size() - 2];
  EXPECT_EQ(appStep["name"], "app");
  EXPECT_EQ(appStep["status"], "ok");
  EXPECT_EQ(run["steps"].back()["name"], "disconnect");
  ASSERT_EQ(run["images"].size(), 1u);
  char crc[8];
  std::snprintf(crc, sizeof crc, "0x%04X", link::Crc16(image->data.data(), image->length()));
  EXPECT_EQ(run["images"][0], Json({{"kind", "app"}, {"length", image->length()}, {"crc", crc}, {"tag", "demo"}}));
  for (const char* line : {"芯片连接成功!\n", "文件传输结束:编程成功!\n", "芯片断开连接!\n"}) {
    EXPECT_NE(download.err().find(line), std::string::npos) << download.err();
  }

  corvel::testing::Tool info({"info", "--sim", "--json", "-"});
  ASSERT_EQ(info.Wait(), 0) << info.err();
  const Json identity = Json::parse(info.out(), nullptr, false);
  ASSERT_FALSE(identity.is_discarded()) << info.out();
  EXPECT_EQ(identity["runs"][0]["serial"], "0x12345678");
  EXPECT_EQ(identity["runs"][0]["chip_id"], "0x0C0B1E51");
  EXPECT_EQ(identity["runs"][0]["boot_version"], "V1.2");
}

// Each verify is a step of its own; a byte read back wrong is the run's result.
TEST(JsonOutput, VerifyStepsAndTheMismatchResult) {
  const std::string hex = std::string(CORVEL_EXAMPLES) + "/app_demo.hex";
  const std::string user = std::string(CORVEL_EXAMPLES) + "/user_data.cfg";
  // The demo application's first byte has its low bit set.
  corvel::testing::SimChip chip;
  chip.server.WithModel([](sim::ChipModel& m) { ASSERT_TRUE(sim::ParseFault("stuck-bit:0x16000", m.faults()).ok()); });
  const auto steps = [](const Json& run) {
    std::vector<std::pair<std::string, std::string>> named;
    for (const Json& step : run["steps"]) named.emplace_back(step["name"], step["status"]);
    return named;
  };
  using Steps = std::vector<std::pair<std::string, std::string>>;

  corvel::testing::Tool passed({"-p", chip.path, "--json", "-", "download", "--verify", "--user", user});
  EXPECT_EQ(passed.Wait(), 0) << passed.err();
  Json document = Json::parse(passed.out(), nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << passed.out();
  EXPECT_EQ(SchemaCheck().Check(document), "");
  EXPECT_EQ(steps(document["runs"][0]), (Steps{{"open", "ok"}, {"connect", "ok"}, {"serial", "ok"}, {"download", "ok"},
                                                {"user", "ok"}, {"verify-user", "ok"}, {"disconnect", "ok"}}));

  corvel::testing::Tool failed({"-p", chip.path, "--json", "-", "download", "--verify", "--app", hex, "--user", user});
  EXPECT_EQ(failed.Wait(), 1) << failed.err();
  document = Json::parse(failed.out(), nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << failed.out();
  EXPECT_EQ(SchemaCheck().Check(document), "");
  const Json& run = document["runs"][0];
  EXPECT_EQ(run["result"], "mismatch");
  EXPECT_EQ(run["exit_status"], 1);
  EXPECT_EQ(steps(run), (Steps{{"open", "ok"}, {"connect", "ok"}, {"serial", "ok"}, {"download", "mismatch"},
                               {"app", "ok"}, {"verify-app", "mismatch"}, {"disconnect", "ok"}}));
  EXPECT_EQ(run["images"].size(), 1u) << "a verify is no image";

  // The user data from the first run is still there.
  corvel::testing::Tool verified({"-p", chip.path, "--json", "-", "verify", "--user", user});
  EXPECT_EQ(verified.Wait(), 0) << verified.err();
  document = Json::parse(verified.out(), nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << verified.out();
  EXPECT_EQ(SchemaCheck().Check(document), "");
  EXPECT_EQ(steps(document["runs"][0]), (Steps{{"open", "ok"}, {"connect", "ok"}, {"serial", "ok"}, {"verify", "ok"},
                                                {"verify-user", "ok"}, {"disconnect", "ok"}}));
}

}  // namespace
}  // namespace corvel::cli
