#include "platform/thread.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kRingSlots = 2;
constexpr uint32_t kItems = 5000;
constexpr uint32_t kWordsPerItem = 16;

struct HandOff {
  PlatformSemaphore free;  // slots the producer may fill
  PlatformSemaphore full;  // slots the consumer may empty
  uint32_t ring[kRingSlots][kWordsPerItem];
};

void produce(void* argument) {
  auto* hand_off = static_cast<HandOff*>(argument);
  for (uint32_t item = 0; item < kItems; ++item) {
    platform_semaphore_wait(hand_off->free);
    for (uint32_t w = 0; w < kWordsPerItem; ++w)
      hand_off->ring[item % kRingSlots][w] = item * kWordsPerItem + w;
    platform_semaphore_post(hand_off->full);
  }
}

struct Worker {
  void* seen;
  uint64_t sum;
};

void work(void* argument) {
  auto* worker = static_cast<Worker*>(argument);
  uint64_t sum = 0;
  for (uint32_t i = 0; i < 1000000; ++i) sum += i ^ (sum >> 3);  // long enough to be joined
  worker->sum = sum;
  worker->seen = argument;  // last, so that a join that does not wait finds it unset
}

}  // namespace

TEST(Thread, HandsEveryItemOverInOrderThroughARingOfTwo) {
  HandOff hand_off{};
  hand_off.free = platform_semaphore_make(kRingSlots);
  hand_off.full = platform_semaphore_make(0);
  ASSERT_NE(hand_off.free, nullptr);
  ASSERT_NE(hand_off.full, nullptr);
  PlatformThread producer = platform_thread_start(produce, &hand_off);
  ASSERT_NE(producer, nullptr);
  uint32_t wrong = 0;
  for (uint32_t item = 0; item < kItems; ++item) {
    platform_semaphore_wait(hand_off.full);
    for (uint32_t w = 0; w < kWordsPerItem; ++w)
      wrong += hand_off.ring[item % kRingSlots][w] != item * kWordsPerItem + w;
    platform_semaphore_post(hand_off.free);
  }
  platform_thread_join(producer);
  EXPECT_EQ(wrong, 0u);
  // Every slot was handed back: the count of free slots is whole again.
  for (uint32_t slot = 0; slot < kRingSlots; ++slot) platform_semaphore_wait(hand_off.free);
  platform_semaphore_free(hand_off.free);
  platform_semaphore_free(hand_off.full);
}

TEST(Thread, EachThreadSeesItsArgumentAndJoinWaitsForItsEnd) {
  Worker workers[3]{};
  PlatformThread threads[3];
  for (int i = 0; i < 3; ++i) {
    threads[i] = platform_thread_start(work, &workers[i]);
    ASSERT_NE(threads[i], nullptr);
  }
  for (int i = 0; i < 3; ++i) {
    platform_thread_join(threads[i]);
    EXPECT_EQ(workers[i].seen, &workers[i]);
  }
}
