// Helpers of the simulator tests: frames in and out, and a minimal host on a
// pseudo-terminal that talks to the simulated chip with plain fds.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "link/link.h"
#include "sim/pty_rate.h"
#include "tests/support/fake_host.h"

namespace corvel::sim::testing {

using corvel::testing::Bytes;
using corvel::testing::MakeFrame;

struct Answer {
  uint8_t code = 0;
  uint8_t status = 0;
  Bytes data;
};

// Takes the first complete frame with a good CRC out of `buffer` (dropping
// what comes before it); nullopt while there is none.
inline std::optional<Answer> TakeFrame(Bytes& buffer) {
  for (size_t start = 0; start < buffer.size(); ++start) {
    if (buffer[start] != link::kFrameStart || buffer.size() - start < link::kFrameOverhead) continue;
    const size_t n = static_cast<size_t>(buffer[start + 2] << 8 | buffer[start + 3]);
    if (buffer.size() - start < n + link::kFrameOverhead) continue;
    const uint8_t* f = buffer.data() + start;
    const uint16_t crc = link::Crc16(f + 1, static_cast<uint32_t>(n + 3));
    if (f[n + 6] != link::kFrameEnd || crc != (f[n + 4] << 8 | f[n + 5]) || n == 0) continue;
    Answer answer{f[1], f[4], Bytes(f + 5, f + 4 + n)};
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(start + n + link::kFrameOverhead));
    return answer;
  }
  return std::nullopt;
}

inline Bytes U32Le(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
inline Bytes U16Le(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Burst() {
  Bytes burst(148, 0xAA);
  std::fill_n(burst.begin(), 128, uint8_t{0xFF});
  return burst;
}

// The frames of one image transfer: erase, request, blocks of 256.
inline std::vector<Bytes> TransferFrames(uint8_t type, const Bytes& image, const std::string& tag,
                                         std::optional<uint16_t> crc = std::nullopt) {
  std::vector<Bytes> frames;
  frames.push_back(MakeFrame(0x20, {type}));
  const uint16_t c = crc.value_or(link::Crc16(image.data(), static_cast<uint32_t>(image.size())));
  frames.push_back(MakeFrame(0x23, Cat({{type}, U32Le(static_cast<uint32_t>(image.size())), U16Le(c),
                                        Bytes(tag.begin(), tag.end())})));
  for (size_t off = 0, block = 1; off < image.size(); off += 256, ++block) {
    Bytes payload{static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
    payload.insert(payload.end(), image.begin() + static_cast<ptrdiff_t>(off),
                   image.begin() + static_cast<ptrdiff_t>(std::min(image.size(), off + 256)));
    frames.push_back(MakeFrame(0x24, payload));
  }
  return frames;
}

inline Bytes TestImage(size_t size, uint32_t seed) {
  Bytes image(size);
  for (auto& b : image) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return image;
}

// A minimal host on the tool's end of the pty.
class PtyHost {
 public:
  explicit PtyHost(const std::string& path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
  ~PtyHost() {
    if (fd >= 0) close(fd);
  }
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;

  bool ok() const { return fd >= 0; }
  bool SetRate(uint32_t rate) { return SetLineRate(fd, rate).ok(); }
  void Flush() {
    tcflush(fd, TCIFLUSH);
    received.clear();
  }

  bool Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, 1000);
      } else {
        return false;
      }
    }
    return true;
  }

  // Reads into `received` until `done` holds or `timeoutMs` passes. False on
  // time-out; `hungUp` is set when the other end went away.
  template <class Done>
  bool ReadUntil(Done done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        received.insert(received.end(), buffer, buffer + n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || (p.revents & POLLHUP) != 0) {
        hungUp = true;
        return false;
      }
    }
    return true;
  }

  std::optional<Answer> Command(uint8_t code, const Bytes& payload, int timeoutMs = 2000) {
    if (!Write(MakeFrame(code, payload))) return std::nullopt;
    std::optional<Answer> answer;
    ReadUntil([&] { return (answer = TakeFrame(received)).has_value(); }, timeoutMs);
    return answer;
  }

  // Bursts until the sync answer, as the connection procedure does.
  bool Sync(int attempts = 40) {
    const Bytes sync(8, link::kSyncByte);
    for (int i = 0; i < attempts; ++i) {
      Write(Burst());
      if (ReadUntil([&] { return std::search(received.begin(), received.end(), sync.begin(), sync.end()) != received.end(); },
                    50)) {
        received.clear();
        return true;
      }
    }
    return false;
  }

  bool Connect() {
    if (!Sync()) return false;
    std::optional<Answer> a = Command(0x11, {0xFF, 0xFF, 0xFF, 0xFF});
    return a && a->status == 0x20;
  }

  int fd = -1;
  Bytes received;
  bool hungUp = false;
};

}  // namespace corvel::sim::testing
