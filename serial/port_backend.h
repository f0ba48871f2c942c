// What SerialPort asks of the operating system. serial_port.cpp holds what
// every system shares (the write queue, the burst slot, the hand-off of
// received chunks, the bounded stop); a backend holds only the system's calls,
// one file per system, chosen in CMake. Internal to serial/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"

namespace corvel::serial {

// A configuration step that failed: its name ("TCSETS2") and the system's text.
struct StepError {
  std::string step;
  std::string text;
};

// What ended one wait of the monitor.
struct PortWait {
  bool stop = false;      // RequestStop() was called
  bool readable = false;  // received bytes wait to be read
  bool again = false;     // interrupted before anything was seen: look again
  std::string lost;       // the device went away or failed: the reason
};

// One read or write.
struct Transfer {
  size_t count = 0;      // bytes moved
  bool blocked = false;  // the device takes no more now (writes)
  std::string lost;      // the device failed: the reason
};

// Calls come from the owner's thread while no monitor runs or under the
// port's descriptor lock (opening, configuring, RTS, the rate, closing), from
// the monitor thread (waiting, reading, writing, the output queue), or from
// any thread (Wake, RequestStop).
class PortBackend {
 public:
  virtual ~PortBackend() = default;

  // Opens `path` for this program alone. Fails with kNotFound, kPermission,
  // kBusy, kNotSerialDevice or kIo and the system's text. Clears a stop
  // requested for an earlier opening.
  virtual Result<void> Open(const std::string& path) = 0;
  // Makes the line raw with the framing, reads that return at once, and the
  // rate. The first step that failed, if any; the port stays open either way.
  virtual std::optional<StepError> ConfigureLine(uint32_t rate, char parity, int dataBits, int stopBits) = 0;
  // The last steps of an opening: low latency where the device offers it,
  // and both directions emptied.
  virtual void FinishOpening() = 0;
  // Changes the rate in place; the old rate stays when this fails.
  virtual std::optional<StepError> SetRate(uint32_t rate) = 0;
  // A device without modem lines ignores it.
  virtual void SetRts(bool high) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;

  // Blocks until a stop is requested, Wake() is called, the device has bytes
  // to read (when `read`) or room for a write (when `write`), the device
  // fails, or `timeoutMillis` pass (-1: no limit).
  virtual PortWait Wait(bool read, bool write, int timeoutMillis) = 0;
  // Blocks until the device takes a write or `timeoutMillis` pass. False
  // when the device failed or went away.
  virtual bool WaitWritable(int timeoutMillis) = 0;
  // Neither blocks. A read that finds nothing moves 0 bytes; a write that
  // moves 0 bytes without being blocked or failing is tried again.
  virtual Transfer Read(uint8_t* data, size_t length) = 0;
  virtual Transfer Write(const uint8_t* data, size_t length) = 0;
  // Bytes the device holds that have not gone out on the line yet.
  virtual size_t OutputQueued() = 0;
  virtual void PurgeInput() = 0;
  virtual void DiscardOutput() = 0;
  // Owner thread, under the descriptor lock: blocks until the device's output
  // queue is empty or `timeoutMillis` pass; it looks again after about the
  // time the queued bytes need at `lineRate`. False on the limit. An
  // adapter's own transmit buffer is beyond what the system can see. (The
  // system's own drain, tcdrain or FlushFileBuffers, would wait without a
  // limit on an adapter that stopped sending.)
  bool DrainOutput(int timeoutMillis, uint32_t lineRate);

  // Ends the monitor's current or next wait.
  virtual void Wake() = 0;
  // Every wait from now until the next Open() reports stop.
  virtual void RequestStop() = 0;
};

// The backend of the system this is built for.
std::unique_ptr<PortBackend> MakePortBackend();

}  // namespace corvel::serial
