// One serial port: opening and configuring the device, a monitor thread that
// reads what arrives and performs the queued writes, RTS, and the line rate.
// What every system shares is in serial_port.cpp; the operating system's
// calls live behind PortBackend, one file per system (serial_port_posix.cpp
// here). This header is the same for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result.h"

namespace corvel::serial {

// Implemented by the owner of a port.
class PortEvents {
 public:
  virtual ~PortEvents() = default;
  // Monitor thread: a received chunk waits for Consume(). Must not block.
  virtual void OnDataReady() = 0;
  // Monitor thread: the device went away or failed (unplugged, a write or the
  // event wait failed). Sent once per opening; the monitor then ends and
  // closes the port. Must not block.
  virtual void OnPortLost(const std::string& reason) = 0;
  // Owner thread, inside OpenPort or SetBaudRate: a configuration step failed.
  // The text is the one the configuration error box shows.
  virtual void OnPortError(const std::string& text) = 0;
};

// "WARNING:  <step> Failed with the following error: \n<text>\nPort: <path>\n"
std::string FormatPortError(const std::string& step, const std::string& text, const std::string& path);

class SerialPort {
 public:
  // Bytes the monitor reads at once; one chunk is handed to the owner at a time.
  static constexpr size_t kReadChunk = 4096;

  SerialPort();
  ~SerialPort();  // stops the monitor (finishing queued writes, bounded) and closes
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `path` exclusively and configures it raw at `baud` with the given
  // framing. Fails, without any report to the owner, with kNotFound,
  // kPermission, kBusy (in use, or its lock refused), kNotSerialDevice or
  // kIo; the error's text is the system's. A configuration step that fails
  // is reported through owner.OnPortError and the port still counts as open
  // (ok). Waits for the monitor of an earlier opening to end first.
  Result<void> OpenPort(PortEvents& owner, const std::string& path, uint32_t baud, char parity = 'N',
                        int dataBits = 8, int stopBits = 1, size_t writeCapacity = 4096);

  // Starts the monitor thread. False when no port is open or the thread
  // cannot be started.
  bool StartMonitor();

  // Asks the monitor to finish the queued writes and close the port; returns
  // at once. Harmless when nothing runs.
  void RequestStop();
  // Waits for the monitor to end; bounded, also on an unplugged device.
  void WaitStopped();

  // Queues bytes to be written after everything queued before them. Returns
  // at once; false when the port is not open or lost, or when `length` is
  // larger than the write capacity given to OpenPort.
  bool QueueWrite(const uint8_t* data, size_t length);
  // The wake-up burst: handed to the device only once its output queue is
  // empty; a newer burst replaces one still waiting, and a queued write drops
  // one that has not gone out, so bursts never build a backlog.
  bool QueueBurst(const uint8_t* data, size_t length);

  // RTS, the chip's reset line. Nothing happens on a device without modem
  // lines or when the port is closed. DTR is never touched.
  void SetRts();
  void ClearRts();

  // Changes the rate of the open descriptor in place. A failure is reported
  // through OnPortError as well and leaves the old rate.
  Result<void> SetBaudRate(uint32_t rate);

  // Owner thread: waits until every queued write has been handed to the
  // device and the device's output queue is empty, at most `limitMicros`.
  // False on the limit, or when the port is lost, stopping or closed.
  bool DrainOutput(uint64_t limitMicros);
  // Owner thread: drops the received bytes not yet taken and those waiting in
  // the device.
  void DiscardInput();

  // Owner thread: hands the received bytes waiting now to `consume`, which
  // returns how many it took. The monitor reads again only after the whole
  // chunk has been taken, possibly over several calls. Returns the count taken.
  size_t Consume(const std::function<size_t(const uint8_t*, size_t)>& consume);
  bool HasData() const;

  // True from a successful OpenPort until the monitor has closed the port.
  bool IsOpen() const;
  // True once OnPortLost was sent for the current opening.
  bool Lost() const;

  struct State;  // serial_port.cpp's

 private:
  std::unique_ptr<State> state_;
};

}  // namespace corvel::serial
