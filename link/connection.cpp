#include "link/connection.h"

#include <array>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "base/bytes.h"

#include "link/command_codes.h"
#include "text/translation.h"

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

// Why an attempt found no sync pattern, told by what arrived meanwhile.
enum class HuntDiagnosis { kSilence, kConsoleText, kOwnBursts, kOtherRate, kCount };

// Every hint an attempt that fails can give, each naming the rate or the
// password it is about. The first four follow HuntDiagnosis.
constexpr const char* kHuntHints[] = {
    "波特率%u下未收到芯片的任何数据，请检查TX/RX是否交叉连接、GND、供电和复位线",
    "波特率%u下收到芯片的文本输出，芯片可能正在运行应用程序: 请复位芯片，或检查RTS是否接到芯片的复位脚",
    "波特率%u下只收到本机发出的唤醒数据，TX与RX可能连在了一起",
    "波特率%u下收到无法识别的数据，芯片可能使用其他波特率，或线路上有干扰",
};
static_assert(std::size(kHuntHints) == static_cast<size_t>(HuntDiagnosis::kCount));
constexpr const char* kPasswordRefusedHint = "芯片拒绝了握手密码%08X，请检查密码";
constexpr const char* kHandshakeUnansweredHint =
    "波特率%u下芯片已同步但未回应握手，可能其后改用了其他波特率，或线路上有干扰";

// Fewer bytes than this are strays (plugging in, a reset glitch): silence.
constexpr uint64_t kStrayBytes = 8;

// Bytes read at the wrong rate are printable by chance about one time in
// three (a little over half at the worst ratios) and end a line about one time
// in a hundred, so text needs four bytes in five text-like and at least one
// line break. Nine bytes in ten of our own burst mean TX is joined to RX.
HuntDiagnosis Diagnose(const HuntObservation& seen) {
  if (seen.bytes < kStrayBytes) return HuntDiagnosis::kSilence;
  if (seen.ownBurstBytes * 10 >= seen.bytes * 9) return HuntDiagnosis::kOwnBursts;
  if (seen.textBytes * 5 >= seen.bytes * 4 && seen.lineBreaks > 0) return HuntDiagnosis::kConsoleText;
  return HuntDiagnosis::kOtherRate;
}

std::string Formatted(const char* format, uint32_t value) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, Tr(format), value);
  return buffer;
}

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
  link_.log().AppendLog(Tr("正在连接芯片,请执行复位....."));
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
  if (!synced) {
    // A lost port is told by the front ends; what did arrive says nothing.
    if (!host.PortLost()) {
      const auto diagnosis = static_cast<size_t>(Diagnose(link_.huntObservation()));
      link_.log().AppendHint(Formatted(kHuntHints[diagnosis], portBaudRate));
    }
    return;
  }
  // A stop clicked while the pattern arrived has already gone back to text.
  if (!connecting_) return;

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
    link_.log().AppendLog(Tr("芯片连接成功!"));
    SetStage(ConnectionStage::kConnected);
    const uint8_t zero = 0;
    (void)link_.Send(cmd::kAfterHandshake, &zero, 1);
    return;
  }

  connectionState_ = kNotConnected;
  link_.log().AppendLog(Tr("芯片连接失败!"));
  link_.log().AppendHint(answer ? Formatted(kPasswordRefusedHint, password)
                                : Formatted(kHandshakeUnansweredHint, portBaudRate));
  link_.SendDisconnect();
  link_.AwaitDisconnectAck(kDisconnectTimeoutSeconds);
  BackToText();
}

void Connection::Disconnect() {
  connecting_ = false;
  link_.log().AppendLog(Tr("芯片断开连接!"));
  connectionState_ = kNotConnected;
  // Text mode first, so the boot loader's answer arrives as console text.
  link_.BackToText();
  link_.SendDisconnect();
  BackToText();
}

void Connection::StopAttempt() {
  connecting_ = false;
  link_.log().AppendLog(Tr("停止连接芯片!"));
  BackToText();
}

void Connection::BackToText() {
  link_.BackToText();
  SetStage(ConnectionStage::kIdle);
  link_.log().ResumeFlush();
}

}  // namespace corvel::link
