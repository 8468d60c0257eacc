// The size variant of the JC decoder: every bit goes through the bit reader, one word is
// fetched when the current one is used up, and every write is checked on its own.
#include "jc/jc.h"
#include "jc/jc_decode_internal.h"

namespace {

/// Bits of the stream, taken most significant first from one word at a time.
struct JcBitReader {
  const uint8_t* next;  ///< the next word to fetch
  const uint8_t* end;   ///< the end of the block
  uint32_t word;        ///< the current word, its untaken bits at the top
  uint32_t bits_left;   ///< untaken bits of the current word
};

/// The next bit; false when the block has no word left.
bool read_bit(JcBitReader& r, uint32_t* bit) {
  if (r.bits_left == 0) {
    if (size_t(r.end - r.next) < kJcWordSize) return false;
    r.word = jc_load_le32(r.next);
    r.next += kJcWordSize;
    r.bits_left = 32;
  }
  *bit = r.word >> 31;
  r.word <<= 1;
  --r.bits_left;
  return true;
}

/// The next `count` bits (1 to 32), the first read the most significant.
bool read_bits(JcBitReader& r, uint32_t count, uint32_t* value) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bit;
    if (!read_bit(r, &bit)) return false;
    v = (v << 1) | bit;
  }
  *value = v;
  return true;
}

/// A gamma number; false when the stream ends or the number does not fit in 32 bits.
bool read_gamma(JcBitReader& r, uint32_t* value) {
  uint32_t v = 1;
  uint32_t data_bits = 0;
  uint32_t more;
  do {
    uint32_t bit;
    if (++data_bits > kJcGammaMaxDataBits || !read_bit(r, &bit)) return false;
    v = (v << 1) | bit;
    if (!read_bit(r, &more)) return false;
  } while (more);
  *value = v;
  return true;
}

struct CompactState {
  JcBitReader reader;
  uint8_t* start;  ///< the destination's first byte, the oldest byte a copy may reach
  uint8_t* out;    ///< write position
  uint8_t* end;    ///< one past the last byte the block may write
  uint32_t last_offset;
  uint32_t index_shift;
  uint32_t literal_bits;  ///< 0 until the first literal-size change
  uint32_t literal_base;
};

JcStep copy(CompactState& s, uint32_t offset, uint64_t length) {
  JC_SAFETY_CHECK(offset != 0 && offset <= size_t(s.out - s.start));
  JC_SAFETY_CHECK(length <= size_t(s.end - s.out));
  for (uint64_t i = 0; i < length; ++i, ++s.out) *s.out = s.out[-ptrdiff_t(offset)];
  return JcStep::next;
}

JcStep put_byte(CompactState& s, uint32_t value) {
  JC_SAFETY_CHECK(s.out < s.end);
  *s.out++ = uint8_t(value);
  return JcStep::next;
}

JcStep literal(CompactState& s) {
  uint32_t v;
  JC_SAFETY_CHECK(s.literal_bits != 0);
  JC_SAFETY_CHECK(read_bits(s.reader, s.literal_bits, &v));
  return put_byte(s, v + s.literal_base);
}

JcStep match(CompactState& s) {
  uint32_t g, length;
  JC_SAFETY_CHECK(read_gamma(s.reader, &g));
  if (g == 2) {
    JC_SAFETY_CHECK(read_gamma(s.reader, &length));
    return copy(s, s.last_offset, length);
  }
  uint32_t low;
  JC_SAFETY_CHECK(read_bits(s.reader, s.index_shift, &low));
  JC_SAFETY_CHECK(read_gamma(s.reader, &length));
  uint64_t offset = (uint64_t(g - 3) << s.index_shift) | low;
  JC_SAFETY_CHECK(offset <= UINT32_MAX);
  s.last_offset = uint32_t(offset);
  return copy(s, s.last_offset, uint64_t(length) + jc_length_adjustment(s.last_offset));
}

JcStep short_token(CompactState& s) {
  uint32_t o, k;
  JC_SAFETY_CHECK(read_bits(s.reader, kJcShortOffsetBits, &o));
  JC_SAFETY_CHECK(read_bits(s.reader, kJcShortLengthBits, &k));
  if (o != 0) {
    s.last_offset = o;
    return copy(s, o, k + kJcShortMinLength);
  }
  if (k == 0) return JcStep::end;
  uint32_t shift;
  JC_SAFETY_CHECK(read_bits(s.reader, k + kJcShiftFieldBase, &shift));
  JC_SAFETY_CHECK(shift != 0 && shift <= kJcMaxIndexShift);
  s.index_shift = shift;
  return JcStep::next;
}

JcStep raw_run(CompactState& s) {
  uint32_t more;
  do {
    JC_SAFETY_CHECK(size_t(s.end - s.out) >= kJcRawChunk);
    for (uint32_t i = 0; i < kJcRawChunk; ++i) {
      uint32_t v;
      JC_SAFETY_CHECK(read_bits(s.reader, 8, &v));
      *s.out++ = uint8_t(v);
    }
    JC_SAFETY_CHECK(read_bit(s.reader, &more));
  } while (more);
  return JcStep::next;
}

JcStep nibble_token(CompactState& s) {
  uint32_t v;
  JC_SAFETY_CHECK(read_bits(s.reader, kJcNibbleBits, &v));
  if (v == kJcZeroByteCode) return put_byte(s, 0);
  if (v != 0) return copy(s, v - 1, 1);
  uint32_t is_raw, b;
  JC_SAFETY_CHECK(read_bit(s.reader, &is_raw));
  if (is_raw) return raw_run(s);
  JC_SAFETY_CHECK(read_bit(s.reader, &b));
  s.literal_bits = 7 + b;
  s.literal_base = 0;
  if (b == 0) JC_SAFETY_CHECK(read_bits(s.reader, 8, &s.literal_base));
  return JcStep::next;
}

JcStep token(CompactState& s) {
  uint32_t bit;
  JC_SAFETY_CHECK(read_bit(s.reader, &bit));
  if (bit) return literal(s);
  JC_SAFETY_CHECK(read_bit(s.reader, &bit));
  if (bit) return match(s);
  JC_SAFETY_CHECK(read_bit(s.reader, &bit));
  return bit ? nibble_token(s) : short_token(s);
}

}  // namespace

JcResult jc_decode_compact_checked(const uint8_t* block, size_t block_size, uint8_t* dest,
                                   size_t dest_capacity) {
  JcBlock header;
  JcStatus status = jc_decode_prepare(block, block_size, dest_capacity, &header);
  if (status != JcStatus::ok) return {status, 0, 0};
  CompactState s{{block + kJcHeaderSize, block + block_size, 0, 0},
                 dest,
                 dest,
                 dest + header.unpacked_size,
                 kJcStartLastOffset,
                 kJcStartIndexShift,
                 0,
                 0};
  JcStep step;
  while ((step = token(s)) == JcStep::next) {
  }
  if (step == JcStep::fail) return {JcStatus::corrupt_stream, 0, 0};
  return jc_decode_finish(header, dest, size_t(s.out - dest), size_t(s.reader.next - block));
}

uint32_t jc_decode_compact(const uint8_t* block, size_t block_size, uint8_t* dest,
                           size_t dest_capacity) {
  return jc_decode_compact_checked(block, block_size, dest, dest_capacity).written;
}
