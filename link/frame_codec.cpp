// Frame building, the receiver state machine and response classification.
#include <cstring>

#include "link/crc16.h"
#include "link/link.h"

namespace corvel::link {

namespace {

uint16_t DeclaredLength(const uint8_t* frame) {
  return static_cast<uint16_t>((frame[2] << 8) | frame[3]);
}

bool IsAcceptedResponseCode(uint8_t code) {
  switch (code) {
    case 0x11: case 0x13: case 0x14: case 0x15: case 0x20: case 0x21: case 0x22:
    case 0x23: case 0x24: case 0x26: case 0x27: case 0x28: case 0x29: case 0x2A:
    case 0x2B: case 0x2C: case 0x2D: case 0x2F: case 0x30: case 0x81: case 0x83:
      return true;
    default:
      return false;
  }
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

size_t BuildFrame(uint8_t code, const uint8_t* payload, size_t length, uint8_t* out) {
  if (length > kMaxPayload) return 0;
  out[0] = kFrameStart;
  out[1] = code;
  out[2] = static_cast<uint8_t>(length >> 8);
  out[3] = static_cast<uint8_t>(length & 0xFF);
  if (length > 0) std::memcpy(out + 4, payload, length);
  const uint16_t crc = Crc16(out + 1, static_cast<uint32_t>(length + 3));
  out[4 + length] = static_cast<uint8_t>(crc >> 8);
  out[5 + length] = static_cast<uint8_t>(crc & 0xFF);
  out[6 + length] = kFrameEnd;
  return length + kFrameOverhead;
}

void AppendHexBytes(std::string& line, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    line.push_back(kHexDigits[bytes[i] >> 4]);
    line.push_back(kHexDigits[bytes[i] & 0x0F]);
    line.push_back(' ');
  }
}

void Link::Echo(const char* prefix, const uint8_t* bytes, size_t count) {
  echoLine_.assign(prefix);
  AppendHexBytes(echoLine_, bytes, count);
  log_.AppendLog(echoLine_);
}

Result<void> Link::SendFrame(uint8_t code, const uint8_t* payload, uint16_t length) {
  const size_t size = BuildFrame(code, payload, length, txBuffer.data());
  if (size == 0) {
    return MakeError(ErrorKind::kBadInput, "命令数据过长: " + std::to_string(length) + " 字节");
  }
  lastSentCode = code;
  const bool queued = host_.QueueWrite(txBuffer.data(), size);
  if (log_.FrameEcho()) Echo("TX: ", txBuffer.data(), size);
  if (!queued) return MakeError(ErrorKind::kIo, "串口写入失败");
  return {};
}

void Link::ResetReceiver() {
  rxBuffer.fill(0);
  rxIndex = 0;
}

bool Link::OnByteReceived(uint8_t b) {
  if (protocolMode != 1) {
    log_.AppendReceivedText(&b, 1);
    return false;
  }
  if (synced == 0) {
    rxBuffer[rxIndex++] = b;
    if (b != kSyncByte) {
      rxIndex = 0;
      return false;
    }
    if (rxIndex >= kSyncCount) {
      synced = 1;
      return true;  // the connection loop must see this before more bytes arrive
    }
    return false;
  }
  if (framesEnabled == 0) return false;  // between sync and handshake: dropped
  return AssembleFramed(b);
}

size_t Link::Deliver(const uint8_t* data, size_t count) {
  if (protocolMode != 1) {
    log_.AppendReceivedText(data, count);
    return count;
  }
  for (size_t i = 0; i < count; ++i) {
    if (OnByteReceived(data[i])) return i + 1;
  }
  return count;
}

bool Link::AssembleFramed(uint8_t b) {
  rxBuffer[rxIndex++] = b;
  if (rxBuffer[0] != kFrameStart) {
    rxIndex = 0;
    return false;
  }
  if (rxIndex >= 4) {
    const size_t total = DeclaredLength(rxBuffer.data()) + kFrameOverhead;
    // A length that cannot fit can never complete; a frame of the right length
    // with a wrong end byte is not one. Either way look for the next start
    // byte among what is stored instead of losing every frame until the wrap.
    if (total > kRxFrameLimit) return Resync();
    if (rxIndex == total) return b == kFrameEnd ? CompleteFrame() : Resync();
  }
  if (rxIndex >= kRxFrameLimit) rxIndex = 0;
  return false;
}

bool Link::Resync() {
  for (;;) {
    const uint8_t* begin = rxBuffer.data() + 1;
    const uint8_t* end = rxBuffer.data() + rxIndex;
    const auto* start = static_cast<const uint8_t*>(std::memchr(begin, kFrameStart, static_cast<size_t>(end - begin)));
    if (start == nullptr) {
      rxIndex = 0;
      return false;
    }
    const auto kept = static_cast<size_t>(end - start);
    std::memmove(rxBuffer.data(), start, kept);
    rxIndex = static_cast<uint16_t>(kept);
    if (rxIndex < 4) return false;
    const size_t total = DeclaredLength(rxBuffer.data()) + kFrameOverhead;
    if (total <= kRxFrameLimit) {
      if (rxIndex < total) return false;  // a frame in progress
      if (rxIndex == total && rxBuffer[rxIndex - 1] == kFrameEnd) return CompleteFrame();
    }
    // This start byte cannot begin a frame either; try the next one.
  }
}

bool Link::CompleteFrame() {
  if (log_.FrameEcho()) Echo("RX: ", rxBuffer.data(), rxIndex);
  CheckResponse();
  return true;
}

void Link::CheckResponse() {
  const uint16_t length = DeclaredLength(rxBuffer.data());
  const uint16_t crc = Crc16(rxBuffer.data() + 1, static_cast<uint32_t>(length) + 3);
  const auto received = static_cast<uint16_t>((rxBuffer[rxIndex - 3] << 8) | rxBuffer[rxIndex - 2]);
  if (crc == received) {
    const uint8_t code = rxBuffer[1];
    if (code == 0x12) {
      disconnectAcked = 1;
    } else if (IsAcceptedResponseCode(code)) {
      // The answer to the 0x81 sent after the handshake is not awaited; if it
      // comes late it must not be taken for the next command's response.
      if (code != 0x81 || lastSentCode == 0x81) {
        responseArrived = 1;
        responseDataLength = length > 0 ? length - 1u : 0u;
      }
    }
  }
  rxIndex = 0;
}

}  // namespace corvel::link
