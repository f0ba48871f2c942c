// The POSIX backend of SerialPort: open with TIOCEXCL and flock, termios2,
// and a monitor wait in poll() over the device and two eventfds (stop; writes
// queued or a chunk taken by the owner).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "serial/latency_timer.h"
#include "serial/linux_termios2.h"
#include "serial/port_backend.h"
#include "text/translation.h"

namespace corvel::serial {
namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// Why a device could not be opened, in the kinds the front ends tell apart.
Error OpenError(int error, const std::string& path) {
  ErrorKind kind = ErrorKind::kIo;
  switch (error) {
    // ENOTDIR: a part of the path is a file, so nothing is there.
    case ENOENT: case ENOTDIR: case ENODEV: kind = ErrorKind::kNotFound; break;
    // A device node with no device behind it (unplugged), or a socket.
    case ENXIO: {
      struct stat node {};
      const bool socket = stat(path.c_str(), &node) == 0 && S_ISSOCK(node.st_mode);
      kind = socket ? ErrorKind::kNotSerialDevice : ErrorKind::kNotFound;
      break;
    }
    case EACCES: case EPERM: kind = ErrorKind::kPermission; break;
    case EBUSY: kind = ErrorKind::kBusy; break;
    // Only directories and regular files are refused as read-only or running.
    case EISDIR: case ENOTTY: case EROFS: case ETXTBSY: kind = ErrorKind::kNotSerialDevice; break;
    default: break;
  }
  return MakeError(kind, ErrnoText(error));
}

std::optional<StepError> StepFailed(const LineResult& result) {
  if (result.step == nullptr) return std::nullopt;
  return StepError{result.step, result.text.empty() ? ErrnoText(result.error) : result.text};
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

class PosixBackend final : public PortBackend {
 public:
  ~PosixBackend() override {
    if (fd_ >= 0) Close();
    if (stopFd_ >= 0) close(stopFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
  }

  Result<void> Open(const std::string& path) override {
    if (stopFd_ < 0) stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd_ < 0 || wakeFd_ < 0) return MakeError(ErrorKind::kIo, ErrnoText(errno));
    Reset(stopFd_);
    Reset(wakeFd_);

    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return OpenError(errno, path);
    // TIOCEXCL keeps other programs out (root passes it); flock also keeps out
    // other instances of this tool, root or not. TIOCEXCL is also the first
    // terminal call, so a file or a device that is not a terminal ends here
    // with ENOTTY, or EINVAL from drivers that answer unknown requests so.
    if (ioctl(fd, TIOCEXCL) != 0) {
      const int error = errno;
      close(fd);
      return error == EINVAL ? MakeError(ErrorKind::kNotSerialDevice, ErrnoText(error)) : OpenError(error, path);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      // Another holder of the lock: in use, as far as the user is concerned.
      return error == EWOULDBLOCK ? MakeError(ErrorKind::kBusy, ErrnoText(error)) : OpenError(error, path);
    }
    fd_ = fd;
    path_ = path;
    return {};
  }

  std::optional<StepError> ConfigureLine(uint32_t rate, char parity, int dataBits, int stopBits) override {
    return StepFailed(serial::ConfigureLine(fd_, rate, parity, dataBits, stopBits));
  }

  void FinishOpening() override {
    LowerLatency();
    tcflush(fd_, TCIOFLUSH);
  }

  std::optional<StepError> SetRate(uint32_t rate) override { return StepFailed(SetLineRate(fd_, rate)); }

  void SetRts(bool high) override { ModemLine(fd_, high ? TIOCMBIS : TIOCMBIC, TIOCM_RTS); }

  bool IsOpen() const override { return fd_ >= 0; }

  void Close() override {
    RestoreLatency();
    close(fd_);
    fd_ = -1;
  }

  PortWait Wait(bool read, bool write, int timeoutMillis) override {
    pollfd fds[3] = {
        {stopFd_, POLLIN, 0},
        {fd_, static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0},
        {wakeFd_, POLLIN, 0},
    };
    PortWait result;
    if (poll(fds, 3, timeoutMillis) < 0) {
      if (errno == EINTR) {
        result.again = true;
      } else {
        result.lost = "poll(): " + ErrnoText(errno);
      }
      return result;
    }
    if (fds[0].revents & POLLIN) {
      result.stop = true;
      return result;
    }
    if (fds[2].revents & POLLIN) Reset(wakeFd_);
    const short port = fds[1].revents;
    result.readable = (port & POLLIN) != 0;
    if (port & (POLLHUP | POLLERR | POLLNVAL)) result.lost = (port & POLLHUP) ? Tr("设备已挂断") : Tr("设备报告错误");
    return result;
  }

  bool WaitWritable(int timeoutMillis) override {
    pollfd out{fd_, POLLOUT, 0};
    if (poll(&out, 1, timeoutMillis) < 0 && errno != EINTR) return false;
    return (out.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
  }

  Transfer Read(uint8_t* data, size_t length) override {
    Transfer result;
    const ssize_t got = ::read(fd_, data, length);
    if (got > 0) {
      result.count = static_cast<size_t>(got);
    } else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      result.lost = "read(): " + ErrnoText(errno);
    }
    return result;
  }

  Transfer Write(const uint8_t* data, size_t length) override {
    Transfer result;
    const ssize_t written = ::write(fd_, data, length);
    if (written > 0) {
      result.count = static_cast<size_t>(written);
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      result.blocked = true;
    } else if (written < 0 && errno == EINTR) {
      // Nothing moved and nothing failed: the caller writes again.
    } else {
      result.lost = "write(): " + ErrnoText(written < 0 ? errno : EIO);
    }
    return result;
  }

  size_t OutputQueued() override {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
    return static_cast<size_t>(queued);
  }

  void PurgeInput() override { tcflush(fd_, TCIFLUSH); }

  void DiscardOutput() override { tcflush(fd_, TCOFLUSH); }

  void Wake() override {
    if (wakeFd_ >= 0) Signal(wakeFd_);
  }

  void RequestStop() override { Signal(stopFd_); }

 private:
  // Lets USB adapters hand over received bytes at once instead of holding
  // them for their latency timer; the boot loader's answers are short. Best
  // effort and silent: a pseudo-terminal refuses both, and a port without
  // them only answers later. The timer goes first, before the driver's flag
  // can hide its value (ftdi_sio reads 1 ms while the flag is set).
  void LowerLatency() {
    std::error_code ec;
    latencyTimer_.Lower(std::filesystem::canonical(path_, ec).filename().string());
    struct serial_struct serial {};
    lowLatencySet_ = false;
    if (ioctl(fd_, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
      serial.flags |= ASYNC_LOW_LATENCY;
      lowLatencySet_ = ioctl(fd_, TIOCSSERIAL, &serial) == 0;
    }
  }

  // Undoes LowerLatency so the next program finds the adapter as it was;
  // on an unplugged adapter both steps fail quietly.
  void RestoreLatency() {
    struct serial_struct serial {};
    if (lowLatencySet_ && ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags &= ~ASYNC_LOW_LATENCY;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
    lowLatencySet_ = false;
    latencyTimer_.Restore();
  }

  int fd_ = -1;
  std::string path_;
  LatencyTimer latencyTimer_;
  bool lowLatencySet_ = false;
  int stopFd_ = -1;
  int wakeFd_ = -1;
};

}  // namespace

std::unique_ptr<PortBackend> MakePortBackend() { return std::make_unique<PosixBackend>(); }

}  // namespace corvel::serial
