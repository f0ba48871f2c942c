// Sending, the receiver and the waits. Every wait blocks in the host until an
// event or its deadline, so waiting costs no CPU and an answer is seen the
// moment its last byte is handled.
#include "link/link.h"

#include <algorithm>

#include "base/utf8.h"
#include "link/command_codes.h"
#include "text/translation.h"

namespace corvel::link {

namespace {

constexpr uint64_t kMicrosPerSecond = 1000000;

using CodeSet = std::array<bool, 256>;

constexpr CodeSet MakeCodeSet(bool withFrameOnlyCodes) {
  CodeSet codes{};
  for (uint8_t code : cmd::kAnswerCodes) codes[code] = true;
  if (withFrameOnlyCodes) {
    codes[cmd::kDisconnect] = true;
    for (uint8_t code : cmd::kIgnoredAnswerCodes) codes[code] = true;
  }
  return codes;
}

// The codes that end a wait for an answer, whatever command was sent.
constexpr CodeSet kAnswerCodes = MakeCodeSet(false);
// The codes an answer's frame can carry: those, the disconnect's
// acknowledgement, and two the boot loader may send that end nothing. A start
// with any other code is noise.
constexpr CodeSet kFrameCodes = MakeCodeSet(true);

// Whole seconds: a limit of N ends when the seconds counter has moved on by N
// since `startMicros`, so N-1 to N seconds after it.
uint64_t SecondsDeadline(uint64_t startMicros, uint32_t limitSeconds) {
  return (startMicros / kMicrosPerSecond + limitSeconds) * kMicrosPerSecond;
}

}  // namespace

Link::Link(Host& host, log::Log& log) : host_(host), log_(log) { rules_.codes = &kFrameCodes; }

Result<void> Link::Send(uint8_t code, const uint8_t* payload, uint16_t length, size_t maxData) {
  responseArrived_ = false;
  rules_.maxPayload = maxData + 1;
  const size_t size = BuildFrame(code, payload, length, txBuffer_.data());
  if (size == 0) {
    return MakeError(ErrorKind::kBadInput, Tr("命令数据过长: ") + std::to_string(length) + Tr(" 字节"));
  }
  lastSentCode_ = code;
  const bool queued = host_.QueueWrite(txBuffer_.data(), size);
  log_.EchoFrame("TX: ", txBuffer_.data(), size);
  if (!queued) return MakeError(ErrorKind::kIo, Tr("串口写入失败"));
  return {};
}

std::optional<Response> Link::Transact(uint8_t code, const uint8_t* payload, uint16_t length, size_t maxData) {
  const uint64_t start = host_.NowMicros();
  if (!Send(code, payload, length, maxData)) return Answered(false);
  return Answered(WaitFor([this] { return responseArrived_; }, SecondsDeadline(start, kCommandTimeoutSeconds)));
}

std::optional<Response> Link::Await(uint32_t limitSeconds) {
  return Answered(WaitFor([this] { return responseArrived_; }, SecondsDeadline(host_.NowMicros(), limitSeconds)));
}

std::optional<Response> Link::Answered(bool arrived) {
  if (!arrived) {
    lastFailure_ = TransactionFailure::kNoAnswer;
    return std::nullopt;
  }
  if (!response_.Ok()) lastFailure_ = TransactionFailure::kStatus;
  return response_;
}

template <class Done>
bool Link::WaitFor(Done done, uint64_t deadlineMicros) {
  for (;;) {
    if (done()) return true;
    if (host_.NowMicros() >= deadlineMicros || host_.PortLost()) return false;
    host_.PumpMessages();
    if (done()) return true;
    host_.WaitUntil(deadlineMicros);
  }
}

bool Link::AwaitSync(uint32_t limitMicros) {
  // The burst repeats on a 32-bit microsecond timer whose differences stay
  // right across its wrap.
  const auto start = static_cast<uint32_t>(host_.NowMicros());
  const uint64_t deadline = host_.NowMicros() + limitMicros;
  const auto synced = [this] { return state_ == ReceiverState::kSynced || state_ == ReceiverState::kFramed; };
  for (;;) {
    if (state_ != ReceiverState::kSyncHunt) return synced();
    if (static_cast<uint32_t>(static_cast<uint32_t>(host_.NowMicros()) - start) >= limitMicros || host_.PortLost()) {
      return false;
    }
    host_.PumpMessages();
    if (state_ != ReceiverState::kSyncHunt) return synced();
    host_.WaitUntil(deadline);
  }
}

void Link::SendDisconnect() {
  disconnectAcked_ = false;
  const uint8_t zero = 0;
  (void)Send(cmd::kDisconnect, &zero, 1);
}

bool Link::AwaitDisconnectAck(uint32_t limitSeconds) {
  return WaitFor([this] { return disconnectAcked_; }, SecondsDeadline(host_.NowMicros(), limitSeconds));
}

void Link::ResetReceiver() {
  syncRun_ = 0;
  assembler_.Reset();
}

void Link::EnterSyncHunt() {
  ResetReceiver();
  hunt_ = {};
  utf8Left_ = 0;
  utf8Held_ = 0;
  afterCr_ = false;
  state_ = ReceiverState::kSyncHunt;
}

void Link::EnableFrames() {
  ResetReceiver();
  state_ = ReceiverState::kFramed;
}

void Link::BackToText() {
  ResetReceiver();
  state_ = ReceiverState::kText;
}

void Link::Deliver(const uint8_t* data, size_t count) {
  if (state_ == ReceiverState::kText) {
    log_.AppendReceivedText(data, count);
    return;
  }
  for (size_t i = 0; i < count; ++i) OnByte(data[i]);
}

void Link::OnByte(uint8_t b) {
  switch (state_) {
    case ReceiverState::kText:
      log_.AppendReceivedText(&b, 1);
      return;
    case ReceiverState::kSyncHunt:
      Observe(b);
      syncRun_ = b == kSyncByte ? static_cast<uint8_t>(syncRun_ + 1) : 0;
      if (syncRun_ >= kSyncCount) state_ = ReceiverState::kSynced;
      return;
    case ReceiverState::kSynced:
      return;  // the pause between the sync pattern and the handshake
    case ReceiverState::kFramed:
      assembler_.Push(b, rules_, *this);
      return;
  }
}

void Link::Observe(uint8_t b) {
  ++hunt_.bytes;
  if (b == 0xFF || b == 0xAA) ++hunt_.ownBurstBytes;
  if (utf8Left_ > 0) {
    if (b >= utf8Low_ && b <= utf8High_) {
      ++utf8Held_;
      utf8Low_ = 0x80;
      utf8High_ = 0xBF;
      if (--utf8Left_ == 0) {
        hunt_.textBytes += utf8Held_;
        utf8Held_ = 0;
      }
      return;
    }
    // A sequence cut short was noise; this byte may start something new.
    utf8Left_ = 0;
    utf8Held_ = 0;
  }
  if (b == '\r' || (b == '\n' && !afterCr_)) ++hunt_.lineBreaks;
  afterCr_ = b == '\r';
  if ((b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t') {
    ++hunt_.textBytes;
    return;
  }
  const Utf8Lead lead = Utf8LeadOf(b);
  if (lead.follow == 0) return;
  utf8Left_ = lead.follow;
  utf8Low_ = lead.low;
  utf8High_ = lead.high;
  utf8Held_ = 1;
}

void Link::OnFrame(const uint8_t* frame, size_t size, bool crcOk) {
  log_.EchoFrame("RX: ", frame, size);
  if (!crcOk) return;
  const uint8_t code = frame[1];
  if (code == cmd::kDisconnect) {
    disconnectAcked_ = true;
    return;
  }
  if (!kAnswerCodes[code]) return;
  // The answer to the 0x81 sent after the handshake is not awaited; if it
  // comes late it must not be taken for the next command's answer.
  if (code == cmd::kAfterHandshake && lastSentCode_ != cmd::kAfterHandshake) return;
  // The first answer is the one the caller reads: later bytes never replace it.
  if (responseArrived_) return;
  const uint16_t length = DeclaredLength(frame);
  response_.code = code;
  // An empty payload carries no status: read it as no answer's status would be.
  response_.status = length > 0 ? frame[4] : kNoResponse;
  response_.length = length > 0 ? static_cast<uint16_t>(length - 1) : 0;
  std::copy_n(frame + 5, response_.length, response_.data.begin());
  responseArrived_ = true;
}

}  // namespace corvel::link
