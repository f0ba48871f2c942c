#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "link/link.h"
#include "sim/line_garble.h"
#include "sim/pty_rate.h"
#include "sim/state_file.h"
#include "text/hex_pairs.h"

namespace corvel::sim {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr size_t kUnpacedChunk = 4096;
constexpr size_t kMaxPacedChunk = 256;

uint64_t NowNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// 8N1: a start bit, eight data bits and a stop bit per byte.
uint64_t LineNanos(size_t bytes, uint32_t rate) { return static_cast<uint64_t>(bytes) * 10u * 1000000000u / rate; }

// About a millisecond of line time per step: fine enough for the timing,
// coarse enough not to wake for every byte.
size_t PacedChunk(uint32_t rate) { return std::clamp<size_t>(rate / 10000, 1, kMaxPacedChunk); }

Error OsError(const std::string& what) { return MakeError(ErrorKind::kIo, what + ": " + std::strerror(errno)); }

}  // namespace

PtyServer::PtyServer() = default;

PtyServer::~PtyServer() { (void)Stop(); }

Result<std::string> PtyServer::Start(const SimOptions& options) {
  if (thread_.joinable() || master_ >= 0) return MakeError(ErrorKind::kBusy, "the simulated chip is already running");
  options_ = options;
  model_ = std::make_unique<ChipModel>(options_.model);
  if (!options_.stateFile.empty()) {
    bool exists = false;
    Result<ChipMemory> memory = LoadStateFile(options_.stateFile, exists);
    if (!memory) return memory.error();
    if (exists) model_->memory() = std::move(*memory);
  }

  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return OsError("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    const Error error = OsError("pseudo-terminal setup");
    CloseFds();
    return error;
  }
  devicePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    const Error error = OsError("open " + devicePath_);
    CloseFds();
    return error;
  }
  // Raw from the start: an echoing slave would send the chip's own output back to it.
  termios t{};
  if (tcgetattr(slave_, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    tcsetattr(slave_, TCSANOW, &t);
  }
  if (Result<void> rate = SetLineRate(slave_, options_.initialRate); !rate) {
    CloseFds();
    return rate.error();
  }
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    const Error error = OsError("eventfd");
    CloseFds();
    return error;
  }
  if (!options_.linkPath.empty()) {
    struct stat st {};
    if (lstat(options_.linkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        CloseFds();
        return MakeError(ErrorKind::kBadInput, options_.linkPath + " exists and is not a symbolic link");
      }
      unlink(options_.linkPath.c_str());
    }
    if (symlink(devicePath_.c_str(), options_.linkPath.c_str()) != 0) {
      const Error error = OsError("symlink " + options_.linkPath);
      CloseFds();
      return error;
    }
  }

  model_->SetOwnRate(options_.initialRate);
  model_->onFrame = [this](bool fromHost, const uint8_t* frame, size_t length) {
    if (!options_.verbose) return;
    logLine_.assign(fromHost ? "RX: " : "TX: ");
    text::AppendHexBytes(logLine_, frame, length);
    Log(logLine_);
  };
  lineBurst_.Reset();
  rx_.clear();
  tx_.clear();
  txPos_ = 0;
  rxLine_ = txLine_ = rxDue_ = rxStart_ = 0;
  switchAt_ = SIZE_MAX;
  switchDone_ = kNever;
  held_.clear();
  heldUntil_ = kNever;
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    ended_ = false;
  }
  stopping_ = false;
  thread_ = std::thread(&PtyServer::Run, this);
  return devicePath_;
}

