// The simulated chip on a pseudo-terminal: the tool opens the slave device
// like a serial port, the server drives the chip model from the master side
// on its own thread. With pacing, every byte takes 10 bit times at the rate
// the tool has set on its end, and bytes between ends set to different rates
// arrive garbled, as on a real line. Each answer is timed from the moment the
// command's last byte has crossed the line, on absolute deadlines, and how
// late the server actually wrote it is kept (Lateness).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/result.h"
#include "sim/burst_detector.h"
#include "sim/chip_model.h"

namespace corvel::sim {

// The data bytes of one USB packet of a typical adapter.
inline constexpr size_t kUsbPacketData = 62;

struct SimOptions {
  ModelOptions model;
  std::string stateFile;   // loaded at Start when it exists, saved at Stop
  std::string linkPath;    // made a symlink to the device while running
  bool pace = true;
  uint32_t initialRate = 115200;  // of both ends until the tool sets its own
  // After its answer to a rate switch has left, the chip keeps its old rate
  // this long while its UART is reconfigured, and loses the bytes that begin
  // to arrive meanwhile, as a real boot loader does. 0: it switches at once.
  uint64_t switchDelayMicros = 5000;
  // A USB adapter's latency timer: bytes that have crossed the line reach the
  // tool at once in full USB packets (kUsbPacketData bytes), but a shorter
  // rest, such as a whole short answer, is held this long first. 0: none.
  uint64_t adapterLatencyMicros = 0;
  // The chip's own time between a command's last byte and its answer's first
  // byte. 0: the line alone sets the pace (flash programming is not modelled).
  uint64_t processingMicros = 0;
  bool verbose = false;           // log every frame and line event
  // Log lines, without line break, called on the server thread.
  std::function<void(std::string_view)> log;
  // Called on the server thread when it ends by itself (the adapter vanished
  // or the pty failed), not after Stop.
  std::function<void()> onEnded;
};

// How late the server wrote the answers, against the line model: for each
// answer, the time its first piece was written to the tool minus the time the
// model says that piece has crossed the line. Console text is not counted.
struct LatenessFigures {
  size_t answers = 0;
  uint64_t medianNanos = 0;
  uint64_t p99Nanos = 0;
  uint64_t maxNanos = 0;
};

class PtyServer {
 public:
  PtyServer();
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pty pair and starts serving. Returns the slave's path.
  Result<std::string> Start(const SimOptions& options);

  // Stops serving, closes the pty and saves the state file (the result tells
  // whether that worked). Harmless when not running.
  Result<void> Stop();

  // Blocks until the server thread has ended (Stop, or the vanish fault).
  void WaitEnded();
  bool Running();

  const std::string& devicePath() const { return devicePath_; }

  // The lateness of every answer since Start; any thread, any time.
  LatenessFigures Lateness();

  // Runs `f` on the model while the server thread keeps off it.
  template <class F>
  auto WithModel(F&& f) {
    std::lock_guard<std::mutex> lock(modelMutex_);
    return f(*model_);
  }

 private:
  // A stretch of tx_ that goes on the line as one: an answer or console text.
  struct Segment {
    size_t begin = 0;
    size_t end = 0;
    uint64_t notBefore = 0;   // when its first byte may start to cross
    bool answer = false;      // counted in the lateness figures
    uint32_t switchRate = 0;  // not 0: the chip switches to it once this has left
  };
  // An answer a delay fault holds back; it joins tx_ when due.
  struct Delayed {
    uint64_t due = 0;
    std::vector<uint8_t> bytes;
    uint32_t switchRate = 0;
  };

  void Run();
  void Loop();
  void Log(std::string_view line);
  bool ReadFromTool();
  void DeliverReceived(uint64_t now, bool all);
  void EmitAnswer(uint64_t lastByteAt);
  void ReleaseDelayed(uint64_t now);
  void QueueOutput(uint64_t notBefore, bool answer, uint32_t switchRate);
  bool WriteDue(uint64_t now);
  uint64_t NextTxDue(uint32_t rate, size_t* count);
  void AnswerLeft(uint64_t at);
  bool HandOver(const uint8_t* bytes, size_t count, uint64_t crossedAt);
  bool WriteToTool(const uint8_t* bytes, size_t count);
  void FinishSwitch();
  size_t LostWhileSwitching(size_t count);
  uint32_t ToolRate();
  void ArmTimer(uint64_t wake);
  void CloseFds();

  SimOptions options_;
  std::unique_ptr<ChipModel> model_;
  std::mutex modelMutex_;
  std::thread thread_;
  std::string devicePath_;
  int master_ = -1;
  int slave_ = -1;  // our own handle: the tool may close and re-open its end
  int stopFd_ = -1;
  int timerFd_ = -1;  // the next deadline, absolute on CLOCK_MONOTONIC

  std::mutex endMutex_;
  std::condition_variable endCv_;
  bool ended_ = true;
  std::atomic<bool> stopping_{false};

  std::mutex latenessMutex_;
  std::vector<uint32_t> latenessNanos_;

  // Line state, server thread only.
  BurstDetector lineBurst_;
  uint32_t toolRate_ = 0;
  std::vector<uint8_t> rx_;       // taken from the tool; from rxPos_ on not yet delivered
  size_t rxPos_ = 0;
  uint64_t rxStart_ = 0;          // when rx_[rxPos_] begins to cross the line
  uint32_t rxRate_ = 0;           // the tool's rate they were sent at
  uint64_t rxLine_ = 0;           // end of the receive line's busy time
  std::vector<uint8_t> tx_;       // chip output; from txPos_ on not yet written
  size_t txPos_ = 0;
  std::vector<Segment> segments_;  // of tx_, from segHead_ on not yet written in full
  size_t segHead_ = 0;
  uint64_t txLine_ = 0;           // end of the send line's busy time
  std::vector<Delayed> delayed_;  // by due time
  uint32_t switchRate_ = 0;
  uint64_t switchDone_ = UINT64_MAX;  // while the chip switches: when it runs at switchRate_
  std::vector<uint8_t> held_;     // crossed the line, held by the adapter
  uint64_t heldUntil_ = UINT64_MAX;  // when the adapter hands held_ over
  std::vector<uint8_t> out_;      // model output, reused
  std::vector<uint8_t> garbled_;  // reused
  std::string logLine_;
};

}  // namespace corvel::sim
