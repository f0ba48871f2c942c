// Frames out of a byte stream, for both ends of the line: the host's receiver
// and the simulated chip assemble with this one component, so they agree byte
// for byte on what a frame is.
//
// A frame is 0x81, a code, a big-endian payload length N, N payload bytes, a
// big-endian CRC-16 over code, length and payload, and 0x18. A start whose code
// the rules refuse, or whose declared length is longer than the rules allow, is
// dropped at once; so is a frame of the declared length whose last byte is not
// 0x18, and a complete frame with a wrong CRC (after it was reported). Assembly
// then resumes at the next 0x81 already stored, and stored bytes that already
// form a complete frame are taken at once. A shorter frame hidden inside a
// longer start that is still plausible is never taken in its place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvel::link {

inline constexpr uint8_t kFrameStart = 0x81;
inline constexpr uint8_t kFrameEnd = 0x18;
inline constexpr size_t kFrameOverhead = 7;  // start, code, length (2), CRC (2), end
inline constexpr size_t kMaxFrame = 1024;
inline constexpr size_t kMaxPayload = kMaxFrame - kFrameOverhead;  // 1017

// Receives every frame of the declared length that ends in 0x18, before it is
// dropped or consumed; the bytes are valid only during the call.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void OnFrame(const uint8_t* frame, size_t size, bool crcOk) = 0;
};

class FrameAssembler {
 public:
  // Which starts may begin a frame. `codes` is indexed by the code byte.
  struct Rules {
    const std::array<bool, 256>* codes = nullptr;  // null: every code
    size_t maxPayload = kMaxPayload;
  };

  // Stores one byte and reports, through `sink`, every frame it completes.
  void Push(uint8_t b, const Rules& rules, FrameSink& sink);

  // Forgets the bytes stored so far.
  void Reset() { count_ = 0; }

  // True while no byte of a frame is stored.
  bool Idle() const { return count_ == 0; }

 private:
  void Settle(const Rules& rules, FrameSink& sink);
  void DropStart();
  void Consume(size_t size);

  std::array<uint8_t, kMaxFrame> bytes_{};
  size_t count_ = 0;
};

uint16_t DeclaredLength(const uint8_t* frame);

// Builds a complete frame into `out` (at least length + 7 bytes). Returns the
// frame size, or 0 when the payload is longer than a frame can carry.
size_t BuildFrame(uint8_t code, const uint8_t* payload, size_t length, uint8_t* out);

}  // namespace corvel::link