Result<void> PtyServer::Stop() {
  if (!thread_.joinable() && master_ < 0) return {};
  stopping_ = true;
  if (thread_.joinable()) {
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
      // The eventfd cannot be full; nothing else to do.
    }
    thread_.join();
  }
  CloseFds();
  if (!options_.linkPath.empty()) {
    struct stat st {};
    if (lstat(options_.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(options_.linkPath.c_str());
  }
  if (options_.stateFile.empty()) return {};
  std::lock_guard<std::mutex> lock(modelMutex_);
  return SaveStateFile(options_.stateFile, model_->memory());
}

void PtyServer::WaitEnded() {
  std::unique_lock<std::mutex> lock(endMutex_);
  endCv_.wait(lock, [this] { return ended_; });
}

bool PtyServer::Running() {
  std::lock_guard<std::mutex> lock(endMutex_);
  return !ended_;
}

void PtyServer::CloseFds() {
  for (int* fd : {&master_, &slave_, &stopFd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void PtyServer::Log(std::string_view line) {
  if (options_.log) options_.log(line);
}

void PtyServer::Run() {
  Loop();
  if (!stopping_) {
    // Gone as an unplugged adapter goes: the tool's end hangs up at once.
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
  }
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    ended_ = true;
  }
  endCv_.notify_all();
  if (!stopping_ && options_.onEnded) options_.onEnded();
}

uint32_t PtyServer::ToolRate() {
  Result<uint32_t> rate = ReadLineRate(master_);
  if (rate && *rate != 0) toolRate_ = *rate;
  return toolRate_;
}

void PtyServer::Loop() {
  uint8_t buffer[kUnpacedChunk];
  toolRate_ = options_.initialRate;
  for (;;) {
    const uint64_t now = NowNanos();
    uint64_t nextTick = kNever;
    {
      std::lock_guard<std::mutex> lock(modelMutex_);
      if (now / 1000 >= model_->NextTickMicros()) {
        out_.clear();
        model_->Tick(now / 1000, out_);
        QueueOutput(now, 0);
      }
      if (!rx_.empty() && (now >= rxDue_ || !options_.pace)) DeliverReceived(now);
      if (now >= switchDone_) FinishSwitch();
      if (model_->Vanished()) {
        Log("the adapter disappears (fault)");
        return;
      }
      nextTick = model_->NextTickMicros();
    }
    if (!WriteDue(now)) return;

    uint64_t wake = nextTick == kNever ? kNever : nextTick * 1000;
    if (!rx_.empty()) wake = std::min(wake, options_.pace ? rxDue_ : now);
    if (txPos_ < tx_.size()) wake = std::min(wake, NextTxDue(ToolRate(), nullptr));
    wake = std::min(wake, std::min(switchDone_, heldUntil_));
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {master_, static_cast<short>(rx_.empty() ? POLLIN : 0), 0}};
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (wake != kNever) {
      const uint64_t later = NowNanos();
      const uint64_t wait = wake > later ? wake - later : 0;
      timeout.tv_sec = static_cast<time_t>(wait / 1000000000u);
      timeout.tv_nsec = static_cast<long>(wait % 1000000000u);
      timeoutPtr = &timeout;
    }
    if (ppoll(fds, 2, timeoutPtr, nullptr) < 0 && errno != EINTR) {
      Log(std::string("poll: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[1].revents & POLLIN) != 0) {
      const uint32_t rate = ToolRate();
      const size_t limit = options_.pace ? PacedChunk(rate) : kUnpacedChunk;
      const ssize_t got = read(master_, buffer, limit);
      if (got > 0) {
        const uint64_t at = NowNanos();
        rx_.assign(buffer, buffer + got);
        rxLine_ = std::max(rxLine_, at);
        rxStart_ = options_.pace ? rxLine_ : at;
        rxRate_ = rate;
        rxDue_ = rxLine_ + LineNanos(static_cast<size_t>(got), rate);
        rxLine_ = rxDue_;
      } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
        Log(std::string("read: ") + std::strerror(errno));
        return;
      }
    } else if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      Log("the pseudo-terminal failed");
      return;
    }
  }
}

// Hands what has crossed the line to the chip. Bytes sent at a rate the chip
// is not set to reach it garbled, except that a wake-up burst is recognised
// whatever its rate and sets the chip to it (it stands in for the reset).
void PtyServer::DeliverReceived(uint64_t now) {
  const uint32_t tool = ToolRate();
  out_.clear();
  size_t from = LostWhileSwitching();
  if (now >= switchDone_) FinishSwitch();
  const size_t n = rx_.size();
  for (size_t i = from; i < n; ++i) {
    if (!lineBurst_.Feed(rx_[i]) || model_->OwnRate() == tool) continue;
    garbled_.clear();
    GarbleLine(rx_.data() + from, i + 1 - from, tool, model_->OwnRate(), garbled_);
    model_->Receive(garbled_.data(), garbled_.size(), out_);
    model_->SetOwnRate(tool);
    if (options_.verbose) Log("line: wake-up burst at " + std::to_string(tool) + " baud, the chip follows");
    model_->WakeUp(out_);
    switchDone_ = kNever;  // the reset it stands in for ends a switch under way
    from = i + 1;
  }
  if (from < n) {
    const uint32_t chip = model_->OwnRate();
    if (chip == tool) {
      model_->Receive(rx_.data() + from, n - from, out_);
    } else {
      if (options_.verbose) {
        Log("line: " + std::to_string(n - from) + " bytes sent at " + std::to_string(tool) + " baud reach the chip at " +
            std::to_string(chip) + " baud garbled");
      }
      garbled_.clear();
      GarbleLine(rx_.data() + from, n - from, tool, chip, garbled_);
      model_->Receive(garbled_.data(), garbled_.size(), out_);
    }
  }
  rx_.clear();
  QueueOutput(now, out_.empty() ? 0 : model_->faults().answerDelayMicros * 1000);
  if (std::optional<uint32_t> rate = model_->TakeRateSwitch()) {
    switchRate_ = *rate;
    switchAt_ = tx_.size();
  }
  if (switchAt_ != SIZE_MAX && txPos_ >= switchAt_) AnswerLeft(now);
}

// Bytes that crossed the line at `crossedAt` go to the tool through the
// adapter: full USB packets at once, a shorter rest after the latency timer.
bool PtyServer::HandOver(const uint8_t* bytes, size_t count, uint64_t crossedAt) {
  const uint64_t latency = options_.adapterLatencyMicros * 1000;
  if (latency == 0) return WriteToTool(bytes, count);
  if (held_.empty()) heldUntil_ = crossedAt + latency;
  held_.insert(held_.end(), bytes, bytes + count);
  const size_t full = held_.size() / kUsbPacketData * kUsbPacketData;
  if (full == 0) return true;
  if (!WriteToTool(held_.data(), full)) return false;
  held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(full));
  heldUntil_ = held_.empty() ? kNever : crossedAt + latency;
  return true;
}

bool PtyServer::WriteToTool(const uint8_t* bytes, size_t count) {
  const ssize_t written = count == 0 ? 0 : write(master_, bytes, count);
  if (written < 0 && errno != EAGAIN && errno != EINTR) {
    Log(std::string("write: ") + std::strerror(errno));
    return false;
  }
  // A full pty buffer means nobody reads the line: the bytes are lost, as on a wire.
  if (written >= 0 && static_cast<size_t>(written) < count && options_.verbose) {
    Log("line: " + std::to_string(count - static_cast<size_t>(written)) + " bytes lost, nobody reads");
  }
  return true;
}

// Model lock held. The answer to the rate switch has crossed the line at `at`.
void PtyServer::AnswerLeft(uint64_t at) {
  switchAt_ = SIZE_MAX;
  if (options_.switchDelayMicros == 0) {
    FinishSwitch();
    return;
  }
  switchDone_ = at + options_.switchDelayMicros * 1000;
  if (options_.verbose) {
    Log("line: the chip reconfigures its UART for " + std::to_string(options_.switchDelayMicros) + " us");
  }
}

// Model lock held.
void PtyServer::FinishSwitch() {
  model_->SetOwnRate(switchRate_);
  switchDone_ = kNever;
  if (options_.verbose) Log("line: the chip switches to " + std::to_string(switchRate_) + " baud");
}

// How many bytes at the front of rx_ began to arrive before the chip's UART
// was back; they are lost. Unpaced, the whole chunk arrived at once.
size_t PtyServer::LostWhileSwitching() {
  if (switchDone_ == kNever || rx_.empty()) return 0;
  size_t lost = rx_.size();
  if (rxStart_ >= switchDone_) {
    lost = 0;
  } else if (options_.pace) {
    const uint64_t byteNanos = LineNanos(1, rxRate_);
    lost = std::min<size_t>(lost, static_cast<size_t>((switchDone_ - rxStart_ + byteNanos - 1) / byteNanos));
  }
  if (lost > 0 && options_.verbose) {
    Log("line: " + std::to_string(lost) + " bytes lost, the chip is switching to " + std::to_string(switchRate_) +
        " baud");
  }
  return lost;
}

void PtyServer::QueueOutput(uint64_t now, uint64_t delayNanos) {
  if (out_.empty()) return;
  if (txPos_ == tx_.size()) {
    tx_.clear();
    txPos_ = 0;
  }
  tx_.insert(tx_.end(), out_.begin(), out_.end());
  txLine_ = std::max(txLine_, now + delayNanos);
}

uint64_t PtyServer::NextTxDue(uint32_t rate, size_t* count) {
  size_t n = std::min(tx_.size() - txPos_, options_.pace ? PacedChunk(rate) : kUnpacedChunk);
  if (switchAt_ > txPos_ && switchAt_ != SIZE_MAX) n = std::min(n, switchAt_ - txPos_);
  if (count != nullptr) *count = n;
  return options_.pace ? txLine_ + LineNanos(n, rate) : txLine_;
}

bool PtyServer::WriteDue(uint64_t now) {
  if (now >= heldUntil_) {
    if (!WriteToTool(held_.data(), held_.size())) return false;
    held_.clear();
    heldUntil_ = kNever;
  }
  while (txPos_ < tx_.size()) {
    const uint32_t tool = ToolRate();
    size_t n = 0;
    const uint64_t due = NextTxDue(tool, &n);
    if (options_.pace && now < due) return true;
    txLine_ = options_.pace ? due : now;
    uint32_t chip = 0;
    {
      std::lock_guard<std::mutex> lock(modelMutex_);
      chip = model_->OwnRate();
    }
    const uint8_t* bytes = tx_.data() + txPos_;
    size_t count = n;
    if (chip != tool) {
      garbled_.clear();
      GarbleLine(bytes, n, chip, tool, garbled_);
      bytes = garbled_.data();
      count = garbled_.size();
    }
    if (!HandOver(bytes, count, txLine_)) return false;
    txPos_ += n;
    if (switchAt_ != SIZE_MAX && txPos_ >= switchAt_) {
      std::lock_guard<std::mutex> lock(modelMutex_);
      AnswerLeft(txLine_);
    }
  }
  if (txPos_ == tx_.size()) {
    tx_.clear();
    txPos_ = 0;
  }
  return true;
}

}  // namespace corvel::sim
