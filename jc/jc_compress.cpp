// The library's buffer interface to the encoder: sizes in, a status out, no exceptions.
//
// Any input has a plain form: its whole 256-byte chunks as one raw run and the rest as 8-bit
// literals. The bound is the size of that form, and a block the encoder makes larger than it
// (which incompressible input can cause) is replaced by it, so the bound always holds.
#include <cstring>
#include <new>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_bit_writer.h"
#include "jc/jc_decode_internal.h"
#include "jc/jc_encode.h"

namespace {

constexpr uint64_t kLiteralSizeBits = 9;  ///< a change to 8-bit literals
constexpr uint64_t kRawRunStartBits = 8;
constexpr uint64_t kRawChunkBits = kJcRawChunk * 8 + 1;
constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kEndMarkerBits = 12;

/// Bytes of the plain form of `size` bytes.
uint64_t plain_form_size(uint64_t size) {
  const uint64_t chunks = size / kJcRawChunk;
  const uint64_t rest = size % kJcRawChunk;
  uint64_t bits = kEndMarkerBits;
  if (chunks > 0) bits += kRawRunStartBits + chunks * kRawChunkBits;
  if (rest > 0) bits += kLiteralSizeBits + rest * kLiteralBits;
  return kJcHeaderSize + (bits + 31) / 32 * kJcWordSize;
}

/// The plain form of `size` bytes (at least 1), header included.
std::vector<uint8_t> plain_form(const uint8_t* data, size_t size) {
  std::vector<uint8_t> block(kJcHeaderSize);
  block.reserve(plain_form_size(size));
  jc_write_header(block.data(), {uint32_t(size), jc_checksum(data, size)});
  JcBitWriter w{&block};
  const size_t whole = size - size % kJcRawChunk;
  if (whole > 0) jc_put_raw_run(w, data, whole);
  if (whole < size) jc_put_literal_size(w, 8, 0);
  for (size_t i = whole; i < size; ++i) jc_put_literal(w, data[i], 8);
  jc_put_end(w);
  jc_flush_bits(w);
  return block;
}

}  // namespace

size_t jc_compress_bound(size_t size) {
  if (uint64_t(size) > kJcMaxInputSize) return 0;
  return size_t(plain_form_size(size));
}

JcStatus jc_compress(const uint8_t* data, size_t size, int level, uint8_t* out, size_t capacity,
                     size_t* written) {
  *written = 0;
  if (level < kJcMinLevel || level > kJcMaxLevel || size == 0 || uint64_t(size) > kJcMaxInputSize ||
      data == nullptr) {
    return JcStatus::bad_argument;
  }
  std::vector<uint8_t> block;
  try {
    if (!jc_encode(data, size, level, &block)) return JcStatus::bad_argument;
    if (block.size() > plain_form_size(size)) block = plain_form(data, size);
  } catch (const std::bad_alloc&) {
    return JcStatus::out_of_memory;
  }
  if (block.size() > capacity) return JcStatus::too_small;
  std::memcpy(out, block.data(), block.size());
  *written = block.size();
  return JcStatus::ok;
}
