// The POSIX backend of SerialPort: termios, one monitor thread blocked in
// poll() over the device and two eventfds (shutdown; writes queued or a chunk
// taken by the owner).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/linux_termios2.h"
#include "serial/serial_port.h"
#include "serial/write_queue.h"

namespace corvel::serial {
namespace {

// Writes may wait this many times the write capacity before QueueWrite refuses.
constexpr size_t kBacklogWrites = 64;
// How long a stop lets the queued writes drain before it cuts them off.
constexpr auto kStopDrainTime = std::chrono::milliseconds(500);

std::string ErrnoText(int error) { return std::strerror(error); }

// Why a device could not be opened, in the kinds the front ends tell apart.
Error OpenError(int error) {
  ErrorKind kind = ErrorKind::kIo;
  switch (error) {
    case ENOENT: case ENODEV: case ENXIO: kind = ErrorKind::kNotFound; break;
    case EACCES: case EPERM: kind = ErrorKind::kPermission; break;
    case EBUSY: kind = ErrorKind::kBusy; break;
    case EISDIR: case ENOTTY: kind = ErrorKind::kNotSerialDevice; break;
    default: break;
  }
  return MakeError(kind, ErrnoText(error));
}

void Signal(int eventFd) {
  const uint64_t one = 1;
  // Only fails when the counter would overflow, which leaves it signalled.
  [[maybe_unused]] ssize_t ignored = write(eventFd, &one, sizeof one);
}

void Reset(int eventFd) {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t ignored = read(eventFd, &count, sizeof count);
}

// A device without modem lines (a pseudo-terminal) answers ENOTTY or EINVAL:
// there is nothing to switch, which is not an error.
void ModemLine(int fd, unsigned long request, int bits) { ioctl(fd, request, &bits); }

size_t OutputQueued(int fd) {
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<size_t>(queued);
}

}  // namespace

struct SerialPort::State {
  ~State() {
    if (stopFd >= 0) close(stopFd);
    if (wakeFd >= 0) close(wakeFd);
  }

  void Monitor();
  bool WriteQueued(bool& blocked, int& error);
  void FinishWrites();
  void ClosePort();
  void ReportLost(const std::string& reason);
  void ReportConfigError(const char* step, int error);

  PortEvents* owner = nullptr;
  std::string path;
  int stopFd = -1;
  int wakeFd = -1;
  std::thread monitor;

  // The device. Set by OpenPort while no monitor runs and cleared by the
  // monitor as it closes; the owner's ioctls take fdMutex so they never act
  // on a descriptor being closed.
  int fd = -1;
  mutable std::mutex fdMutex;

  // Everything below is shared by the owner and the monitor.
  mutable std::mutex mutex;
  WriteQueue queue;
  size_t capacity = 0;
  std::vector<uint8_t> burst;  // allocated once per opening
  size_t burstLength = 0;
  bool burstWaiting = false;
  std::array<uint8_t, kReadChunk> chunk{};
  size_t chunkLength = 0;  // 0: free for the monitor; else the owner's until taken
  size_t chunkTaken = 0;
  uint32_t rate = 0;
  bool stopping = false;
  bool lost = false;
};

SerialPort::SerialPort() : state_(std::make_unique<State>()) {}

SerialPort::~SerialPort() {
  RequestStop();
  WaitStopped();
}

void SerialPort::State::ReportConfigError(const char* step, int error) {
  owner->OnPortError(FormatPortError(step, ErrnoText(error), path));
}

void SerialPort::State::ReportLost(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (lost) return;
    lost = true;
  }
  owner->OnPortLost(reason);
}

