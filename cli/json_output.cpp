#include "cli/json_output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/output_stream.h"
#include "text/translation.h"

namespace corvel::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kTool = "corvel-dl";
constexpr const char* kStdoutName = "标准输出";
constexpr const char* kCannotOpen = "无法打开JSON输出 ";
constexpr const char* kCannotWrite = "无法写入JSON输出 ";

std::string Hex(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double Milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

Json RecordFields(const RunRecord& record) {
  Json json;
  json["port"] = record.port;
  json["exit_status"] = record.exitStatus;
  json["result"] = record.result;
  if (record.serial) json["serial"] = Hex("0x%08X", *record.serial);
  if (record.chipId) json["chip_id"] = Hex("0x%08X", *record.chipId);
  if (record.bootVersion) json["boot_version"] = *record.bootVersion;
  if (record.usb) {
    json["usb"] = {{"vendor_id", Hex("%04x", record.usb->vendorId)},
                   {"product_id", Hex("%04x", record.usb->productId)},
                   {"manufacturer", record.usb->manufacturer},
                   {"product", record.usb->product},
                   {"serial", record.usb->serialNumber}};
  }
  json["start"] = record.startTime;
  json["seconds"] = Milliseconds(record.seconds);
  json["steps"] = Json::array();
  for (const StepRecord& step : record.steps) {
    json["steps"].push_back({{"name", step.name}, {"status", step.status}, {"seconds", Milliseconds(step.seconds)}});
  }
  json["images"] = Json::array();
  for (const ImageRecord& image : record.images) {
    json["images"].push_back(
        {{"kind", image.kind}, {"length", image.length}, {"crc", Hex("0x%04X", image.crc)}, {"tag", image.tag}});
  }
  return json;
}

Json Header(const std::vector<std::string>& command) {
  return {{"tool", kTool}, {"version", CORVEL_VERSION}, {"command", command}};
}

// A tag read from a file may hold bytes that are not UTF-8: they become
// U+FFFD rather than an exception.
std::string Dump(const Json& json, int indent) {
  return json.dump(indent, ' ', false, nlohmann::detail::error_handler_t::replace);
}

std::string OutputName(const std::string& path) { return path == "-" ? Tr(kStdoutName) : path; }

Error WriteError(const std::string& name, int error) {
  return MakeError(ErrorKind::kIo, Tr(kCannotWrite) + name + ": " + std::strerror(error));
}

}  // namespace

Result<std::unique_ptr<JsonOutput>> JsonOutput::Open(const std::string& path, Mode mode,
                                                     const std::vector<std::string>& command) {
  std::unique_ptr<JsonOutput> output(new JsonOutput);
  output->path_ = path;
  output->mode_ = mode;
  output->command_ = command;
  output->toStdout_ = path == "-";
  if (output->toStdout_) {
    // A stream of its own on stdout: the runner may point fd 1 at stderr for
    // the log lines once this is open.
    output->file_ = DuplicateStdout();
  } else {
    // Lines are appended so that a series of --repeat runs builds one log.
    output->file_ = OpenOutputStream(path, mode == Mode::kLines);
  }
  if (output->file_ == nullptr) {
    const int error = errno;
    const ErrorKind kind = error == EACCES || error == EPERM ? ErrorKind::kPermission
                           : error == ENOENT                 ? ErrorKind::kNotFound
                                                             : ErrorKind::kIo;
    const std::string name = OutputName(path);
    return MakeError(kind, Tr(kCannotOpen) + name + ": " + std::strerror(error));
  }
  return output;
}

JsonOutput::~JsonOutput() {
  if (file_ != nullptr) std::fclose(file_);
}

void JsonOutput::Add(const RunRecord& record) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == Mode::kDocument) {
    records_.push_back(record);
    return;
  }
  if (file_ == nullptr || writeError_) return;
  try {
    Json line = Header(command_);
    line.update(RecordFields(record));
    const std::string text = Dump(line, -1) + "\n";
    const SigpipeHeld held;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
      writeError_ = WriteError(OutputName(path_), errno);
    }
  } catch (const std::exception& error) {
    writeError_ = MakeError(ErrorKind::kIo, Tr(kCannotWrite) + OutputName(path_) + ": " + error.what());
  }
}

Result<void> JsonOutput::Finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || file_ == nullptr) return writeError_ ? Result<void>(*writeError_) : Result<void>();
  finished_ = true;
  const std::string name = OutputName(path_);
  const SigpipeHeld held;
  if (mode_ == Mode::kDocument && !writeError_) {
    try {
      std::stable_sort(records_.begin(), records_.end(),
                       [](const RunRecord& a, const RunRecord& b) { return a.order < b.order; });
      Json document = Header(command_);
      document["runs"] = Json::array();
      for (const RunRecord& record : records_) document["runs"].push_back(RecordFields(record));
      const std::string text = Dump(document, 2) + "\n";
      if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) writeError_ = WriteError(name, errno);
    } catch (const std::exception& error) {
      writeError_ = MakeError(ErrorKind::kIo, Tr(kCannotWrite) + name + ": " + error.what());
    }
  }
  // A full disk often shows only when the buffer goes out.
  if (std::fflush(file_) != 0 && !writeError_) writeError_ = WriteError(name, errno);
  if (std::fclose(file_) != 0 && !writeError_) writeError_ = WriteError(name, errno);
  file_ = nullptr;
  return writeError_ ? Result<void>(*writeError_) : Result<void>();
}

}  // namespace corvel::cli
