#include "cli/console_output.h"

#include "cli/status_lines.h"
#include "cli/terminal.h"

namespace corvel::cli {

std::string PrefixLines(std::string_view prefix, std::string_view text) {
  std::string out;
  out.reserve(text.size() + prefix.size() + 1);
  size_t start = 0;
  do {
    const size_t end = text.find('\n', start);
    out += prefix;
    out += text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    out += '\n';
    start = end == std::string_view::npos ? text.size() : end + 1;
  } while (start < text.size());
  return out;
}

ConsoleOutput& ConsoleOutput::Get() {
  static ConsoleOutput output;
  return output;
}

void ConsoleOutput::SetLogStream(std::FILE* stream) {
  const std::lock_guard<std::mutex> lock(mutex_);
  logStream_ = stream;
}

void ConsoleOutput::SetStatusLines(StatusLines* status) {
  const std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
}

void ConsoleOutput::LogLine(std::string_view prefix, std::string_view line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Write(logStream_, prefix, line, true);
}

void ConsoleOutput::LogText(std::string_view text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Write(logStream_, {}, text, false);
}

void ConsoleOutput::Error(std::string_view prefix, std::string_view text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Write(stderr, prefix, text, false);
}

void ConsoleOutput::Write(std::FILE* stream, std::string_view prefix, std::string_view text, bool addBreak) {
  // The status block is on stderr's terminal; stdout piped elsewhere leaves it alone.
  if (status_ != nullptr && (stream == stderr || IsTerminal(stream))) status_->EraseLocked();
  if (prefix.empty()) {
    std::fwrite(text.data(), 1, text.size(), stream);
    if (addBreak) std::fputc('\n', stream);
  } else {
    buffer_ = PrefixLines(prefix, text);
    std::fwrite(buffer_.data(), 1, buffer_.size(), stream);
  }
  std::fflush(stream);
}

}  // namespace corvel::cli
