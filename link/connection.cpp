#include "link/connection.h"

#include <array>
#include <optional>

#include "base/bytes.h"

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
  connecting_ = true;
  link_.log().ClearLog();
  link_.log().AppendLog("正在连接芯片,请执行复位.....");
  link_.EnterSyncHunt();
  SetStage(ConnectionStage::kBursting);

  host.SetRts(true);
  host.SleepMicros(kResetPulseMicros);
  host.SetRts(false);

  const uint64_t started = host.NowMicros();
  bool synced = false;
  while (connecting_) {
    host.QueueBurst(kSyncBurst.data(), kSyncBurst.size());
    synced = link_.AwaitSync(kSyncBurstMicros);
    if (synced) break;
    if (host.PortLost()) {
      StopAttempt();
      break;
    }
    if (syncTimeoutMicros != 0 && connecting_ && host.NowMicros() - started >= syncTimeoutMicros) {
      StopAttempt();
    }
  }
  // A stop clicked while the pattern arrived has already gone back to text.
  if (!synced || !connecting_) return;

  SetStage(ConnectionStage::kHandshaking);
  host.SleepMicros(kSettleMicros);
  link_.EnableFrames();
  Handshake(password, portBaudRate);
}

void Connection::Handshake(uint32_t password, uint32_t portBaudRate) {
  uint8_t payload[4];
  WriteLe32(payload, password);
  (void)link_.Send(cmd::kHandshake, payload, sizeof payload);
  const std::optional<Response> answer = link_.Await(kHandshakeTimeoutSeconds);

  if (answer && (answer->status == kHandshakeAccepted || answer->status == kHandshakeAcceptedAlt)) {
    if (portBaudRate == 115200) rateClass_ = 0;
    if (portBaudRate == 230400) rateClass_ = 1;
    connectionState_ = answer->status;
    link_.log().AppendLog("芯片连接成功!");
    SetStage(ConnectionStage::kConnected);
    const uint8_t zero = 0;
    (void)link_.Send(cmd::kAfterHandshake, &zero, 1);
    return;
  }

  connectionState_ = kNotConnected;
  link_.log().AppendLog("芯片连接失败!");
  link_.SendDisconnect();
  link_.AwaitDisconnectAck(kDisconnectTimeoutSeconds);
  BackToText();
}

void Connection::Disconnect() {
  connecting_ = false;
  link_.log().AppendLog("芯片断开连接!");
  connectionState_ = kNotConnected;
  // Text mode first, so the boot loader's answer arrives as console text.
  link_.BackToText();
  link_.SendDisconnect();
  BackToText();
}

void Connection::StopAttempt() {
  connecting_ = false;
  link_.log().AppendLog("停止连接芯片!");
  BackToText();
}

void Connection::BackToText() {
  link_.BackToText();
  SetStage(ConnectionStage::kIdle);
  link_.log().ResumeFlush();
}

}  // namespace corvel::link
