#include "cli/json_output.h"

namespace corvel::cli {

// Placeholder until the writer lands: records are kept, nothing is written.
Result<std::unique_ptr<JsonOutput>> JsonOutput::Open(const std::string& path, Mode mode,
                                                     const std::vector<std::string>& command) {
  std::unique_ptr<JsonOutput> output(new JsonOutput);
  output->path_ = path;
  output->mode_ = mode;
  output->command_ = command;
  output->toStdout_ = path == "-";
  return output;
}

JsonOutput::~JsonOutput() = default;

void JsonOutput::Add(const RunRecord& record) {
  const std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(record);
}

Result<void> JsonOutput::Finish() { return {}; }

}  // namespace corvel::cli
