// The writes waiting for the device, in order, each kept whole so the driver
// knows where one ends (the input is purged before each one starts). Storage
// is reused; it grows only when a backlog outgrows it, never per write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvel::serial {

class WriteQueue {
 public:
  // `limit` bounds the bytes waiting in total.
  explicit WriteQueue(size_t limit = 0) : limit_(limit) {}

  void Reset(size_t limit);
  // False when the bytes would take the backlog past the limit.
  bool Push(const uint8_t* data, size_t length);
  bool Empty() const { return lengthHead_ == lengths_.size(); }
  // The unwritten rest of the first write.
  const uint8_t* FrontData() const { return bytes_.data() + head_; }
  size_t FrontRemaining() const { return lengths_[lengthHead_] - frontDone_; }
  // True until some of the first write has gone out.
  bool FrontUnstarted() const { return frontDone_ == 0; }
  // Marks `count` bytes of the first write as written (at most FrontRemaining()).
  void Advance(size_t count);
  size_t Backlog() const { return bytes_.size() - head_; }

 private:
  size_t limit_;
  std::vector<uint8_t> bytes_;   // the writes back to back; [head_, end) unwritten
  size_t head_ = 0;
  std::vector<size_t> lengths_;  // one per write; [lengthHead_, end) waiting
  size_t lengthHead_ = 0;
  size_t frontDone_ = 0;         // bytes of the first write already written
};

}  // namespace corvel::serial
