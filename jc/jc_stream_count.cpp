// Counting what a block's stream would write, without writing it.
//
// A block's size bounds its unpacked size only for the smallest blocks: a gamma number
// doubles its value with every two bits, so the longest match grows exponentially with the
// bits it takes. Three stream words state any 32-bit unpacked_size: a literal-size change
// (3 + 4 + 1 + 1 = 9 bits), one literal (1 + 8), a repeat match of 2^32 - 2 bytes
// (2 + 2 + 62, its length a gamma number of 31 data bits) and the end marker (3 + 7 + 2)
// make 96 bits. So instead of a bound from the size, the stream's tokens are walked without
// writing anything and the bytes they would write are counted; a buffer of unpacked_size
// bytes is allocated only once they reach that size. The walk costs one pass over the block
// and no memory.

#include "jc/jc_stream_count.h"

#include "jc/jc_decode_internal.h"

namespace {

constexpr uint32_t kBitsPerWord = 32;

/// Bits of a block's stream, the most significant first, from whole little-endian words.
struct StreamBits {
  const uint8_t* stream;  ///< the first word after the header
  uint64_t size;          ///< bits in the whole words of the block
  uint64_t position;      ///< bits taken so far
};

/// Takes `count` bits (0 to 32), the first taken the most significant. False when the
/// stream's whole words do not hold them.
bool take_bits(StreamBits& s, uint32_t count, uint32_t* value) {
  if (s.size - s.position < count) return false;
  uint32_t v = 0;
  for (uint32_t i = 0; i < count; ++i, ++s.position) {
    const uint32_t bit_in_word = kBitsPerWord - 1 - uint32_t(s.position % kBitsPerWord);
    const uint8_t byte = s.stream[(s.position / kBitsPerWord) * kJcWordSize + bit_in_word / 8];
    v = (v << 1) | ((byte >> (bit_in_word % 8)) & 1);
  }
  *value = v;
  return true;
}

/// Passes over `count` bits; false when the stream does not hold them.
bool skip_bits(StreamBits& s, uint64_t count) {
  if (s.size - s.position < count) return false;
  s.position += count;
  return true;
}

/// Takes a gamma number; false when the stream ends or it has more data bits than decoding
/// accepts.
bool take_gamma(StreamBits& s, uint32_t* value) {
  uint32_t v = 1;
  uint32_t more = 1;
  for (uint32_t data_bits = 0; more != 0; ++data_bits) {
    uint32_t bit;
    if (data_bits == kJcGammaMaxDataBits || !take_bits(s, 1, &bit) || !take_bits(s, 1, &more)) {
      return false;
    }
    v = (v << 1) | bit;
  }
  *value = v;
  return true;
}

/// The state of a counting walk over the tokens.
struct StreamCount {
  StreamBits bits;
  uint64_t written = 0;  ///< bytes the tokens so far would write
  uint32_t last_offset = kJcStartLastOffset;
  uint32_t index_shift = kJcStartIndexShift;
  uint32_t literal_bits = 0;
};

/// The outcome of counting one token.
enum class Counted : uint8_t { next, end, corrupt };

/// Counts a copy of `length` bytes from `offset` bytes back.
Counted count_copy(StreamCount& c, uint64_t offset, uint64_t length) {
  if (offset == 0 || offset > c.written) return Counted::corrupt;
  c.written += length;
  return Counted::next;
}

/// A match after its "01" prefix: a repeat of last_offset or a new offset.
Counted count_match(StreamCount& c) {
  uint32_t g, low, length;
  if (!take_gamma(c.bits, &g)) return Counted::corrupt;
  if (g == 2) {
    if (!take_gamma(c.bits, &length)) return Counted::corrupt;
    return count_copy(c, c.last_offset, length);
  }
  if (!take_bits(c.bits, c.index_shift, &low)) return Counted::corrupt;
  if (!take_gamma(c.bits, &length)) return Counted::corrupt;
  const uint64_t offset = (uint64_t(g - 3) << c.index_shift) | low;
  if (offset > UINT32_MAX) return Counted::corrupt;
  c.last_offset = uint32_t(offset);
  return count_copy(c, offset, uint64_t(length) + jc_length_adjustment(c.last_offset));
}

/// A token after its "000" prefix: a short match, the end marker or an index-shift change.
Counted count_short(StreamCount& c) {
  uint32_t o, k, shift;
  if (!take_bits(c.bits, kJcShortOffsetBits, &o) || !take_bits(c.bits, kJcShortLengthBits, &k)) {
    return Counted::corrupt;
  }
  if (o != 0) {
    c.last_offset = o;
    return count_copy(c, o, k + kJcShortMinLength);
  }
  if (k == 0) return Counted::end;
  if (!take_bits(c.bits, k + kJcShiftFieldBase, &shift)) return Counted::corrupt;
  if (shift == 0 || shift > kJcMaxIndexShift) return Counted::corrupt;
  c.index_shift = shift;
  return Counted::next;
}

/// A token after its "001" prefix: a zero byte, a near 1-byte copy, a raw run or a
/// literal-size change.
Counted count_nibble(StreamCount& c) {
  uint32_t v, flag, more;
  if (!take_bits(c.bits, kJcNibbleBits, &v)) return Counted::corrupt;
  if (v == kJcZeroByteCode) {
    c.written += 1;
    return Counted::next;
  }
  if (v != 0) return count_copy(c, v - 1, 1);
  if (!take_bits(c.bits, 1, &flag)) return Counted::corrupt;
  if (flag != 0) {
    do {
      if (!skip_bits(c.bits, uint64_t(kJcRawChunk) * 8)) return Counted::corrupt;
      c.written += kJcRawChunk;
      if (!take_bits(c.bits, 1, &more)) return Counted::corrupt;
    } while (more != 0);
    return Counted::next;
  }
  if (!take_bits(c.bits, 1, &flag)) return Counted::corrupt;
  c.literal_bits = 7 + flag;
  if (flag == 0 && !skip_bits(c.bits, 8)) return Counted::corrupt;
  return Counted::next;
}

/// Counts one token.
Counted count_token(StreamCount& c) {
  uint32_t bit;
  if (!take_bits(c.bits, 1, &bit)) return Counted::corrupt;
  if (bit != 0) {
    if (c.literal_bits == 0 || !skip_bits(c.bits, c.literal_bits)) return Counted::corrupt;
    c.written += 1;
    return Counted::next;
  }
  if (!take_bits(c.bits, 1, &bit)) return Counted::corrupt;
  if (bit != 0) return count_match(c);
  if (!take_bits(c.bits, 1, &bit)) return Counted::corrupt;
  return bit != 0 ? count_nibble(c) : count_short(c);
}

}  // namespace

JcStatus jc_stream_reaches(const uint8_t* block, size_t block_size, uint32_t claimed) {
  const uint64_t words = (block_size - kJcHeaderSize) / kJcWordSize;
  StreamCount c{{block + kJcHeaderSize, words * kBitsPerWord, 0}};
  while (c.written < claimed) {
    const Counted step = count_token(c);
    if (step == Counted::end) return JcStatus::size_mismatch;
    if (step == Counted::corrupt) return JcStatus::corrupt_stream;
  }
  return JcStatus::ok;
}
