// The boot loader's framed protocol, host side: frame building, the receiver
// with its four states, response classification, and the waits every command
// uses. Does no I/O of its own: bytes, time and events come through a Host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/host.h"
#include "base/result.h"
#include "log/log.h"

namespace corvel::link {

inline constexpr uint8_t kFrameStart = 0x81;
inline constexpr uint8_t kFrameEnd = 0x18;
inline constexpr size_t kFrameOverhead = 7;  // start, code, length (2), CRC (2), end
inline constexpr size_t kTxBufferSize = 1024;
inline constexpr size_t kRxBufferSize = 2048;
inline constexpr size_t kRxFrameLimit = 1024;  // the receiver never uses more
inline constexpr size_t kMaxPayload = kTxBufferSize - kFrameOverhead;  // 1017
inline constexpr uint8_t kSyncByte = 0x55;
inline constexpr uint8_t kSyncCount = 8;
inline constexpr uint8_t kNoResponse = 0xFF;

// Limits of the waits, in whole seconds of ClockSeconds.
inline constexpr uint32_t kCommandTimeoutSeconds = 4;
inline constexpr uint32_t kHandshakeTimeoutSeconds = 2;
inline constexpr uint32_t kDisconnectTimeoutSeconds = 1;
inline constexpr uint32_t kBlockTimeoutSeconds = 3;
inline constexpr uint32_t kSyncBurstMicros = 5000;

// Builds a complete frame into `out` (at least length + 7 bytes). Returns the
// frame size, or 0 when the payload is longer than a frame can carry. Shared
// by the host and the simulated chip so both ends agree byte for byte.
size_t BuildFrame(uint8_t code, const uint8_t* payload, size_t length, uint8_t* out);

// Appends "PREFIX" and each byte as "%02X " to `line` (the frame echo format).
void AppendHexBytes(std::string& line, const uint8_t* bytes, size_t count);

class Link {
 public:
  Link(Host& host, log::Log& log) : host_(host), log_(log) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Host& host() { return host_; }
  log::Log& log() { return log_; }

  // Frames the command into txBuffer, queues it and echoes it. Refuses a
  // payload over kMaxPayload instead of writing past txBuffer.
  Result<void> SendFrame(uint8_t code, const uint8_t* payload, uint16_t length);

  // Sends a command and waits up to kCommandTimeoutSeconds for an accepted
  // response. Returns its status byte, or kNoResponse.
  uint8_t SendAndWait(uint8_t code, const uint8_t* payload, uint16_t length);

  // Receiver: one call per byte, in order. Returns true when the byte
  // completed a frame (good or bad CRC), so a caller feeding a chunk can stop
  // and let the waiting operation read rxBuffer before later bytes land.
  bool OnByteReceived(uint8_t b);

  // Feeds a chunk. In text mode the whole chunk goes to the console text; in
  // the protocol states it stops right after a byte that completes a frame.
  // Returns the number of bytes consumed.
  size_t Deliver(const uint8_t* data, size_t count);

  void CheckResponse();

  // Pumps and waits until `flag` is set or ClockSeconds has advanced by
  // `limitSeconds` since the call. Returns the flag.
  bool WaitForFlag(const uint8_t& flag, uint32_t limitSeconds);
  // The same with a MicroTimer limit (the sync burst repetition).
  bool WaitForFlagMicros(const uint8_t& flag, uint32_t limitMicros);

  uint32_t ClockSeconds() { return static_cast<uint32_t>(host_.NowMicros() / 1000000u); }
  // Microseconds, truncated to 32 bits; differences are taken as uint32_t
  // (now - start) and stay right across the wrap.
  uint32_t MicroTimer() { return static_cast<uint32_t>(host_.NowMicros()); }

  // The last accepted response: status byte and data (from rxBuffer offset 5).
  uint8_t StatusByte() const { return rxBuffer[4]; }
  const uint8_t* ResponseData() const { return rxBuffer.data() + 5; }
  // Data bytes the last checked frame carried after its status byte.
  size_t ResponseDataLength() const { return responseDataLength; }

  // Receiver state changes made by the connection procedure.
  void ResetReceiver();  // zero rxBuffer, rxIndex 0

  // Codec state. Public: the connection procedure switches these flags, as it
  // owns the receiver's states; everything else only reads them.
  std::array<uint8_t, kTxBufferSize> txBuffer{};
  std::array<uint8_t, kRxBufferSize> rxBuffer{};
  uint16_t rxIndex = 0;
  uint8_t protocolMode = 0;
  uint8_t synced = 0;
  uint8_t framesEnabled = 0;
  uint8_t responseArrived = 0;
  uint8_t disconnectAcked = 0;
  size_t responseDataLength = 0;
  uint8_t lastSentCode = 0;

 private:
  bool AssembleFramed(uint8_t b);
  bool CompleteFrame();
  bool Resync();
  void Echo(const char* prefix, const uint8_t* bytes, size_t count);

  Host& host_;
  log::Log& log_;
  std::string echoLine_;  // reused so the echo does not allocate per frame
};

}  // namespace corvel::link
