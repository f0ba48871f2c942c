// What every backend of SerialPort shares: the write queue and the burst slot,
// the purge before each write, the hand-off of one received chunk at a time,
// the monitor thread's loop and the bounded stop. The system's calls are
// behind PortBackend.
#include "serial/serial_port.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/port_backend.h"
#include "serial/write_queue.h"

namespace corvel::serial {
namespace {

// Writes may wait this many times the write capacity before QueueWrite refuses.
constexpr size_t kBacklogWrites = 64;
// How long a stop lets the queued writes drain before it cuts them off.
constexpr auto kStopDrainTime = std::chrono::milliseconds(500);

// About the time `queued` bytes need on the line at `lineRate` (ten bits a
// byte), in milliseconds, at least 1 and at most 50.
int LineMillis(size_t queued, uint32_t lineRate) {
  return static_cast<int>(std::min<uint64_t>(queued * 10000ull / lineRate + 1, 50));
}

}  // namespace

struct SerialPort::State {
  State() : backend(MakePortBackend()) {}

  void Monitor();
  bool WriteQueued(bool& blocked, std::string& lostReason);
  void FinishWrites();
  void ClosePort();
  void ReportLost(const std::string& reason);

  const std::unique_ptr<PortBackend> backend;
  PortEvents* owner = nullptr;
  std::string path;
  std::thread monitor;

  // The device. Opened by OpenPort while no monitor runs and closed by the
  // monitor as it ends; the owner's calls on it take fdMutex so they never
  // act on a device being closed.
  mutable std::mutex fdMutex;

  // Everything below is shared by the owner and the monitor.
  mutable std::mutex mutex;
  // Told whenever the monitor has written, and as it ends: DrainOutput waits on it.
  std::condition_variable wrote;
  WriteQueue queue;
  size_t capacity = 0;
  std::vector<uint8_t> burst;  // allocated once per opening
  size_t burstLength = 0;
  bool burstWaiting = false;
  std::array<uint8_t, kReadChunk> chunk{};
  size_t chunkLength = 0;  // 0: free for the monitor; else the owner's until taken
  size_t chunkTaken = 0;
  uint64_t discards = 0;  // DiscardInput calls: a read begun before one is dropped
  uint32_t rate = 0;
  bool stopping = false;
  bool lost = false;
};

SerialPort::SerialPort() : state_(std::make_unique<State>()) {}

SerialPort::~SerialPort() {
  RequestStop();
  WaitStopped();
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
  {
    std::lock_guard<std::mutex> lock(s.fdMutex);
    Result<void> opened = s.backend->Open(path);
    if (!opened.ok()) return opened;
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

  std::optional<StepError> failed;
  {
    std::lock_guard<std::mutex> lock(s.fdMutex);
    // Linux raises RTS as the port opens; RTS resets the chip, so lower it first.
    s.backend->SetRts(false);
    // Rate 0 (a cancelled custom rate) and a rate the device reads back
    // differently are reported like a failed step and not applied.
    failed = s.backend->ConfigureLine(baud, parity, dataBits, stopBits);
  }
  // Reported before the port is emptied: what arrives while the owner shows
  // the error is as stale as what came before.
  if (failed) owner.OnPortError(FormatPortError(failed->step, failed->text, path));

  std::lock_guard<std::mutex> lock(s.fdMutex);
  s.backend->FinishOpening();
  return {};
}

Result<void> SerialPort::SetBaudRate(uint32_t rate) {
  State& s = *state_;
  std::lock_guard<std::mutex> fdLock(s.fdMutex);
  if (!s.backend->IsOpen()) return MakeError(ErrorKind::kIo, "the port is not open");
  const std::optional<StepError> failed = s.backend->SetRate(rate);
  if (!failed) {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rate = rate;
    return {};
  }
  const std::string text = FormatPortError(failed->step, failed->text, s.path);
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
    s.backend->RequestStop();
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
  s.backend->Wake();
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
  s.backend->Wake();
  return true;
}

void SerialPort::SetRts() {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  if (state_->backend->IsOpen()) state_->backend->SetRts(true);
}

void SerialPort::ClearRts() {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  if (state_->backend->IsOpen()) state_->backend->SetRts(false);
}

bool SerialPort::DrainOutput(uint64_t limitMicros) {
  State& s = *state_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(limitMicros);
  uint32_t lineRate = 0;
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    const bool settled = s.wrote.wait_until(
        lock, deadline, [&s] { return s.lost || s.stopping || (s.queue.Empty() && !s.burstWaiting); });
    if (!settled || s.lost || s.stopping) return false;
    lineRate = s.rate;
  }
  std::lock_guard<std::mutex> fdLock(s.fdMutex);
  if (!s.backend->IsOpen()) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return s.backend->DrainOutput(static_cast<int>(std::max<int64_t>(0, left.count())), lineRate);
}

void SerialPort::DiscardInput() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> fdLock(s.fdMutex);
    if (s.backend->IsOpen()) s.backend->PurgeInput();
  }
  bool freed = false;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.discards;
    freed = s.chunkLength != 0;
    s.chunkLength = 0;
    s.chunkTaken = 0;
  }
  if (freed) s.backend->Wake();
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
  if (allTaken) s.backend->Wake();
  return taken;
}

