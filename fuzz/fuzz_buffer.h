// A destination block kept across a fuzz target's inputs. A target that allocated a fresh
// block of up to kFuzzMaxOutput bytes per input spent most of its time in the kernel,
// mapping, faulting in and unmapping it; one block allocated once puts that time into the
// code under test.
//
// Each destination still has exactly the size asked for as far as AddressSanitizer sees:
// every other byte of the block is poisoned. AddressSanitizer tells the bytes of memory
// apart in granules of 8, which it can mark open up to a byte but not from a byte on; so a
// destination starts on a granule, at the last one from which it fits, and the few bytes
// after it are poisoned up to the end of the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_limits.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

/// Bytes of a block: a destination of kFuzzMaxOutput bytes and, for decoding in place,
/// room for a block as large again beside it.
inline constexpr size_t kFuzzBufferCapacity = 2 * kFuzzMaxOutput;

/// AddressSanitizer's granule.
inline constexpr size_t kFuzzGranule = 8;

/// One block of `capacity` bytes and the destination currently handed out near its end.
struct FuzzBuffer {
  uint8_t* block = nullptr;
  size_t capacity = 0;
  size_t handed_out = 0;  ///< bytes from the destination's start to the block's end
};

/// A destination of exactly `size` bytes (at most kFuzzBufferCapacity), each set to `fill`,
/// near the end of `buffer`'s block; the destination handed out before is poisoned again.
inline uint8_t* fuzz_destination(FuzzBuffer& buffer, size_t size, uint8_t fill) {
  if (buffer.block == nullptr) {
    buffer.capacity = kFuzzBufferCapacity;
    buffer.block = static_cast<uint8_t*>(std::malloc(buffer.capacity));
    if (buffer.block == nullptr) std::abort();
    ASAN_POISON_MEMORY_REGION(buffer.block, buffer.capacity);
  }
  if (size > buffer.capacity) std::abort();
  uint8_t* end = buffer.block + buffer.capacity;
  ASAN_POISON_MEMORY_REGION(end - buffer.handed_out, buffer.handed_out);
  buffer.handed_out = (size + kFuzzGranule - 1) / kFuzzGranule * kFuzzGranule;
  uint8_t* destination = end - buffer.handed_out;
  ASAN_UNPOISON_MEMORY_REGION(destination, size);
  std::memset(destination, fill, size);
  return destination;
}
