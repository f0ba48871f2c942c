#include "cli/status_lines.h"

#include <algorithm>

namespace corvel::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

StatusLines::StatusLines(std::FILE* stream, std::mutex& lock, std::vector<std::string> names)
    : stream_(stream), lock_(lock), names_(std::move(names)), stages_(names_.size()) {
  for (const std::string& name : names_) nameWidth_ = std::max(nameWidth_, name.size());
  thread_ = std::thread([this] { Run(); });
}

StatusLines::~StatusLines() { Stop(); }

void StatusLines::SetStage(size_t port, std::string stage) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (stages_[port] == stage) return;
  stages_[port] = std::move(stage);
  dirty_ = true;
  changed_.notify_one();
}

void StatusLines::SetProgress(size_t port, const std::string& command, uint32_t sent, uint32_t total) {
  if (total == 0) return;
  const auto percent = static_cast<unsigned>(100.0 * std::min(sent, total) / total);
  SetStage(port, command + " " + std::to_string(percent) + "%");
}

void StatusLines::Stop() {
  {
    const std::lock_guard<std::mutex> lock(lock_);
    if (stopping_) return;
    stopping_ = true;
    changed_.notify_one();
  }
  thread_.join();
  const std::lock_guard<std::mutex> lock(lock_);
  EraseLocked();
}

void StatusLines::Run() {
  std::unique_lock<std::mutex> lock(lock_);
  while (!stopping_) {
    changed_.wait(lock, [this] { return dirty_ || stopping_; });
    if (stopping_) break;
    // At most ten redraws a second: changes meanwhile wait for the next.
    const auto due = lastDraw_ + kRedrawInterval;
    if (changed_.wait_until(lock, due, [this] { return stopping_; })) break;
    DrawLocked();
  }
}

void StatusLines::EraseLocked() {
  if (drawnLines_ == 0) return;
  // Up to the block's first line, then clear to the end of the screen.
  std::fprintf(stream_, "\r\x1b[%zuA\x1b[J", drawnLines_);
  std::fflush(stream_);
  drawnLines_ = 0;
  dirty_ = true;
  changed_.notify_one();
}

void StatusLines::DrawLocked() {
  if (drawnLines_ > 0) std::fprintf(stream_, "\r\x1b[%zuA\x1b[J", drawnLines_);
  for (size_t i = 0; i < names_.size(); ++i) {
    std::fprintf(stream_, "%-*s  %s\n", static_cast<int>(nameWidth_), names_[i].c_str(), stages_[i].c_str());
  }
  std::fflush(stream_);
  drawnLines_ = names_.size();
  dirty_ = false;
  lastDraw_ = std::chrono::steady_clock::now();
}

}  // namespace corvel::cli