Result<void> SerialPort::OpenPort(PortEvents& owner, const std::string& path, uint32_t baud, char parity,
                                  int dataBits, int stopBits, size_t writeCapacity) {
  RequestStop();
  WaitStopped();
  State& s = *state_;
  if (s.stopFd < 0) s.stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.wakeFd < 0) s.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.stopFd < 0 || s.wakeFd < 0) return MakeError(ErrorKind::kIo, ErrnoText(errno));
  Reset(s.stopFd);
  Reset(s.wakeFd);

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenError(errno);
  // TIOCEXCL keeps other programs out (root passes it); flock also keeps out
  // other instances of this tool, root or not. TIOCEXCL is also the first
  // terminal call, so a file or a device that is not a terminal ends here
  // with ENOTTY.
  if (ioctl(fd, TIOCEXCL) != 0) {
    const int error = errno;
    close(fd);
    return OpenError(error);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    // Another holder of the lock: in use, as far as the user is concerned.
    return error == EWOULDBLOCK ? MakeError(ErrorKind::kBusy, ErrnoText(error)) : OpenError(error);
  }

  s.owner = &owner;
  s.path = path;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.capacity = writeCapacity;
    s.queue.Reset(writeCapacity * kBacklogWrites);
    s.burst.assign(writeCapacity, 0);
    s.burstLength = 0;
    s.burstWaiting = false;
    s.chunkLength = 0;
    s.chunkTaken = 0;
    s.rate = baud;
    s.stopping = false;
    s.lost = false;
  }
  {
    std::lock_guard<std::mutex> lock(s.fdMutex);
    s.fd = fd;
  }

  // Linux raises RTS as the port opens; RTS resets the chip, so lower it first.
  ModemLine(fd, TIOCMBIC, TIOCM_RTS);

  // Rate 0 (a cancelled custom rate) and a rate the device reads back
  // differently are reported like a failed step and not applied.
  const LineResult line = ConfigureLine(fd, baud, parity, dataBits, stopBits);
  if (line.step != nullptr) s.ReportConfigError(line.step, line.error);

  // Best effort: lets USB adapters hand over bytes without their latency timer.
  struct serial_struct serial {};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &serial);
  }

  tcflush(fd, TCIOFLUSH);
  return {};
}

Result<void> SerialPort::SetBaudRate(uint32_t rate) {
  State& s = *state_;
  std::lock_guard<std::mutex> fdLock(s.fdMutex);
  if (s.fd < 0) return MakeError(ErrorKind::kIo, "the port is not open");
  const LineResult result = SetLineRate(s.fd, rate);
  if (result.step == nullptr) {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rate = rate;
    return {};
  }
  const std::string text = FormatPortError(result.step, ErrnoText(result.error), s.path);
  if (s.owner != nullptr) s.owner->OnPortError(text);
  return MakeError(ErrorKind::kIo, text);
}

bool SerialPort::StartMonitor() {
  State& s = *state_;
  if (s.monitor.joinable() || !IsOpen()) return false;
  try {
    s.monitor = std::thread([&s] { s.Monitor(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void SerialPort::RequestStop() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = true;
  }
  if (s.monitor.joinable()) {
    Signal(s.stopFd);
  } else {
    s.ClosePort();  // opened but never monitored: nothing else will close it
  }
}

void SerialPort::WaitStopped() {
  // The monitor bounds its own stop (kStopDrainTime, no blocking calls), so
  // joining cannot hang.
  if (state_->monitor.joinable()) state_->monitor.join();
}

bool SerialPort::QueueWrite(const uint8_t* data, size_t length) {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stopping || s.lost || length > s.capacity) return false;
    if (!s.queue.Push(data, length)) return false;
    // A frame ends the wake-up: a burst that has not gone out is stale.
    s.burstWaiting = false;
  }
  if (!IsOpen()) return false;
  Signal(s.wakeFd);
  return true;
}

bool SerialPort::QueueBurst(const uint8_t* data, size_t length) {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stopping || s.lost || length > s.capacity) return false;
    std::copy(data, data + length, s.burst.begin());
    s.burstLength = length;
    s.burstWaiting = length > 0;
  }
  if (!IsOpen()) return false;
  Signal(s.wakeFd);
  return true;
}

void SerialPort::SetRts() {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  if (state_->fd >= 0) ModemLine(state_->fd, TIOCMBIS, TIOCM_RTS);
}

void SerialPort::ClearRts() {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  if (state_->fd >= 0) ModemLine(state_->fd, TIOCMBIC, TIOCM_RTS);
}

size_t SerialPort::Consume(const std::function<size_t(const uint8_t*, size_t)>& consume) {
  State& s = *state_;
  const uint8_t* data = nullptr;
  size_t available = 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.chunkLength == 0) return 0;
    data = s.chunk.data() + s.chunkTaken;
    available = s.chunkLength - s.chunkTaken;
  }
  // The monitor leaves the chunk alone until it is all taken, so the owner
  // reads it without the lock.
  const size_t taken = std::min(consume(data, available), available);
  bool allTaken = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.chunkTaken += taken;
    if (s.chunkTaken == s.chunkLength) {
      s.chunkLength = 0;
      s.chunkTaken = 0;
      allTaken = true;
    }
  }
  if (allTaken && s.wakeFd >= 0) Signal(s.wakeFd);
  return taken;
}

bool SerialPort::HasData() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->chunkLength != 0;
}

bool SerialPort::IsOpen() const {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  return state_->fd >= 0;
}

bool SerialPort::Lost() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lost;
}

