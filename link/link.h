// The boot loader's framed protocol, host side: sending commands, the receiver
// with its four states, and the waits every command uses. Does no I/O of its
// own: bytes, time and events come through a Host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "link/frame_assembler.h"
#include "link/host.h"
#include "log/log.h"

namespace corvel::link {

inline constexpr size_t kMaxResponseData = kMaxPayload - 1;  // after the status byte: 1016
inline constexpr uint8_t kSyncByte = 0x55;
inline constexpr uint8_t kSyncCount = 8;
inline constexpr uint8_t kNoResponse = 0xFF;

// Data bytes an answer may carry when its command asks for none or for a
// fixed few (a version, an identifier, a register): a start that declares
// more is noise and is dropped at once.
inline constexpr size_t kSmallAnswerData = 7;

// Limits of the waits, in whole seconds of the steady clock.
inline constexpr uint32_t kCommandTimeoutSeconds = 4;
inline constexpr uint32_t kHandshakeTimeoutSeconds = 2;
inline constexpr uint32_t kDisconnectTimeoutSeconds = 1;
inline constexpr uint32_t kBlockTimeoutSeconds = 3;
inline constexpr uint32_t kSyncBurstMicros = 5000;

// An accepted answer, copied out of the receiver when its last byte arrived.
struct Response {
  uint8_t code = 0;
  uint8_t status = 0;
  uint16_t length = 0;  // data bytes after the status byte
  std::array<uint8_t, kMaxResponseData> data{};

  bool Ok() const { return status == 0; }
  // Status 0 with at least `needed` data bytes: a short answer is a failure,
  // never a reason to read bytes it did not carry.
  bool OkWith(size_t needed) const { return status == 0 && length >= needed; }
};

// The answer's status, or kNoResponse when none came.
inline uint8_t StatusOf(const std::optional<Response>& answer) { return answer ? answer->status : kNoResponse; }
// True when an answer came with status 0.
inline bool Succeeded(const std::optional<Response>& answer) { return answer && answer->Ok(); }

// How the last failed transaction failed: no answer in time (or not sent),
// or an answer whose status is not success.
enum class TransactionFailure : uint8_t { kNone, kNoAnswer, kStatus };

// What the receiver does with bytes. Text: console text for the log. SyncHunt:
// watching for eight 0x55 bytes. Synced: dropped (the pause before the
// handshake). Framed: assembled into answers.
enum class ReceiverState : uint8_t { kText, kSyncHunt, kSynced, kFramed };

// What arrived while hunting for the sync pattern, so an attempt that ends
// without it can say why. Counted from the last EnterSyncHunt on.
struct HuntObservation {
  uint64_t bytes = 0;
  // Printable ASCII, CR, LF, TAB, and the bytes of whole well-formed UTF-8
  // sequences (also when one is split across deliveries).
  uint64_t textBytes = 0;
  uint64_t lineBreaks = 0;  // CR, LF and CR LF each count once
  // 0xFF and 0xAA, what the wake-up burst is made of: a line whose TX is
  // joined to its RX hears nothing else.
  uint64_t ownBurstBytes = 0;
};

class Link : private FrameSink {
 public:
  Link(Host& host, log::Log& log);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Host& host() { return host_; }
  log::Log& log() { return log_; }

  // Sends a command and waits up to kCommandTimeoutSeconds for an accepted
  // answer. `maxData` is the most data an answer to it can carry (a start
  // declaring more is noise). Nothing when no answer came in time or the
  // command could not be sent.
  std::optional<Response> Transact(uint8_t code, const uint8_t* payload, uint16_t length,
                                   size_t maxData = kSmallAnswerData);

  // The two halves of Transact, for a caller with work between them (the
  // progress of a data block) or its own limit. Send forgets any answer held.
  Result<void> Send(uint8_t code, const uint8_t* payload, uint16_t length, size_t maxData = kSmallAnswerData);
  std::optional<Response> Await(uint32_t limitSeconds);

  // Kept across transactions until forgotten, so a caller can tell after an
  // operation failed whether the chip was silent or said no.
  TransactionFailure lastFailure() const { return lastFailure_; }
  void ForgetFailure() { lastFailure_ = TransactionFailure::kNone; }

  // Feeds received bytes, in order, each handled in the receiver's state.
  void Deliver(const uint8_t* data, size_t count);

  // The receiver's transitions, made by the connection procedure.
  void EnterSyncHunt();
  // Waits up to `limitMicros` for the sync pattern while hunting for it; true
  // when the receiver is synced (also at once, when it already is).
  bool AwaitSync(uint32_t limitMicros);
  void EnableFrames();
  void BackToText();
  const HuntObservation& huntObservation() const { return hunt_; }

  // The disconnect command; its acknowledgement (code 0x12) is no answer.
  void SendDisconnect();
  bool AwaitDisconnectAck(uint32_t limitSeconds);

 private:
  void OnByte(uint8_t b);
  void Observe(uint8_t b);
  void OnFrame(const uint8_t* frame, size_t size, bool crcOk) override;
  void ResetReceiver();
  // Pumps and waits until `done` holds, the deadline passes or the port is lost.
  template <class Done>
  bool WaitFor(Done done, uint64_t deadlineMicros);
  std::optional<Response> Answered(bool arrived);

  Host& host_;
  log::Log& log_;
  std::array<uint8_t, kMaxFrame> txBuffer_{};
  ReceiverState state_ = ReceiverState::kText;
  uint8_t syncRun_ = 0;
  HuntObservation hunt_;
  // The UTF-8 sequence under way while hunting: bytes still to come, the
  // range the next one must fall in, and the bytes it holds so far.
  uint8_t utf8Left_ = 0;
  uint8_t utf8Low_ = 0;
  uint8_t utf8High_ = 0;
  uint8_t utf8Held_ = 0;
  bool afterCr_ = false;
  FrameAssembler assembler_;
  FrameAssembler::Rules rules_;
  uint8_t lastSentCode_ = 0;
  bool disconnectAcked_ = false;
  bool responseArrived_ = false;
  Response response_;
  TransactionFailure lastFailure_ = TransactionFailure::kNone;
};

}  // namespace corvel::link
