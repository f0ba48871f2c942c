// A pseudo-terminal pair for tests: the port under test opens the slave
// path; the test plays the far end on the master. The test also keeps a
// descriptor of the slave to read its settings.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace corvel::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    path_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Raw from the start, so nothing the far end sends before the port
    // opens is echoed back to it.
    termios tio{};
    if (slave_ >= 0 && tcgetattr(slave_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave_, TCSANOW, &tio);
    }
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  int slave() const { return slave_; }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // Writes everything on the master side; false on a time-out or an error.
  bool Write(const uint8_t* data, size_t length, int timeoutMs = 5000) {
    const auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
      const ssize_t n = write(master_, data, length);
      if (n > 0) {
        data += n;
        length -= static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (!WaitFor(master_, POLLOUT, deadline)) return false;
    }
    return true;
  }
  bool Write(const std::string& text) { return Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

  // Reads exactly `count` bytes from the master; fewer on a time-out.
  std::vector<uint8_t> Read(size_t count, int timeoutMs = 5000) {
    std::vector<uint8_t> out;
    const auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buffer[4096];
    while (out.size() < count) {
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n > 0) {
        out.insert(out.end(), buffer, buffer + n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;
      if (!WaitFor(master_, POLLIN, deadline)) break;
    }
    return out;
  }

  // True when bytes the port wrote are waiting on the master now.
  bool MasterHasInput() {
    pollfd p{master_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
  }

  // Waits until bytes sent by the master have reached the slave's input queue.
  bool WaitSlaveInput(int timeoutMs = 5000) {
    return WaitFor(slave_, POLLIN, Now() + std::chrono::milliseconds(timeoutMs));
  }

 private:
  static std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

  static bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now()).count();
      if (left <= 0) return false;
      pollfd p{fd, events, 0};
      const int r = poll(&p, 1, static_cast<int>(left));
      if (r > 0) return (p.revents & events) != 0;
      if (r < 0 && errno != EINTR) return false;
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace corvel::testing
