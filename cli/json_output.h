// --json FILE: the runs' records for machines. One JSON document at the end,
// or with --repeat one JSON object per line, appended and flushed as each
// chip finishes, so a crash loses nothing already done. "-" is stdout.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/run_record.h"

namespace corvel::cli {

class JsonOutput {
 public:
  enum class Mode { kDocument, kLines };

  // `command` is the command line as given (argv), recorded at the top with
  // the tool's version. Fails when FILE cannot be opened for writing.
  static Result<std::unique_ptr<JsonOutput>> Open(const std::string& path, Mode mode,
                                                  const std::vector<std::string>& command);
  ~JsonOutput();

  bool toStdout() const { return toStdout_; }

  // Thread-safe: each port's thread adds its record when its run has ended.
  void Add(const RunRecord& record);
  // After the last run: the document is written (kDocument) or the file closed.
  // The first write that failed (here or in a line's Add) is the error.
  Result<void> Finish();

 private:
  JsonOutput() = default;

  std::mutex mutex_;
  bool toStdout_ = false;
  Mode mode_ = Mode::kDocument;
  std::string path_;
  std::vector<std::string> command_;
  std::vector<RunRecord> records_;
  std::FILE* file_ = nullptr;
  std::optional<Error> writeError_;
  bool finished_ = false;
};

}  // namespace corvel::cli
