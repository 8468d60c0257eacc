// The speed variant of the JC decoder: a block into a destination of its own. The decoder
// itself is in jc_decode_fast.h, shared with the in-place entry point.
#include "jc/jc.h"
#include "jc/jc_decode_fast.h"

JcResult jc_decode_checked(const uint8_t* block, size_t block_size, uint8_t* dest,
                           size_t dest_capacity) {
  jc_gamma_table_prepare();
  JcBlock header;
  JcStatus status = jc_decode_prepare(block, block_size, dest_capacity, &header);
  if (status != JcStatus::ok) return {status, 0, 0};
  FastState s{
      block + kJcHeaderSize, block + block_size, 0, 0, dest, dest, dest + header.unpacked_size,
      kJcStartLastOffset,    kJcStartIndexShift, 0, 0};
  if (run_tokens<false>(s) == JcStep::fail) return {JcStatus::corrupt_stream, 0, 0};
  return jc_decode_finish(header, dest, size_t(s.out - dest), consumed_bytes(s, block));
}

uint32_t jc_decode(const uint8_t* block, size_t block_size, uint8_t* dest, size_t dest_capacity) {
  return jc_decode_checked(block, block_size, dest, dest_capacity).written;
}