void SerialPort::State::ClosePort() {
  std::lock_guard<std::mutex> lock(fdMutex);
  if (fd < 0) return;
  // Output still queued would make close() wait for it (up to 30 s on some
  // drivers); by now it has had its chance.
  if (OutputQueued(fd) > 0) tcflush(fd, TCOFLUSH);
  close(fd);
  fd = -1;
}

// Writes queued bytes until the device would block. The input is purged
// before each write starts: the protocol is half-duplex, and bytes the chip
// sent before the command are stale. Returns false on a failed write.
bool SerialPort::State::WriteQueued(bool& blocked, int& error) {
  blocked = false;
  std::lock_guard<std::mutex> lock(mutex);
  for (;;) {
    if (queue.Empty()) {
      if (!burstWaiting || stopping) return true;
      // The burst goes only into an empty output queue so bursts never pile
      // up in front of the handshake.
      if (OutputQueued(fd) > 0) {
        blocked = true;
        return true;
      }
      queue.Push(burst.data(), burstLength);
      burstWaiting = false;
    }
    if (queue.FrontUnstarted()) tcflush(fd, TCIFLUSH);
    const ssize_t written = write(fd, queue.FrontData(), queue.FrontRemaining());
    if (written > 0) {
      queue.Advance(static_cast<size_t>(written));
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      blocked = true;
      return true;
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else {
      error = written < 0 ? errno : EIO;
      return false;
    }
  }
}

void SerialPort::State::FinishWrites() {
  const auto deadline = std::chrono::steady_clock::now() + kStopDrainTime;
  auto remainingMillis = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  };
  for (;;) {
    bool blocked = false;
    int error = 0;
    if (!WriteQueued(blocked, error)) return;
    if (!blocked) break;
    const int wait = remainingMillis();
    if (wait == 0) return;
    pollfd out{fd, POLLOUT, 0};
    if (poll(&out, 1, wait) < 0 && errno != EINTR) return;
    if (out.revents & (POLLHUP | POLLERR | POLLNVAL)) return;
  }
  // Let the device send what it holds; there is no event for an empty
  // output queue, so look again after about the time the rest needs.
  uint32_t lineRate = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    lineRate = std::max<uint32_t>(rate, 1);
  }
  for (size_t queued = OutputQueued(fd); queued > 0; queued = OutputQueued(fd)) {
    const int wait = remainingMillis();
    if (wait == 0) return;
    const int needed = static_cast<int>(std::min<uint64_t>(queued * 10000ull / lineRate + 1, 50));
    poll(nullptr, 0, std::min(wait, needed));
  }
}

void SerialPort::State::Monitor() {
  for (;;) {
    bool readFree = false;
    bool burstHeld = false;
    bool writesWaiting = false;
    uint32_t lineRate = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      readFree = chunkLength == 0;
      writesWaiting = !queue.Empty();
      burstHeld = queue.Empty() && burstWaiting;
      lineRate = std::max<uint32_t>(rate, 1);
    }
    // A held burst waits for the output queue to empty; there is no event
    // for that, so look again after about the time the queued bytes need.
    int timeout = -1;
    if (burstHeld) {
      const size_t queued = OutputQueued(fd);
      timeout = static_cast<int>(std::min<uint64_t>(queued * 10000ull / lineRate + 1, 50));
      if (queued == 0) timeout = 0;
    }
    pollfd fds[3] = {
        {stopFd, POLLIN, 0},
        {fd, static_cast<short>((readFree ? POLLIN : 0) | (writesWaiting ? POLLOUT : 0)), 0},
        {wakeFd, POLLIN, 0},
    };
    if (poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      ReportLost("poll(): " + ErrnoText(errno));
      break;
    }
    if (fds[0].revents & POLLIN) {
      FinishWrites();
      break;
    }
    if (fds[2].revents & POLLIN) Reset(wakeFd);

    const short port = fds[1].revents;
    if (readFree && (port & POLLIN)) {
      const ssize_t got = read(fd, chunk.data(), chunk.size());
      if (got > 0) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          chunkLength = static_cast<size_t>(got);
          chunkTaken = 0;
        }
        owner->OnDataReady();
      } else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        ReportLost("read(): " + ErrnoText(errno));
        break;
      }
    }
    if (port & (POLLHUP | POLLERR | POLLNVAL)) {
      ReportLost((port & POLLHUP) ? "设备已挂断" : "设备报告错误");
      break;
    }
    bool blocked = false;
    int error = 0;
    if (!WriteQueued(blocked, error)) {
      ReportLost("write(): " + ErrnoText(error));
      break;
    }
  }
  ClosePort();
}

}  // namespace corvel::serial
