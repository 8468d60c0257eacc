// Decodes arbitrary bytes as a JC block with both decoders into destinations of exactly
// the announced size (so AddressSanitizer sees any write beyond it) and requires the same
// result and the same destination bytes from both.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "jc/jc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t announced = jc_unpacked_size(data, size);
  if (announced > kFuzzMaxOutput) return 0;
  // The block in a buffer of its own size, so a read beyond it is caught.
  std::vector<uint8_t> block(data, data + size);
  std::vector<uint8_t> fast(announced, 0xA5), compact(announced, 0xA5);
  const JcResult a = jc_decode_checked(block.data(), size, fast.data(), fast.size());
  const JcResult b = jc_decode_compact_checked(block.data(), size, compact.data(), compact.size());
  if (a.status != b.status || a.written != b.written || a.consumed != b.consumed ||
      fast != compact) {
    std::abort();
  }
  if (a.status == JcStatus::ok && (a.written != announced || a.consumed > size)) std::abort();
  return 0;
}
