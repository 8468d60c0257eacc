// The speed variant of the JC decoder.
//
// Bits come from a 64-bit buffer, left-aligned, refilled one stream word at a time so
// that it holds at least 32 bits while the block has words left. Gamma numbers are taken
// four data/continuation pairs at a time through a table. The token loop runs in two
// forms: while the stream and the output are far from their ends, refills and small
// writes need no bounds checks; near the ends every read and write is checked. The
// values a token carries (offsets, lengths, the index shift) are checked in both forms.
//
// For every input this decoder writes the same bytes and gives the same result as the
// compact one: each token reads all its fields before it writes, a raw run checks the
// room for a chunk before its first byte, and a failure ends the call at once.
#include <array>
#include <cstring>

#include "pack/jc_block.h"
#include "pack/jc_decode_internal.h"

namespace {

/// Stream bytes that one token other than a raw run can take at the most: a prefix, two
/// gamma numbers of at most 32 data/continuation pairs each and 31 low offset bits are
/// 161 bits, which a refill spreads over at most seven words.
constexpr size_t kFastInputMargin = 32;
/// Output bytes that a token writes without a check of its own: a short match's five.
constexpr size_t kFastOutputMargin = 8;

/// One table step of a gamma number: up to four data/continuation pairs.
struct GammaStep {
  uint8_t pairs;  ///< pairs taken (1 to 4)
  uint8_t value;  ///< their data bits
  bool done;      ///< the last pair taken ended the number
};

constexpr std::array<GammaStep, 256> make_gamma_table() {
  std::array<GammaStep, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    GammaStep step{0, 0, false};
    for (int pair = 3; pair >= 0 && !step.done; --pair) {
      step.value = uint8_t((step.value << 1) | ((byte >> (2 * pair + 1)) & 1));
      step.done = ((byte >> (2 * pair)) & 1) == 0;
      ++step.pairs;
    }
    table[byte] = step;
  }
  return table;
}

constexpr std::array<GammaStep, 256> kGammaTable = make_gamma_table();

struct FastState {
  const uint8_t* in;      ///< next stream word
  const uint8_t* in_end;  ///< end of the block
  uint64_t bits;          ///< untaken bits, left-aligned; the bits below them are zero
  uint32_t count;         ///< number of untaken bits
  uint8_t* start;         ///< the destination's first byte
  uint8_t* out;           ///< write position
  uint8_t* end;           ///< one past the last byte the block may write
  uint32_t last_offset;
  uint32_t index_shift;
  uint32_t literal_bits;  ///< 0 until the first literal-size change
  uint32_t literal_base;
};

template <bool kCareful>
[[gnu::always_inline]] inline void refill(FastState& s) {
  if (s.count < 32) {
    if (kCareful && size_t(s.in_end - s.in) < kJcWordSize) return;
    s.bits |= uint64_t(jc_load_le32(s.in)) << (32 - s.count);
    s.in += kJcWordSize;
    s.count += 32;
  }
}

/// Drops `n` bits that the caller has looked at; false when fewer are there.
template <bool kCareful>
[[gnu::always_inline]] inline bool skip(FastState& s, uint32_t n) {
  if (kCareful && s.count < n) return false;
  s.bits <<= n;
  s.count -= n;
  return true;
}

/// The next `n` bits (1 to 32).
template <bool kCareful>
[[gnu::always_inline]] inline bool take(FastState& s, uint32_t n, uint32_t* value) {
  refill<kCareful>(s);
  *value = uint32_t(s.bits >> (64 - n));
  return skip<kCareful>(s, n);
}

template <bool kCareful>
[[gnu::always_inline]] inline bool gamma(FastState& s, uint32_t* value) {
  uint32_t v = 1;
  uint32_t data_bits = 0;
  for (;;) {
    refill<kCareful>(s);
    const GammaStep step = kGammaTable[s.bits >> 56];
    data_bits += step.pairs;
    if (data_bits > kJcGammaMaxDataBits || !skip<kCareful>(s, 2u * step.pairs)) return false;
    v = (v << step.pairs) | step.value;
    if (step.done) {
      *value = v;
      return true;
    }
  }
}

