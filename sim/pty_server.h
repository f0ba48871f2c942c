// The simulated chip on a pseudo-terminal: the tool opens the slave device
// like a serial port, the server drives the chip model from the master side
// on its own thread. With pacing, every byte takes 10 bit times at the rate
// the tool has set on its end, and bytes between ends set to different rates
// arrive garbled, as on a real line.
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
  bool verbose = false;           // log every frame and line event
  // Log lines, without line break, called on the server thread.
  std::function<void(std::string_view)> log;
  // Called on the server thread when it ends by itself (the adapter vanished
  // or the pty failed), not after Stop.
  std::function<void()> onEnded;
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

  // Runs `f` on the model while the server thread keeps off it.
  template <class F>
  auto WithModel(F&& f) {
    std::lock_guard<std::mutex> lock(modelMutex_);
    return f(*model_);
  }

 private:
  void Run();
  void Loop();
  void Log(std::string_view line);
  void DeliverReceived(uint64_t now);
  void QueueOutput(uint64_t now, uint64_t delayMicros);
  bool WriteDue(uint64_t now);
  uint64_t NextTxDue(uint32_t rate, size_t* count);
  void AnswerLeft(uint64_t at);
  bool HandOver(const uint8_t* bytes, size_t count, uint64_t crossedAt);
  bool WriteToTool(const uint8_t* bytes, size_t count);
  void FinishSwitch();
  size_t LostWhileSwitching();
  uint32_t ToolRate();
  void CloseFds();

  SimOptions options_;
  std::unique_ptr<ChipModel> model_;
  std::mutex modelMutex_;
  std::thread thread_;
  std::string devicePath_;
  int master_ = -1;
  int slave_ = -1;  // our own handle: the tool may close and re-open its end
  int stopFd_ = -1;

  std::mutex endMutex_;
  std::condition_variable endCv_;
  bool ended_ = true;
  std::atomic<bool> stopping_{false};

  // Line state, server thread only.
  BurstDetector lineBurst_;
  uint32_t toolRate_ = 0;
  std::vector<uint8_t> rx_;       // taken from the tool, not yet due
  uint64_t rxDue_ = 0;            // when its last byte has crossed the line
  uint64_t rxStart_ = 0;          // when its first byte began to cross
  uint32_t rxRate_ = 0;           // the tool's rate it was sent at
  uint64_t rxLine_ = 0;           // end of the receive line's busy time
  std::vector<uint8_t> tx_;       // answer bytes not yet written
  size_t txPos_ = 0;
  uint64_t txLine_ = 0;           // end of the send line's busy time
  size_t switchAt_ = SIZE_MAX;    // tx_ offset after which the rate switches
  uint32_t switchRate_ = 0;
  uint64_t switchDone_ = UINT64_MAX;  // while the chip switches: when it runs at switchRate_
  std::vector<uint8_t> held_;     // crossed the line, held by the adapter
  uint64_t heldUntil_ = UINT64_MAX;  // when the adapter hands held_ over
  std::vector<uint8_t> out_;      // model output, reused
  std::vector<uint8_t> garbled_;  // reused
  std::string logLine_;
};

}  // namespace corvel::sim
