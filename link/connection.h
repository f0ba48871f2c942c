// Waking the boot loader and logging in: the reset pulse, the wake-up bursts
// until the sync pattern, the password handshake, the stop and the disconnect.
#pragma once

#include <cstdint>
#include <functional>

#include "link/link.h"

namespace corvel::link {

inline constexpr uint8_t kNotConnected = 0x10;
inline constexpr uint8_t kRateClassUnknown = 0xFF;
inline constexpr uint8_t kHandshakeAccepted = 0x20;
inline constexpr uint8_t kHandshakeAcceptedAlt = 0x30;

// The stages the connect button's caption shows: "连接" (idle), "停止连接"
// (bursting), "断开" (handshaking or connected).
enum class ConnectionStage { kIdle, kBursting, kHandshaking, kConnected };

class Connection {
 public:
  explicit Connection(Link& link) : link_(link) {}

  // Called at each stage change; the window sets the caption and enables or
  // disables the chip operation buttons from it.
  std::function<void(ConnectionStage)> onStageChanged;

  // A whole connection attempt: returns once connected, refused or stopped.
  // `portBaudRate` is the rate the port was opened at (it records the rate
  // class). `syncTimeoutMicros` 0 bursts until stopped; otherwise the attempt
  // is stopped as the stop button stops it when no sync pattern came in time.
  void StartAttempt(uint32_t password, uint32_t portBaudRate, uint64_t syncTimeoutMicros = 0);
  void StopAttempt();
  void Disconnect();

  ConnectionStage stage() const { return stage_; }
  bool IsConnected() const { return connectionState_ != kNotConnected; }
  // The accepted handshake's status, or kNotConnected.
  uint8_t connectionState() const { return connectionState_; }
  // 0 after a handshake at 115200, 1 at 230400 (the chip then runs its UART
  // at twice a rate it is asked to switch to); other rates leave it as it was.
  uint8_t rateClass() const { return rateClass_; }

 private:
  void Handshake(uint32_t password, uint32_t portBaudRate);
  void SetStage(ConnectionStage stage);
  void BackToText();

  Link& link_;
  ConnectionStage stage_ = ConnectionStage::kIdle;
  uint8_t connectionState_ = kNotConnected;
  bool connecting_ = false;
  uint8_t rateClass_ = kRateClassUnknown;
};

}  // namespace corvel::link
