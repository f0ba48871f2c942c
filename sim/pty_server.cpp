#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
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
// Taken from the tool ahead of the line at most; beyond, the pty holds the
// tool's writes back, as a real UART's transmit buffer would.
constexpr size_t kMaxQueuedRx = 4096;

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
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timerFd_ < 0) {
    const Error error = OsError("timerfd_create");
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
  rx_.reserve(kMaxQueuedRx);
  rxPos_ = 0;
  tx_.clear();
  txPos_ = 0;
  segments_.clear();
  segHead_ = 0;
  delayed_.clear();
  rxLine_ = txLine_ = rxStart_ = 0;
  switchDone_ = kNever;
  {
    std::lock_guard<std::mutex> lock(latenessMutex_);
    latenessNanos_.clear();
    latenessNanos_.reserve(4096);
  }
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
  for (int* fd : {&master_, &slave_, &stopFd_, &timerFd_}) {
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

LatenessFigures PtyServer::Lateness() {
  std::vector<uint32_t> sorted;
  {
    std::lock_guard<std::mutex> lock(latenessMutex_);
    sorted = latenessNanos_;
  }
  LatenessFigures figures;
  figures.answers = sorted.size();
  if (sorted.empty()) return figures;
  std::sort(sorted.begin(), sorted.end());
  const auto at = [&](double share) { return sorted[static_cast<size_t>(share * static_cast<double>(sorted.size() - 1))]; };
  figures.medianNanos = at(0.5);
  figures.p99Nanos = at(0.99);
  figures.maxNanos = sorted.back();
  return figures;
}

uint32_t PtyServer::ToolRate() {
  Result<uint32_t> rate = ReadLineRate(master_);
  if (rate && *rate != 0) toolRate_ = *rate;
  return toolRate_;
}

void PtyServer::ArmTimer(uint64_t wake) {
  itimerspec spec{};
  if (wake != kNever) {
    wake = std::max<uint64_t>(wake, 1);  // 0 would disarm it
    spec.it_value.tv_sec = static_cast<time_t>(wake / 1000000000u);
    spec.it_value.tv_nsec = static_cast<long>(wake % 1000000000u);
  }
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void PtyServer::Loop() {
  // The deadlines below are the line's own; the default 50 us of timer slack
  // would show up as lateness of every answer.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  toolRate_ = options_.initialRate;
  for (;;) {
    const uint64_t now = NowNanos();
    uint64_t nextTick = kNever;
    {
      std::lock_guard<std::mutex> lock(modelMutex_);
      if (now / 1000 >= model_->NextTickMicros()) {
        out_.clear();
        model_->Tick(now / 1000, out_);
        QueueOutput(now, false, 0);
      }
      if (rxPos_ < rx_.size()) DeliverReceived(now, false);
      if (now >= switchDone_) FinishSwitch();
      ReleaseDelayed(now);
      if (model_->Vanished()) {
        Log("the adapter disappears (fault)");
        return;
      }
      nextTick = model_->NextTickMicros();
    }
    if (!WriteDue(now)) return;

    uint64_t wake = nextTick == kNever ? kNever : nextTick * 1000;
    if (rxPos_ < rx_.size()) wake = std::min(wake, options_.pace ? rxLine_ : now);
    if (txPos_ < tx_.size()) wake = std::min(wake, NextTxDue(ToolRate(), nullptr));
    if (!delayed_.empty()) wake = std::min(wake, delayed_.front().due);
    wake = std::min(wake, std::min(switchDone_, heldUntil_));
    ArmTimer(wake);
    const bool room = rx_.size() - rxPos_ < kMaxQueuedRx;
    pollfd fds[3] = {{stopFd_, POLLIN, 0}, {master_, static_cast<short>(room ? POLLIN : 0), 0}, {timerFd_, POLLIN, 0}};
    if (ppoll(fds, 3, nullptr, nullptr) < 0 && errno != EINTR) {
      Log(std::string("poll: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents != 0) return;
    if ((fds[2].revents & POLLIN) != 0) {
      uint64_t expirations = 0;
      if (read(timerFd_, &expirations, sizeof expirations) < 0) {
        // Already re-armed or read: nothing to clear.
      }
    }
    if ((fds[1].revents & POLLIN) != 0) {
      if (!ReadFromTool()) return;
    } else if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      Log("the pseudo-terminal failed");
      return;
    }
  }
}

// Takes what the tool has written at once, so the moment it did is known
// closely; the bytes then cross the line one after another from that moment,
// or from when the line is free.
bool PtyServer::ReadFromTool() {
  const uint32_t rate = ToolRate();
  if (rxPos_ < rx_.size() && rate != rxRate_) {
    // The tool changed its rate with bytes still on the line; they were sent at the old one.
    std::lock_guard<std::mutex> lock(modelMutex_);
    DeliverReceived(NowNanos(), true);
  }
  if (rxPos_ == rx_.size()) {
    rx_.clear();
    rxPos_ = 0;
  } else if (rxPos_ > 0) {
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<ptrdiff_t>(rxPos_));
    rxPos_ = 0;
  }
  const size_t old = rx_.size();
  const size_t room = kMaxQueuedRx - old;
  rx_.resize(old + room);
  const ssize_t got = read(master_, rx_.data() + old, room);
  const uint64_t at = NowNanos();
  rx_.resize(old + static_cast<size_t>(std::max<ssize_t>(got, 0)));
  if (got < 0 && errno != EAGAIN && errno != EINTR) {
    Log(std::string("read: ") + std::strerror(errno));
    return false;
  }
  if (got <= 0) return true;
  if (old == 0) {
    rxRate_ = rate;
    rxStart_ = options_.pace ? std::max(rxLine_, at) : at;
    rxLine_ = rxStart_;
  }
  rxLine_ += LineNanos(static_cast<size_t>(got), rxRate_);
  return true;
}

// Model lock held. Hands what has crossed the line by `now` (everything, with
// `all` or unpaced) to the chip, byte by byte where the rates agree, so each
// answer is timed from the very byte that completed its command. Bytes sent
// at a rate the chip is not set to reach it garbled, except that a wake-up
// burst is recognised whatever its rate and sets the chip to it (it stands in
// for the reset).
void PtyServer::DeliverReceived(uint64_t now, bool all) {
  const size_t pending = rx_.size() - rxPos_;
  const uint64_t byteNanos = LineNanos(1, rxRate_);
  size_t count = pending;
  if (options_.pace && !all) count = now < rxStart_ ? 0 : std::min<size_t>(pending, (now - rxStart_) / byteNanos);
  if (count == 0) return;
  const auto crossed = [&](size_t i) { return options_.pace ? rxStart_ + (i + 1) * byteNanos : now; };
  const uint32_t tool = rxRate_;
  const uint8_t* bytes = rx_.data() + rxPos_;
  out_.clear();
  size_t from = LostWhileSwitching(count);
  if (now >= switchDone_) FinishSwitch();
  for (size_t i = from; i < count; ++i) {
    const bool burst = lineBurst_.Feed(bytes[i]);
    if (model_->OwnRate() == tool) {
      model_->Receive(bytes + i, 1, out_);
      if (!out_.empty()) EmitAnswer(crossed(i));
      from = i + 1;
      continue;
    }
    if (!burst) continue;
    garbled_.clear();
    GarbleLine(bytes + from, i + 1 - from, tool, model_->OwnRate(), garbled_);
    model_->Receive(garbled_.data(), garbled_.size(), out_);
    model_->SetOwnRate(tool);
    if (options_.verbose) Log("line: wake-up burst at " + std::to_string(tool) + " baud, the chip follows");
    model_->WakeUp(out_);
    switchDone_ = kNever;  // the reset it stands in for ends a switch under way
    if (!out_.empty()) EmitAnswer(crossed(i));
    from = i + 1;
  }
  if (from < count) {
    const uint32_t chip = model_->OwnRate();
    if (options_.verbose) {
      Log("line: " + std::to_string(count - from) + " bytes sent at " + std::to_string(tool) +
          " baud reach the chip at " + std::to_string(chip) + " baud garbled");
    }
    garbled_.clear();
    GarbleLine(bytes + from, count - from, tool, chip, garbled_);
    model_->Receive(garbled_.data(), garbled_.size(), out_);
    if (!out_.empty()) EmitAnswer(crossed(count - 1));
  }
  rxPos_ += count;
  if (options_.pace) rxStart_ += count * byteNanos;
  if (rxPos_ == rx_.size()) {
    rx_.clear();
    rxPos_ = 0;
  }
}

// Model lock held. out_ holds what the chip says to what ended at
// `lastByteAt`: a command's answer, which a delay fault may hold back, or the
// sync answer, which never waits and drops what a delay still held (the
// wake-up burst stands in for a reset).
void PtyServer::EmitAnswer(uint64_t lastByteAt) {
  const std::optional<uint8_t> code = model_->TakeAnsweredCode();
  const uint64_t start = lastByteAt + options_.processingMicros * 1000;
  const uint64_t delay = code ? model_->faults().AnswerDelayMicros(*code) * 1000 : 0;
  if (!code) delayed_.clear();
  const uint32_t switchRate = model_->TakeRateSwitch().value_or(0);
  if (delay == 0) {
    QueueOutput(start, true, switchRate);
  } else {
    Delayed held{start + delay, out_, switchRate};
    const auto later = std::find_if(delayed_.begin(), delayed_.end(), [&](const Delayed& d) { return d.due > held.due; });
    delayed_.insert(later, std::move(held));
  }
  out_.clear();
}

// Model lock held. Delayed answers that are due take their place on the line.
void PtyServer::ReleaseDelayed(uint64_t now) {
  size_t due = 0;
  while (due < delayed_.size() && delayed_[due].due <= now) {
    out_.swap(delayed_[due].bytes);
    QueueOutput(delayed_[due].due, true, delayed_[due].switchRate);
    out_.clear();
    ++due;
  }
  delayed_.erase(delayed_.begin(), delayed_.begin() + static_cast<ptrdiff_t>(due));
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

// How many of the next `count` bytes of rx_ began to arrive before the chip's
// UART was back; they are lost. Unpaced, the whole chunk arrived at once.
size_t PtyServer::LostWhileSwitching(size_t count) {
  if (switchDone_ == kNever || count == 0) return 0;
  size_t lost = count;
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

// out_ goes on the line after what is already queued, not before `notBefore`.
void PtyServer::QueueOutput(uint64_t notBefore, bool answer, uint32_t switchRate) {
  if (out_.empty()) return;
  if (txPos_ == tx_.size()) {
    tx_.clear();
    txPos_ = 0;
    segments_.clear();
    segHead_ = 0;
  }
  segments_.push_back({tx_.size(), tx_.size() + out_.size(), notBefore, answer, switchRate});
  tx_.insert(tx_.end(), out_.begin(), out_.end());
}

// When the next piece of tx_ has crossed the line and may be written.
uint64_t PtyServer::NextTxDue(uint32_t rate, size_t* count) {
  const Segment& segment = segments_[segHead_];
  const size_t n = std::min(segment.end - txPos_, options_.pace ? PacedChunk(rate) : kUnpacedChunk);
  if (count != nullptr) *count = n;
  const uint64_t start = txPos_ == segment.begin ? std::max(txLine_, segment.notBefore) : txLine_;
  return options_.pace ? start + LineNanos(n, rate) : start;
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
    if (now < due) return true;
    const Segment& segment = segments_[segHead_];
    if (segment.answer && txPos_ == segment.begin) {
      std::lock_guard<std::mutex> lock(latenessMutex_);
      const uint64_t late = NowNanos() - due;  // now, not the wake-up: the work since counts too
      latenessNanos_.push_back(static_cast<uint32_t>(std::min<uint64_t>(late, UINT32_MAX)));
    }
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
    if (txPos_ == segment.end) {
      if (segment.switchRate != 0) {
        std::lock_guard<std::mutex> lock(modelMutex_);
        switchRate_ = segment.switchRate;
        AnswerLeft(txLine_);
      }
      ++segHead_;
    }
  }
  tx_.clear();
  txPos_ = 0;
  segments_.clear();
  segHead_ = 0;
  return true;
}

}  // namespace corvel::sim
