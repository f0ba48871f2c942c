#include "cli/progress_bar.h"

#include <cstdio>

#include "cli/terminal.h"

namespace corvel::cli {

ProgressBar::ProgressBar() : enabled_(IsTerminal(stderr)) {}

void ProgressBar::Update(int position, uint32_t bytesSent, uint32_t total) {
  if (!enabled_ || total == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (position == 0) {  // a new image
    if (drawing_) std::fputc('\n', stderr);
    drawing_ = false;
    finished_ = false;
    start_ = now;
    lastDraw_ = {};
  }
  // The last block's repeats after the bar was ended.
  if (finished_) return;
  const bool done = bytesSent >= total;
  if (!done && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;

  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? bytesSent / seconds : 0;
  const double left = rate > 0 ? (total - bytesSent) / rate : 0;
  const int percent = static_cast<int>(100.0 * bytesSent / total);
  constexpr int kWidth = 30;
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < percent * kWidth / 100 ? '#' : '.';
  bar[kWidth] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%% %u/%u B %.1f KB/s %3.0fs left ", bar, percent, bytesSent, total, rate / 1000,
               left);
  drawing_ = !done;
  if (done) {
    std::fputc('\n', stderr);
    finished_ = true;
  }
  std::fflush(stderr);
}

}  // namespace corvel::cli
