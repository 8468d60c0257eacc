// Writes a JC bit stream: fields most significant bit first, packed into little-endian
// 32-bit words appended to a byte vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct JcBitWriter {
  std::vector<uint8_t>* out;  ///< words are appended here
  uint64_t pending = 0;       ///< bits not yet flushed, right-aligned
  uint32_t pending_bits = 0;  ///< how many (below 32 between calls)
  uint64_t total_bits = 0;    ///< every bit put so far
};

/// Appends the low `count` bits of `value` (count 0 to 32), most significant first.
inline void jc_put_bits(JcBitWriter& w, uint32_t value, uint32_t count) {
  if (count == 0) return;
  w.pending = (w.pending << count) | (value & (count == 32 ? 0xFFFFFFFFu : (1u << count) - 1));
  w.pending_bits += count;
  w.total_bits += count;
  if (w.pending_bits >= 32) {
    const uint32_t word = uint32_t(w.pending >> (w.pending_bits - 32));
    for (int i = 0; i < 4; ++i) w.out->push_back(uint8_t(word >> (8 * i)));
    w.pending_bits -= 32;
    w.pending &= (uint64_t(1) << w.pending_bits) - 1;
  }
}

/// Number of bits the gamma code of `value` (at least 2) takes.
inline uint32_t jc_gamma_bits(uint32_t value) {
  return 2 * (31 - uint32_t(__builtin_clz(value)));
}

/// Appends `value` (at least 2) as a gamma number: after the leading 1, each bit followed by
/// a continuation bit, 1 while more bits follow.
inline void jc_put_gamma(JcBitWriter& w, uint32_t value) {
  const int top = 31 - __builtin_clz(value);
  for (int bit = top - 1; bit >= 0; --bit) {
    jc_put_bits(w, (value >> bit) & 1, 1);
    jc_put_bits(w, bit > 0 ? 1 : 0, 1);
  }
}

/// Fills the last word with zero bits and appends it.
inline void jc_flush_bits(JcBitWriter& w) {
  if (w.pending_bits > 0) {
    const uint64_t saved = w.total_bits;
    jc_put_bits(w, 0, 32 - w.pending_bits);
    w.total_bits = saved;
  }
}

// Token writers: each appends one token with the prefix and fields the decoder expects.

/// A literal of `width` (7 or 8) bits: `value` is the byte minus the literal base.
inline void jc_put_literal(JcBitWriter& w, uint32_t value, uint32_t width) {
  jc_put_bits(w, 1, 1);
  jc_put_bits(w, value, width);
}

/// A match with a coded length: `offset` split by `index_shift`, `coded_length` (at least
/// 2) being the copy length minus the offset's length adjustment.
inline void jc_put_match(JcBitWriter& w, uint32_t offset, uint32_t index_shift,
                         uint32_t coded_length) {
  jc_put_bits(w, 1, 2);
  jc_put_gamma(w, (offset >> index_shift) + 3);
  jc_put_bits(w, offset & ((uint64_t(1) << index_shift) - 1), index_shift);
  jc_put_gamma(w, coded_length);
}

/// A repeat match of `length` (at least 2) bytes from the last offset.
inline void jc_put_repeat(JcBitWriter& w, uint32_t length) {
  jc_put_bits(w, 1, 2);
  jc_put_gamma(w, 2);
  jc_put_gamma(w, length);
}

/// A short match: offset 1 to 127, length 2 to 5.
inline void jc_put_short(JcBitWriter& w, uint32_t offset, uint32_t length) {
  jc_put_bits(w, 0, 3);
  jc_put_bits(w, offset, 7);
  jc_put_bits(w, length - 2, 2);
}

/// The end marker.
inline void jc_put_end(JcBitWriter& w) {
  jc_put_bits(w, 0, 12);
}

/// An index-shift change to `shift`, written in a field of `field_bits` (4, 5 or 6) bits.
inline void jc_put_index_shift(JcBitWriter& w, uint32_t shift, uint32_t field_bits) {
  jc_put_bits(w, 0, 10);
  jc_put_bits(w, field_bits - 3, 2);
  jc_put_bits(w, shift, field_bits);
}

/// The zero byte (offset 0) or a one-byte match (offset 1 to 14).
inline void jc_put_nibble_byte(JcBitWriter& w, uint32_t offset) {
  jc_put_bits(w, 1, 3);
  jc_put_bits(w, offset + 1, 4);
}

/// A literal-size change: 8-bit literals, or 7-bit literals above `base`.
inline void jc_put_literal_size(JcBitWriter& w, uint32_t width, uint32_t base) {
  jc_put_bits(w, 1, 3);
  jc_put_bits(w, 0, 5);
  jc_put_bits(w, width - 7, 1);
  if (width == 7) jc_put_bits(w, base, 8);
}

/// A raw run of `size` bytes, a multiple of 256.
inline void jc_put_raw_run(JcBitWriter& w, const uint8_t* bytes, size_t size) {
  jc_put_bits(w, 1, 3);
  jc_put_bits(w, 0, 4);
  jc_put_bits(w, 1, 1);
  for (size_t i = 0; i < size; ++i) {
    jc_put_bits(w, bytes[i], 8);
    if (i % 256 == 255) jc_put_bits(w, i + 1 < size ? 1 : 0, 1);
  }
}
