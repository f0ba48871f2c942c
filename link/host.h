// The one seam between the protocol core and the world. The core never touches
// a port, a clock, a thread or a window directly: a front end (the window, the
// command line, a test) implements this interface and owns everything behind it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.h"

namespace corvel::link {

class Host {
 public:
  virtual ~Host() = default;

  // Hands bytes to the port to be written, in order, and returns at once.
  // Returns false when the bytes cannot be queued (no port, port lost, too long).
  virtual bool QueueWrite(const uint8_t* data, size_t length) = 0;

  // The wake-up burst: raw line data that must not build a backlog in front of
  // the handshake. A port may hold it back until its output queue is empty and
  // replace a burst still waiting with the newer one.
  virtual bool QueueBurst(const uint8_t* data, size_t length) { return QueueWrite(data, length); }

  // Handles every event waiting now (received bytes, clicks, Ctrl-C) and
  // returns as soon as none is left. Never blocks.
  virtual void PumpMessages() = 0;

  // Blocks until an event has been handled or the steady clock reaches
  // `deadlineMicros`, whichever comes first. Waiting costs no CPU.
  virtual void WaitUntil(uint64_t deadlineMicros) = 0;

  // A steady clock in microseconds that never jumps back.
  virtual uint64_t NowMicros() = 0;

  // Blocks without handling any event (the reset pulse and the pause before
  // the handshake must not let bytes in). Received bytes wait meanwhile.
  virtual void SleepMicros(uint64_t micros) = 0;

  // Raises (true) or lowers the RTS line, the chip's reset line. A port
  // without modem lines ignores it.
  virtual void SetRts(bool /*high*/) {}

  // Changes the line rate of the open port in place (no close and re-open:
  // re-opening raises RTS on some systems and would reset the chip).
  virtual Result<void> SetBaudRate(uint32_t rate) = 0;

  // Blocks until the bytes queued so far have left: handed to the device and
  // the device's own output queue empty, or until `limitMicros` have passed.
  // False on the limit or a lost port. A host without an output queue of its
  // own has nothing to wait for.
  virtual bool DrainOutput(uint64_t /*limitMicros*/) { return true; }

  // Drops every received byte not yet handed to the link, in the host and in
  // the device's input queue (what arrived while the line changed its rate).
  virtual void DiscardInput() {}

  // True once the port has gone away (adapter unplugged, write failed): waits
  // for an answer end at once instead of running to their limit.
  virtual bool PortLost() { return false; }
};

}  // namespace corvel::link
