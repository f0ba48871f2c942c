#include "serial/write_queue.h"

#include <algorithm>
#include <cstring>

namespace corvel::serial {

void WriteQueue::Reset(size_t limit) {
  limit_ = limit;
  bytes_.clear();
  lengths_.clear();
  head_ = 0;
  lengthHead_ = 0;
  frontDone_ = 0;
}

bool WriteQueue::Push(const uint8_t* data, size_t length) {
  if (length == 0) return true;
  if (length > limit_ || Backlog() > limit_ - length) return false;
  // Drop what was written before growing, so a steady flow of writes reuses
  // the same storage.
  if (head_ > 0 && bytes_.size() + length > bytes_.capacity()) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
    lengths_.erase(lengths_.begin(), lengths_.begin() + static_cast<std::ptrdiff_t>(lengthHead_));
    lengthHead_ = 0;
  }
  bytes_.insert(bytes_.end(), data, data + length);
  lengths_.push_back(length);
  return true;
}

void WriteQueue::Advance(size_t count) {
  count = std::min(count, FrontRemaining());
  head_ += count;
  frontDone_ += count;
  if (frontDone_ == lengths_[lengthHead_]) {
    ++lengthHead_;
    frontDone_ = 0;
    if (Empty()) {
      bytes_.clear();
      lengths_.clear();
      head_ = 0;
      lengthHead_ = 0;
    }
  }
}

}  // namespace corvel::serial
