#include "log/log.h"

#include <algorithm>

#include "text/hex_pairs.h"

namespace corvel::log {

void Log::EchoFrame(std::string_view prefix, const uint8_t* bytes, size_t count) {
  if (!FrameEcho()) return;
  echoLine_.assign(prefix);
  text::AppendHexBytes(echoLine_, bytes, count);
  sink_.AppendLine(echoLine_);
}

void Log::AppendReceivedText(const uint8_t* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(textMutex_);
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) receivedText_.push_back(static_cast<char>(bytes[i]));
  }
  if (receivedText_.size() > receivedTextLimit_) {
    receivedText_.erase(0, receivedText_.size() - receivedTextLimit_);
  }
}

void Log::FlushReceivedText() {
  std::lock_guard<std::mutex> flushLock(flushMutex_);
  if (paused_.load()) return;
  {
    std::lock_guard<std::mutex> lock(textMutex_);
    taken_.swap(receivedText_);
    receivedText_.clear();
  }
  decoded_.clear();
  if (!taken_.empty()) decoder_.Decode(taken_, decoded_);
  if (!decoded_.empty()) sink_.AppendText(decoded_);
  taken_.clear();
}

void Log::PauseFlush() {
  std::lock_guard<std::mutex> flushLock(flushMutex_);
  paused_.store(true);
}

void Log::ResumeFlush() { paused_.store(false); }

size_t Log::PendingTextSize() {
  std::lock_guard<std::mutex> lock(textMutex_);
  return receivedText_.size();
}

}  // namespace corvel::log
