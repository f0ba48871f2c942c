// The download button: everything ticked, in a fixed order (speed-up,
// partition record, access record, application, stack, boot, user data).
// Every input is read and checked before the first command goes out, so a bad
// file can never leave a chip half programmed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/connection.h"
#include "link/link.h"
#include "base/result.h"
#include "program/image_transfer.h"

namespace corvel::program {

inline constexpr size_t kMaxPartitionRecord = 294;  // what one write-flash frame of the record carries
inline constexpr size_t kMaxAccessRecord = 255;     // its length travels in one byte

// A boot loader reconfigures its UART only after its answer to the rate switch
// has left, and loses what arrives meanwhile: the pause before the next frame.
inline constexpr uint64_t kRateSettleMicros = 10000;
// The most the rate switch waits for the tool's own output to leave first.
inline constexpr uint64_t kRateDrainLimitMicros = 500000;

// The tick boxes, pickers and loaded records, read once at the start of a run.
struct DownloadChoice {
  std::optional<uint32_t> speedUpRate;
  bool partition = false;
  bool access = false;
  std::vector<uint8_t> partitionRecord;
  std::vector<uint8_t> accessRecord;
  std::optional<std::string> appPath;
  std::optional<std::string> stackPath;
  std::optional<std::string> bootPath;
  std::optional<std::string> userDataPath;
  // Read each image back after programming it and compare (the command
  // line's --verify; the window never asks).
  bool verify = false;

  bool NothingTicked() const {
    return !speedUpRate && !partition && !access && !appPath && !stackPath && !bootPath && !userDataPath;
  }
};

struct PreparedImage {
  std::string logLine;  // "正在下载应用固件..." and its kin
  ImageType type;
  std::vector<uint8_t> data;
  std::array<uint8_t, 4> tag;
};

// What a run will send, all read and checked.
struct PreparedDownload {
  std::optional<uint32_t> speedUpRate;
  std::optional<std::vector<uint8_t>> partitionRecord;
  std::optional<std::vector<uint8_t>> accessRecord;
  std::vector<PreparedImage> images;
  bool verify = false;
};

// Reads every ticked file and checks every ticked record. The error names the
// input that is missing, unreadable or damaged; nothing has been sent.
Result<PreparedDownload> PrepareDownload(const DownloadChoice& choice);

enum class DownloadResult { kOk, kFailed, kAborted };

// How a step of the run ended. kPort: the tool could not set its own line
// rate. kMismatch: a verify read back a byte other than the file's.
enum class StepStatus { kOk, kChipRefused, kNoAnswer, kInterrupted, kPort, kMismatch };

// One step of a run as it ended, for callers that keep a record of the run.
struct StepReport {
  // "speedup", "partition", "access", "app", "stack", "boot", "user", "verify-app", ...
  const char* name;
  StepStatus status;
  double seconds;
  const PreparedImage* image;  // an image step's image, valid during the call; null for the others
  uint16_t crc;                // the image's CRC as the transfer request carried it
};

class Verifier;

class Download {
 public:
  Download(link::Link& link, link::Connection& connection) : link_(link), connection_(connection) {}

  // Runs the whole download; returns when it has ended. With `verify`, each
  // image is read back and compared once programmed, before the next starts.
  DownloadResult Run(const PreparedDownload& prepared, const ProgressFn& progress = {});

  // The download button pressed during a run (or Ctrl-C): logs the abort at
  // once; the run sends no block after the one in flight and starts nothing new.
  void Abort();

  bool running() const { return running_; }

  // The pause after a rate switch (kRateSettleMicros unless set; 0: none).
  void SetRateSettleMicros(uint64_t micros) { rateSettleMicros_ = micros; }

  // Called when a run starts and ends: the caption "下载中..." / "download".
  std::function<void(bool running)> onRunningChanged;
  // Called as each step ends, whatever its status; the window leaves it empty.
  std::function<void(const StepReport&)> onStep;

 private:
  StepStatus SwitchRate(uint32_t rate);
  StepStatus WritePartition(const std::vector<uint8_t>& record);
  StepStatus WriteAccess(const std::vector<uint8_t>& record);
  StepStatus WriteImage(const PreparedImage& image, const ProgressFn& progress);
  void SetRunning(bool running);
  // Runs one step, timed, and tells onStep how it ended.
  template <class Step>
  StepStatus Timed(const char* name, const PreparedImage* image, Step step);

  link::Link& link_;
  link::Connection& connection_;
  TransferControl control_;
  Verifier* verifier_ = nullptr;  // the run's, while it verifies
  bool running_ = false;
  uint64_t rateSettleMicros_ = kRateSettleMicros;
};

}  // namespace corvel::program
