// The log core: the lines every operation reports, the chip's console text, and
// the frame echo switch. Front ends plug in a sink (the window's log pane, the
// command line's stdout, a test's vector of lines).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "text/console_text.h"

namespace corvel::log {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One log line, without its line break; UTF-8.
  virtual void AppendLine(std::string_view line) = 0;
  // Console text as the chip sent it, decoded to UTF-8 (no line break added).
  virtual void AppendText(std::string_view text) = 0;
  // Empties the pane.
  virtual void Clear() = 0;
  // A hint about what went wrong and what to do, beside the lines: the
  // window shows it in the pane, the command line on stderr so that stdout
  // keeps exactly the lines.
  virtual void AppendHint(std::string_view hint) { AppendLine(hint); }
};

class Log {
 public:
  static constexpr size_t kReceivedTextLimit = size_t{1} << 20;

  explicit Log(LogSink& sink, size_t receivedTextLimit = kReceivedTextLimit)
      : sink_(sink), receivedTextLimit_(receivedTextLimit) {}

  void AppendLog(std::string_view line) { sink_.AppendLine(line); }
  void ClearLog() { sink_.Clear(); }
  void AppendHint(std::string_view hint) { sink_.AppendHint(hint); }

  // Console bytes from the chip; zero bytes add nothing. Safe from any thread.
  // The buffer is bounded: when a paused flush lets it grow past the limit,
  // the oldest text goes first.
  void AppendReceivedText(const uint8_t* bytes, size_t count);

  // Moves the buffered console text into the sink. Does nothing while paused.
  void FlushReceivedText();

  // A pause waits for a flush in progress to finish, so it takes effect
  // between two flushes and never while the buffer lock is held.
  void PauseFlush();
  void ResumeFlush();
  bool FlushPaused() const { return paused_.load(); }

  // The frame echo switch ("pkt"): read at the moment a frame is sent or received.
  void SetFrameEcho(bool on) { frameEcho_.store(on); }
  bool FrameEcho() const { return frameEcho_.load(); }
  // While the switch is on, logs `prefix` and each byte as "%02X ". Owner
  // thread only: the line is built in a buffer kept between frames.
  void EchoFrame(std::string_view prefix, const uint8_t* bytes, size_t count);

  // Bytes waiting for the next flush (for tests and for the bound).
  size_t PendingTextSize();

 private:
  LogSink& sink_;
  const size_t receivedTextLimit_;
  std::mutex textMutex_;   // guards receivedText_
  std::string receivedText_;
  std::string taken_;      // reused by each flush, so a flush does not allocate
  std::string decoded_;    // likewise
  text::ConsoleTextDecoder decoder_;  // used under flushMutex_
  std::mutex flushMutex_;  // held for a whole flush; a pause waits on it
  std::atomic<bool> paused_{false};
  std::atomic<bool> frameEcho_{false};
  std::string echoLine_;
};

}  // namespace corvel::log
