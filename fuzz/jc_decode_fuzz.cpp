// Decodes arbitrary bytes as a JC block with both decoders into destinations of exactly
// the announced size (so AddressSanitizer sees any write beyond it) and requires the same
// result and the same destination bytes from both. The block is then decoded in place, in
// the tail of a buffer of exactly the recommended capacity and of one barely larger than
// the block and its output: whenever that succeeds, its result and bytes must be those of
// the separate decoding, and a block that fails separately must fail in place too.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_buffer.h"
#include "fuzz/fuzz_limits.h"
#include "jc/jc.h"

namespace {

/// Bytes beyond the larger of the two sizes in the tight buffer.
constexpr size_t kTightExtra = 3;

/// The destinations, kept across inputs (see fuzz_buffer.h).
FuzzBuffer fast_buffer, compact_buffer, in_place_buffer;

void check_in_place(const uint8_t* data, size_t size, size_t capacity, const JcResult& separate,
                    const uint8_t* bytes) {
  if (capacity > kFuzzBufferCapacity) return;  // a block beyond what the harness holds
  uint8_t* buffer = fuzz_destination(in_place_buffer, capacity, 0x5A);
  std::memcpy(buffer + capacity - size, data, size);
  const JcResult r = jc_decode_in_place(buffer, capacity, size);
  if (r.status == JcStatus::ok) {
    if (separate.status != JcStatus::ok || r.written != separate.written ||
        r.consumed != separate.consumed ||
        (r.written != 0 && std::memcmp(buffer, bytes, r.written) != 0)) {
      std::abort();
    }
  } else if (r.written != 0 ||
             (r.status != JcStatus::in_place_overlap && r.status != separate.status)) {
    // Both buffers hold the block and its output, so a failure other than the overlap is
    // the one the separate decoding reports.
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t announced = jc_unpacked_size(data, size);
  if (announced > kFuzzMaxOutput) return 0;
  // The block in a buffer of its own size, so a read beyond it is caught.
  std::vector<uint8_t> block(data, data + size);
  uint8_t* fast = fuzz_destination(fast_buffer, announced, 0xA5);
  uint8_t* compact = fuzz_destination(compact_buffer, announced, 0xA5);
  const JcResult a = jc_decode_checked(block.data(), size, fast, announced);
  const JcResult b = jc_decode_compact_checked(block.data(), size, compact, announced);
  if (a.status != b.status || a.written != b.written || a.consumed != b.consumed ||
      std::memcmp(fast, compact, announced) != 0) {
    std::abort();
  }
  if (a.status == JcStatus::ok && (a.written != announced || a.consumed > size)) std::abort();
  if (size < kJcHeaderSize) return 0;
  check_in_place(data, size, jc_in_place_capacity(announced, size), a, fast);
  check_in_place(data, size, std::max<size_t>(announced, size) + kTightExtra, a, fast);
  return 0;
}