bool SerialPort::HasData() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->chunkLength != 0;
}

bool SerialPort::IsOpen() const {
  std::lock_guard<std::mutex> lock(state_->fdMutex);
  return state_->backend->IsOpen();
}

bool SerialPort::Lost() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->lost;
}

void SerialPort::State::ClosePort() {
  std::lock_guard<std::mutex> lock(fdMutex);
  if (!backend->IsOpen()) return;
  // Output still queued would make closing wait for it (up to 30 s on some
  // drivers); by now it has had its chance.
  if (backend->OutputQueued() > 0) backend->DiscardOutput();
  backend->Close();
}

// Writes queued bytes until the device would block. The input is purged
// before each write starts: the protocol is half-duplex, and bytes the chip
// sent before the command are stale. Returns false on a failed write.
bool SerialPort::State::WriteQueued(bool& blocked, std::string& lostReason) {
  blocked = false;
  std::lock_guard<std::mutex> lock(mutex);
  for (;;) {
    if (queue.Empty()) {
      if (!burstWaiting || stopping) return true;
      // The burst goes only into an empty output queue so bursts never pile
      // up in front of the handshake.
      if (backend->OutputQueued() > 0) {
        blocked = true;
        return true;
      }
      queue.Push(burst.data(), burstLength);
      burstWaiting = false;
    }
    if (queue.FrontUnstarted()) backend->PurgeInput();
    const Transfer written = backend->Write(queue.FrontData(), queue.FrontRemaining());
    if (written.count > 0) {
      queue.Advance(written.count);
    } else if (written.blocked) {
      blocked = true;
      return true;
    } else if (!written.lost.empty()) {
      lostReason = written.lost;
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
    std::string lostReason;
    if (!WriteQueued(blocked, lostReason)) return;
    if (!blocked) break;
    const int wait = remainingMillis();
    if (wait == 0) return;
    if (!backend->WaitWritable(wait)) return;
  }
  // Let the device send what it holds; there is no event for an empty
  // output queue, so look again after about the time the rest needs.
  uint32_t lineRate = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    lineRate = std::max<uint32_t>(rate, 1);
  }
  for (size_t queued = backend->OutputQueued(); queued > 0; queued = backend->OutputQueued()) {
    const int wait = remainingMillis();
    if (wait == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, LineMillis(queued, lineRate))));
  }
}

void SerialPort::State::Monitor() {
  for (;;) {
    bool readFree = false;
    bool burstHeld = false;
    bool writesWaiting = false;
    uint32_t lineRate = 0;
    uint64_t discardsBefore = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      readFree = chunkLength == 0;
      discardsBefore = discards;
      writesWaiting = !queue.Empty();
      burstHeld = queue.Empty() && burstWaiting;
      lineRate = std::max<uint32_t>(rate, 1);
    }
    // A held burst waits for the output queue to empty; there is no event
    // for that, so look again after about the time the queued bytes need.
    int timeout = -1;
    if (burstHeld) {
      const size_t queued = backend->OutputQueued();
      timeout = queued == 0 ? 0 : LineMillis(queued, lineRate);
    }
    const PortWait wait = backend->Wait(readFree, writesWaiting, timeout);
    if (wait.again) continue;
    if (wait.stop) {
      FinishWrites();
      break;
    }
    if (readFree && wait.readable) {
      const Transfer got = backend->Read(chunk.data(), chunk.size());
      if (got.count > 0) {
        bool kept = false;
        {
          std::lock_guard<std::mutex> lock(mutex);
          // Read while the owner discarded the input: as stale as the rest.
          kept = discards == discardsBefore;
          if (kept) {
            chunkLength = got.count;
            chunkTaken = 0;
          }
        }
        if (kept) owner->OnDataReady();
      } else if (!got.lost.empty()) {
        ReportLost(got.lost);
        break;
      }
    }
    if (!wait.lost.empty()) {
      ReportLost(wait.lost);
      break;
    }
    bool blocked = false;
    std::string lostReason;
    if (!WriteQueued(blocked, lostReason)) {
      ReportLost(lostReason);
      break;
    }
    // Cheap without a waiter; a write queued during this pass may already be out.
    wrote.notify_all();
  }
  ClosePort();
  wrote.notify_all();
}

bool PortBackend::DrainOutput(int timeoutMillis, uint32_t lineRate) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
  for (size_t queued = OutputQueued(); queued > 0; queued = OutputQueued()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    // Ten bits a byte, at least a millisecond between looks.
    const auto lineTime = std::chrono::microseconds(queued * 10000000ull / std::max<uint32_t>(lineRate, 1) + 1000);
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, lineTime));
  }
  return true;
}

}  // namespace corvel::serial