/// Copies 2 to 16 bytes from `from` to `to`, which do not overlap, with fixed-size moves
/// that cover the range exactly (the second move may overlap the first).
[[gnu::always_inline]] inline void copy_short(uint8_t* to, const uint8_t* from, size_t length) {
  if (length >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + length - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + length - 8, &tail, 8);
  } else if (length >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + length - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + length - 4, &tail, 4);
  } else {
    uint16_t head;
    std::memcpy(&head, from, 2);
    const uint8_t last = from[length - 1];
    std::memcpy(to, &head, 2);
    to[length - 1] = last;
  }
}

/// Copies `length` bytes from `offset` bytes back; where the two overlap the source is
/// widened by whole periods, which repeats the pattern exactly as a byte-wise copy does.
[[gnu::always_inline]] inline void copy_match(uint8_t* out, size_t offset, size_t length) {
  if (length <= 16 && offset >= length) {
    copy_short(out, out - offset, length);
    return;
  }
  if (offset == 1) {
    std::memset(out, out[-1], length);
    return;
  }
  while (length > offset) {
    std::memcpy(out, out - offset, offset);
    out += offset;
    length -= offset;
    offset *= 2;
  }
  std::memcpy(out, out - offset, length);
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep copy(FastState& s, uint32_t offset, uint64_t length) {
  JC_SAFETY_CHECK(offset != 0 && offset <= size_t(s.out - s.start));
  JC_SAFETY_CHECK(length <= size_t(s.end - s.out));
  copy_match(s.out, offset, size_t(length));
  s.out += length;
  return JcStep::next;
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep put_byte(FastState& s, uint32_t value) {
  if (kCareful) JC_SAFETY_CHECK(s.out < s.end);
  *s.out++ = uint8_t(value);
  return JcStep::next;
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep match(FastState& s) {
  uint32_t g, length;
  JC_SAFETY_CHECK(gamma<kCareful>(s, &g));
  if (g == 2) {
    JC_SAFETY_CHECK(gamma<kCareful>(s, &length));
    return copy<kCareful>(s, s.last_offset, length);
  }
  uint32_t low;
  JC_SAFETY_CHECK(take<kCareful>(s, s.index_shift, &low));
  JC_SAFETY_CHECK(gamma<kCareful>(s, &length));
  const uint64_t offset = (uint64_t(g - 3) << s.index_shift) | low;
  JC_SAFETY_CHECK(offset <= UINT32_MAX);
  s.last_offset = uint32_t(offset);
  return copy<kCareful>(s, s.last_offset, uint64_t(length) + jc_length_adjustment(s.last_offset));
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep short_token(FastState& s) {
  uint32_t fields;
  JC_SAFETY_CHECK(take<kCareful>(s, kJcShortOffsetBits + kJcShortLengthBits, &fields));
  const uint32_t o = fields >> kJcShortLengthBits;
  const uint32_t k = fields & ((1u << kJcShortLengthBits) - 1);
  if (o != 0) {
    s.last_offset = o;
    JC_SAFETY_CHECK(o <= size_t(s.out - s.start));
    const uint32_t length = k + kJcShortMinLength;
    if (kCareful) JC_SAFETY_CHECK(length <= size_t(s.end - s.out));
    if (o >= length) {
      copy_short(s.out, s.out - o, length);
      s.out += length;
    } else {
      for (uint32_t i = 0; i < length; ++i, ++s.out) *s.out = s.out[-ptrdiff_t(o)];
    }
    return JcStep::next;
  }
  if (k == 0) return JcStep::end;
  uint32_t shift;
  JC_SAFETY_CHECK(take<kCareful>(s, k + kJcShiftFieldBase, &shift));
  JC_SAFETY_CHECK(shift != 0 && shift <= kJcMaxIndexShift);
  s.index_shift = shift;
  return JcStep::next;
}

/// A raw run is rare and long; it is always read with checks.
[[gnu::always_inline]] inline JcStep raw_run(FastState& s) {
  uint32_t more;
  do {
    JC_SAFETY_CHECK(size_t(s.end - s.out) >= kJcRawChunk);
    for (uint32_t i = 0; i < kJcRawChunk; ++i) {
      uint32_t v;
      JC_SAFETY_CHECK(take<true>(s, 8, &v));
      *s.out++ = uint8_t(v);
    }
    JC_SAFETY_CHECK(take<true>(s, 1, &more));
  } while (more);
  return JcStep::next;
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep nibble_token(FastState& s) {
  uint32_t v;
  JC_SAFETY_CHECK(take<kCareful>(s, kJcNibbleBits, &v));
  if (v == kJcZeroByteCode) return put_byte<kCareful>(s, 0);
  if (v != 0) {
    JC_SAFETY_CHECK(v - 1 <= size_t(s.out - s.start));
    return put_byte<kCareful>(s, s.out[-ptrdiff_t(v - 1)]);
  }
  uint32_t mode;
  JC_SAFETY_CHECK(take<kCareful>(s, 2, &mode));
  if (mode >= 2) {
    // The raw-run bit was 1: the run's first byte field starts with the bit after it.
    s.bits = (s.bits >> 1) | (uint64_t(mode & 1) << 63);
    ++s.count;
    return raw_run(s);
  }
  s.literal_bits = 7 + mode;
  s.literal_base = 0;
  if (mode == 0) JC_SAFETY_CHECK(take<kCareful>(s, 8, &s.literal_base));
  return JcStep::next;
}

template <bool kCareful>
[[gnu::always_inline]] inline JcStep token(FastState& s) {
  refill<kCareful>(s);
  const uint64_t top = s.bits;
  if (top >> 63) {
    const uint32_t width = s.literal_bits;
    JC_SAFETY_CHECK(width != 0 && skip<kCareful>(s, 1 + width));
    return put_byte<kCareful>(s, uint32_t((top << 1) >> (64 - width)) + s.literal_base);
  }
  if (top >> 62) {
    JC_SAFETY_CHECK(skip<kCareful>(s, 2));
    return match<kCareful>(s);
  }
  JC_SAFETY_CHECK(skip<kCareful>(s, 3));
  return (top >> 61) ? nibble_token<kCareful>(s) : short_token<kCareful>(s);
}

[[gnu::always_inline]] inline JcStep run_tokens(FastState& s) {
  for (;;) {
    while (size_t(s.in_end - s.in) >= kFastInputMargin &&
           size_t(s.end - s.out) >= kFastOutputMargin) {
      const JcStep step = token<false>(s);
      if (step != JcStep::next) return step;
    }
    const JcStep step = token<true>(s);
    if (step != JcStep::next) return step;
  }
}

}  // namespace

JcResult jc_decode_checked(const uint8_t* block, size_t block_size, uint8_t* dest,
                           size_t dest_capacity) {
  JcBlock header;
  JcStatus status = jc_decode_prepare(block, block_size, dest_capacity, &header);
  if (status != JcStatus::ok) return {status, 0, 0};
  FastState s{
      block + kJcHeaderSize, block + block_size, 0, 0, dest, dest, dest + header.unpacked_size,
      kJcStartLastOffset,    kJcStartIndexShift, 0, 0};
  if (run_tokens(s) == JcStep::fail) return {JcStatus::corrupt_stream, 0, 0};
  // Whole words still in the buffer were fetched ahead and are not part of the stream.
  const size_t consumed = size_t(s.in - block) - kJcWordSize * (s.count / 32);
  return jc_decode_finish(header, dest, size_t(s.out - dest), consumed);
}
