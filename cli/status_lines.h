// With several ports and stderr a terminal: one live line per port (its
// name and stage), redrawn at most ten times a second in place of the
// progress bar. Lines written meanwhile erase the block first; it comes back
// at the next redraw.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvel::cli {

// The stages a port's line shows.
inline constexpr const char* kStageOpening = "正在打开串口";
inline constexpr const char* kStageConnecting = "正在连接";
inline constexpr const char* kStageDone = "完成";
inline constexpr const char* kStageFailed = "失败";

class StatusLines {
 public:
  // Draws on `stream` under `lock` (the lock every whole line is written under).
  StatusLines(std::FILE* stream, std::mutex& lock, std::vector<std::string> names);
  ~StatusLines();
  StatusLines(const StatusLines&) = delete;
  StatusLines& operator=(const StatusLines&) = delete;

  void SetStage(size_t port, std::string stage);
  // The command's stage with the transfer's percentage.
  void SetProgress(size_t port, const std::string& command, uint32_t sent, uint32_t total);
  // Takes the block off the screen for good (before the summary).
  void Stop();

  // With the lock held: takes the block off the screen until the next redraw.
  void EraseLocked();

 private:
  void Run();
  void DrawLocked();

  std::FILE* stream_;
  std::mutex& lock_;
  std::condition_variable changed_;
  std::vector<std::string> names_;
  std::vector<std::string> stages_;
  size_t nameWidth_ = 0;
  size_t drawnLines_ = 0;
  bool dirty_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::thread thread_;
};

}  // namespace corvel::cli
