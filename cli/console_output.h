// stdout and stderr shared by the ports' threads: every line is written
// whole under one lock, so lines of different ports never cut into each
// other. With several ports each line carries its port's prefix.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace corvel::cli {

class StatusLines;

// `text` with `prefix` in front of each of its lines, ending in a line break.
std::string PrefixLines(std::string_view prefix, std::string_view text);

class ConsoleOutput {
 public:
  static ConsoleOutput& Get();

  // Where the log lines go: stdout, or stderr when --json writes to stdout.
  void SetLogStream(std::FILE* stream);
  // The live status lines, erased before any line is written (none: nullptr).
  void SetStatusLines(StatusLines* status);

  // One log line (without its line break).
  void LogLine(std::string_view prefix, std::string_view line);
  // Console text, as it came (monitor).
  void LogText(std::string_view text);
  // Lines for stderr; without a prefix the text goes out as it is.
  void Error(std::string_view prefix, std::string_view text);

  std::mutex& mutex() { return mutex_; }

 private:
  void Write(std::FILE* stream, std::string_view prefix, std::string_view text, bool addBreak);

  std::mutex mutex_;
  std::FILE* logStream_ = stdout;
  StatusLines* status_ = nullptr;
  std::string buffer_;
};

}  // namespace corvel::cli
