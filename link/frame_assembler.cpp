#include "link/frame_assembler.h"

#include <cstring>

#include "link/crc16.h"

namespace corvel::link {

uint16_t DeclaredLength(const uint8_t* frame) { return static_cast<uint16_t>((frame[2] << 8) | frame[3]); }

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

void FrameAssembler::Push(uint8_t b, const Rules& rules, FrameSink& sink) {
  // Settle leaves at most a frame in progress, shorter than its declared size,
  // so there is always room for one more byte.
  bytes_[count_++] = b;
  Settle(rules, sink);
}

// Runs the rules over the stored bytes until they are empty or the start of
// a plausible frame still in progress. Usually one pass of a few compares; a
// dropped start costs a search of what is stored.
void FrameAssembler::Settle(const Rules& rules, FrameSink& sink) {
  for (;;) {
    if (count_ == 0) return;
    if (bytes_[0] != kFrameStart) {
      DropStart();
      continue;
    }
    if (count_ < 2) return;
    if (rules.codes != nullptr && !(*rules.codes)[bytes_[1]]) {
      DropStart();
      continue;
    }
    if (count_ < 4) return;
    const size_t length = DeclaredLength(bytes_.data());
    if (length > rules.maxPayload || length > kMaxPayload) {
      DropStart();
      continue;
    }
    const size_t size = length + kFrameOverhead;
    if (count_ < size) return;
    if (bytes_[size - 1] != kFrameEnd) {
      DropStart();
      continue;
    }
    const uint16_t crc = Crc16(bytes_.data() + 1, static_cast<uint32_t>(length + 3));
    const auto received = static_cast<uint16_t>(bytes_[size - 3] << 8 | bytes_[size - 2]);
    const bool crcOk = crc == received;
    sink.OnFrame(bytes_.data(), size, crcOk);
    if (crcOk) {
      Consume(size);
    } else {
      DropStart();
    }
  }
}

// The stored start cannot begin a frame: the next 0x81 among the stored bytes
// may (noise in front of an answer often holds one).
void FrameAssembler::DropStart() {
  const auto* start = static_cast<const uint8_t*>(std::memchr(bytes_.data() + 1, kFrameStart, count_ - 1));
  if (start == nullptr) {
    count_ = 0;
    return;
  }
  Consume(static_cast<size_t>(start - bytes_.data()));
}

void FrameAssembler::Consume(size_t size) {
  count_ -= size;
  if (count_ > 0) std::memmove(bytes_.data(), bytes_.data() + size, count_);
}

}  // namespace corvel::link
