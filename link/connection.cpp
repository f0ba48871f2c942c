#include "link/connection.h"

#include <array>

#include "link/command_codes.h"

namespace corvel::link {

namespace {

constexpr uint64_t kResetPulseMicros = 40000;
constexpr uint64_t kSettleMicros = 100000;

// 128 bytes of 0xFF then 20 of 0xAA: raw line data, not a frame.
constexpr std::array<uint8_t, 148> MakeSyncBurst() {
  std::array<uint8_t, 148> burst{};
  for (size_t i = 0; i < burst.size(); ++i) burst[i] = i < 128 ? 0xFF : 0xAA;
  return burst;
}
constexpr std::array<uint8_t, 148> kSyncBurst = MakeSyncBurst();

}  // namespace

void Connection::SetStage(ConnectionStage stage) {
  stage_ = stage;
  if (onStageChanged) onStageChanged(stage);
}

void Connection::StartAttempt(uint32_t password, uint32_t portBaudRate, uint64_t syncTimeoutMicros) {
  Host& host = link_.host();
  link_.log().PauseFlush();
  connecting = 1;
  link_.log().ClearLog();
  link_.log().AppendLog("正在连接芯片,请执行复位.....");
  link_.protocolMode = 1;
  SetStage(ConnectionStage::kBursting);
  link_.ResetReceiver();
  link_.synced = 0;
  link_.framesEnabled = 0;

  host.SetRts(true);
  host.SleepMicros(kResetPulseMicros);
  host.SetRts(false);

  const uint64_t started = host.NowMicros();
  while (connecting == 1) {
    host.QueueBurst(kSyncBurst.data(), kSyncBurst.size());
    link_.WaitForFlagMicros(link_.synced, kSyncBurstMicros);
    if (link_.synced == 1) break;
    if (host.PortLost()) {
      StopAttempt();
      break;
    }
    if (syncTimeoutMicros != 0 && connecting == 1 && host.NowMicros() - started >= syncTimeoutMicros) {
      StopAttempt();
    }
  }
  if (link_.synced == 0) return;  // stopped: the stop has restored everything

  SetStage(ConnectionStage::kHandshaking);
  host.SleepMicros(kSettleMicros);
  link_.ResetReceiver();
  link_.framesEnabled = 1;
  Handshake(password, portBaudRate);
}

void Connection::Handshake(uint32_t password, uint32_t portBaudRate) {
  link_.responseArrived = 0;
  const uint8_t payload[4] = {static_cast<uint8_t>(password), static_cast<uint8_t>(password >> 8),
                              static_cast<uint8_t>(password >> 16), static_cast<uint8_t>(password >> 24)};
  (void)link_.SendFrame(cmd::kHandshake, payload, sizeof payload);
  link_.WaitForFlag(link_.responseArrived, kHandshakeTimeoutSeconds);

  const uint8_t status = link_.StatusByte();
  if (link_.responseArrived == 1 && (status == kHandshakeAccepted || status == kHandshakeAcceptedAlt)) {
    if (portBaudRate == 115200) rateClass = 0;
    if (portBaudRate == 230400) rateClass = 1;
    connectionState = status;
    link_.log().AppendLog("芯片连接成功!");
    SetStage(ConnectionStage::kConnected);
    const uint8_t zero = 0;
    (void)link_.SendFrame(cmd::kAfterHandshake, &zero, 1);
    return;
  }

  connectionState = kNotConnected;
  link_.log().AppendLog("芯片连接失败!");
  link_.disconnectAcked = 0;
  const uint8_t zero = 0;
  (void)link_.SendFrame(cmd::kDisconnect, &zero, 1);
  link_.WaitForFlag(link_.disconnectAcked, kDisconnectTimeoutSeconds);
  link_.rxIndex = 0;
  link_.synced = 0;
  link_.protocolMode = 0;
  link_.rxBuffer.fill(0);
  link_.framesEnabled = 0;
  SetStage(ConnectionStage::kIdle);
  link_.log().ResumeFlush();
}

void Connection::Disconnect() {
  connecting = 0;
  link_.log().AppendLog("芯片断开连接!");
  link_.protocolMode = 0;
  link_.disconnectAcked = 0;
  connectionState = kNotConnected;
  // Text mode is already on, so the boot loader's answer arrives as console text.
  const uint8_t zero = 0;
  (void)link_.SendFrame(cmd::kDisconnect, &zero, 1);
  BackToText();
}

void Connection::StopAttempt() {
  connecting = 0;
  link_.log().AppendLog("停止连接芯片!");
  link_.disconnectAcked = 0;
  link_.protocolMode = 0;
  BackToText();
}

void Connection::BackToText() {
  link_.rxIndex = 0;
  link_.synced = 0;
  link_.framesEnabled = 0;
  link_.rxBuffer.fill(0);
  SetStage(ConnectionStage::kIdle);
  link_.log().ResumeFlush();
}

}  // namespace corvel::link
