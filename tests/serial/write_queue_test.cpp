#include "serial/write_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvel::serial {
namespace {

using Bytes = std::vector<uint8_t>;

// Drains the queue in steps of `step` bytes, noting where writes start.
Bytes Drain(WriteQueue& queue, size_t step, std::vector<size_t>* starts = nullptr) {
  Bytes out;
  while (!queue.Empty()) {
    if (starts != nullptr && queue.FrontUnstarted()) starts->push_back(out.size());
    const size_t n = std::min(step, queue.FrontRemaining());
    out.insert(out.end(), queue.FrontData(), queue.FrontData() + n);
    queue.Advance(n);
  }
  return out;
}

TEST(WriteQueueTest, KeepsOrderAndWriteBoundariesOverPartialWrites) {
  WriteQueue queue(100);
  const Bytes a{1, 2, 3}, b{4}, c{5, 6, 7, 8, 9};
  ASSERT_TRUE(queue.Push(a.data(), a.size()));
  ASSERT_TRUE(queue.Push(b.data(), b.size()));
  ASSERT_TRUE(queue.Push(c.data(), c.size()));
  std::vector<size_t> starts;
  EXPECT_EQ(Drain(queue, 2, &starts), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(starts, (std::vector<size_t>{0, 3, 4}));
}

TEST(WriteQueueTest, RefusesPastTheLimitAndAcceptsAgainOnceWritten) {
  WriteQueue queue(8);
  const Bytes five(5, 0xAA);
  ASSERT_TRUE(queue.Push(five.data(), five.size()));
  EXPECT_FALSE(queue.Push(five.data(), five.size()));
  queue.Advance(3);
  EXPECT_TRUE(queue.Push(five.data(), 3));
  EXPECT_EQ(queue.Backlog(), 5u);
  EXPECT_TRUE(queue.Push(five.data(), 0));  // nothing to write is not a failure
}

TEST(WriteQueueTest, ReusesItsStorageWhileWritesKeepComing) {
  WriteQueue queue(4096);
  const Bytes frame(300, 0x11);
  ASSERT_TRUE(queue.Push(frame.data(), frame.size()));
  ASSERT_TRUE(queue.Push(frame.data(), frame.size()));
  queue.Advance(100);
  const uint8_t* storage = queue.FrontData() - 100;
  for (int i = 0; i < 1000; ++i) {  // one write out, one in: a steady backlog
    queue.Advance(queue.FrontRemaining());
    ASSERT_TRUE(queue.Push(frame.data(), frame.size()));
  }
  Drain(queue, 4096);
  ASSERT_TRUE(queue.Push(frame.data(), frame.size()));
  EXPECT_EQ(queue.FrontData(), storage);
}

}  // namespace
}  // namespace corvel::serial
