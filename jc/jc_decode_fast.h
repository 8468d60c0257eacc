// The speed variant of the JC decoder, as templates shared by its two entry points: the
// plain one, which decodes a block into a destination of its own, and the in-place one,
// which decodes a block lying in the tail of the destination's own buffer (jc_decode.cpp and
// jc_decode_in_place.cpp instantiate them).
//
// Bits come from a 64-bit buffer, left-aligned, refilled one stream word at a time so
// that it holds at least 32 bits while the block has words left. Gamma numbers are taken
// six data/continuation pairs at a time through a table. The token loop runs in two
// forms: while the stream and the output are far from their ends, refills and small
// writes need no bounds checks, and a run of literals is decoded in a loop of its own;
// near the ends every read and write is checked. The values a token carries (offsets,
// lengths, the index shift) are checked in both forms. A copy of up to 32 bytes from at
// least 16 bytes back is two 16-byte blends with no branch on its length; other copies
// move whole 16- or 8-byte pieces where the offset allows. No copy changes a byte beyond
// its own end: a blend writes the bytes past it back with the values they hold.
//
// For every input this decoder writes the same bytes and gives the same result as the
// compact one: each token reads all its fields before it writes, a raw run checks the
// room for a chunk before its first byte, and a failure ends the call at once.
//
// Decoding in place (kInPlace): the stream's unread words lie after the write position in
// the same buffer, so every write also stays below `in`, the next word to load (the words
// before it are in the bit buffer or used up). The fast form additionally needs
// kFastOutputMargin bytes between the write position and `in`, so that no blend touches a
// word not yet loaded; copies, short tokens, single bytes and raw-run bytes are checked
// against `in` as they are against the end of the output. A write that would reach `in`
// ends the call with the state's `overlap` set. In the plain form these checks are not
// compiled at all.
#pragma once

#include <cstdint>
#include <cstring>

#include "jc/jc.h"
#include "jc/jc_decode_internal.h"

/// The in-place decoder's check that a write stays below the next stream word; when it does
/// not, the token step fails with the state's `overlap` set, so that the caller can tell a
/// stream that outruns its own input from a corrupt one.
#define JC_OVERLAP_CHECK(state, condition) \
  do {                                     \
    if (!(condition)) [[unlikely]] {       \
      (state).overlap = true;              \
      return JcStep::fail;                 \
    }                                      \
  } while (0)

// Internal linkage: each of the two translation units gets its own copy, so the plain
// decoder compiles exactly as it would on its own.
namespace {

/// Stream bytes that one token other than a raw run can take at the most: a prefix, two
/// gamma numbers of at most 32 data/continuation pairs each and 31 low offset bits are
/// 161 bits, which a refill spreads over at most seven words.
constexpr size_t kFastInputMargin = 32;
/// Output bytes that a token may touch without a check of its own: a copy's two 16-byte
/// blends (see copy_blend32).
constexpr size_t kFastOutputMargin = 32;

/// Data/continuation pairs that one table step of a gamma number takes at the most, and the
/// stream bits that index the table.
constexpr uint32_t kGammaPairs = 6;
constexpr uint32_t kGammaIndexBits = 2 * kGammaPairs;
using GammaEntry = uint16_t;

/// One table step of a gamma number, indexed by the next 12 bits: up to six
/// data/continuation pairs, packed as the number of bits they take (bits 0-5, twice the
/// pairs, so that it shifts the bit buffer as it is), 1 followed by their data bits
/// (bits 6-12; the number itself when the step ends it) and whether the last pair taken
/// ended the number (bit 15). Six pairs cover the numbers below 128 in one step, most
/// lengths and high offset parts. The table of 4096 entries (8 KiB) is filled when it is
/// first needed rather than stored in every program that decodes.
inline constexpr uint32_t kGammaTableSize = 1u << kGammaIndexBits;

}  // namespace

extern uint16_t jc_gamma_table[kGammaTableSize];

/// Fills jc_gamma_table once; safe to call from any thread, and cheap once it is filled.
void jc_gamma_table_prepare();

namespace {
constexpr uint32_t kGammaStepDone = 0x8000;
constexpr uint32_t kGammaStepBits = 63;
constexpr uint32_t kGammaStepValue = 127;

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
  bool overlap = false;  ///< in place: a write would have reached a stream word not yet loaded
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

/// Makes at least `n` (at most 32) bits available where the block has them. The careful
/// form refills whenever it can; the other refills only when fewer than `n` bits are left,
/// so that a token's fields seldom need a refill of their own after the one at its start.
template <bool kCareful>
[[gnu::always_inline]] inline void ensure(FastState& s, uint32_t n) {
  if (kCareful || s.count < n) refill<kCareful>(s);
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
  ensure<kCareful>(s, n);
  *value = uint32_t(s.bits >> (64 - n));
  return skip<kCareful>(s, n);
}

template <bool kCareful>
[[gnu::always_inline]] inline bool gamma(FastState& s, uint32_t* value) {
  // Most numbers end within the first step, which needs no width check.
  ensure<kCareful>(s, kGammaIndexBits);
  uint32_t step = jc_gamma_table[s.bits >> (64 - kGammaIndexBits)];
  if (!skip<kCareful>(s, step & kGammaStepBits)) return false;
  uint32_t v = (step >> 6) & kGammaStepValue;
  if (step & kGammaStepDone) [[likely]] {
    *value = v;
    return true;
  }
  uint32_t data_bits = (step & kGammaStepBits) / 2;
  do {
    ensure<kCareful>(s, kGammaIndexBits);
    step = jc_gamma_table[s.bits >> (64 - kGammaIndexBits)];
    const uint32_t pairs = (step & kGammaStepBits) / 2;
    data_bits += pairs;
    if (data_bits > kJcGammaMaxDataBits || !skip<kCareful>(s, 2 * pairs)) return false;
    v = (v << pairs) | (((step >> 6) & kGammaStepValue) ^ (1u << pairs));
  } while ((step & kGammaStepDone) == 0);
  *value = v;
  return true;
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

using Bytes16 = uint8_t __attribute__((vector_size(16)));

/// 16 bytes of 0xFF, then 16 zeros: the 16 bytes from kBlendMask + 16 - n select n bytes.
constexpr uint8_t kBlendMask[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

/// Copies 1 to 16 bytes from `from` to `to`, which do not overlap, without a branch: it
/// rewrites all 16 bytes from `to` on, those past the copy with the values they hold, so
/// 16 bytes from `to` must lie inside the destination.
[[gnu::always_inline]] inline void copy_blend(uint8_t* to, const uint8_t* from, size_t length) {
  Bytes16 source, target, mask;
  std::memcpy(&source, from, 16);
  std::memcpy(&target, to, 16);
  std::memcpy(&mask, kBlendMask + 16 - length, 16);
  target = (source & mask) | (target & ~mask);
  std::memcpy(to, &target, 16);
}

/// Copies `length` (more than `kPiece`) bytes from `offset` (at least `kPiece`) bytes back
/// in pieces of kPiece bytes; the last piece ends at the copy's end and may cover bytes
/// the one before it wrote, with the same values.
template <size_t kPiece>
[[gnu::always_inline]] inline void copy_pieces(uint8_t* out, size_t offset, size_t length) {
  uint8_t* const end = out + length;
  uint8_t piece[kPiece];
  do {
    std::memcpy(piece, out - offset, kPiece);
    std::memcpy(out, piece, kPiece);
    out += kPiece;
  } while (size_t(end - out) > kPiece);
  std::memcpy(piece, end - kPiece - offset, kPiece);
  std::memcpy(end - kPiece, piece, kPiece);
}

/// Copies 1 to 32 bytes from `offset` (at least 16) bytes back as two blends, without a
/// branch on the length (most matches take this path, with lengths spread over the whole
/// range); 32 bytes from `to` must lie inside the destination. The second half reads its
/// source after the first half is stored, so an offset below 32 sees the bytes just copied.
[[gnu::always_inline]] inline void copy_blend32(uint8_t* to, size_t offset, size_t length) {
  const size_t first = length < 16 ? length : 16;
  const size_t second = length - first;
  Bytes16 source, target, mask;
  std::memcpy(&source, to - offset, 16);
  std::memcpy(&target, to, 16);
  std::memcpy(&mask, kBlendMask + 16 - first, 16);
  target = (source & mask) | (target & ~mask);
  std::memcpy(to, &target, 16);
  std::memcpy(&source, to + 16 - offset, 16);
  std::memcpy(&target, to + 16, 16);
  std::memcpy(&mask, kBlendMask + 16 - second, 16);
  target = (source & mask) | (target & ~mask);
  std::memcpy(to + 16, &target, 16);
}

/// Copies `length` (at least 2) bytes from `offset` bytes back, exactly as a byte-wise copy
/// does: where the two overlap, the bytes just written are repeated. Outside the careful
/// form, 32 bytes from `out` lie inside the destination.
template <bool kCareful>
[[gnu::always_inline]] inline void copy_match(uint8_t* out, size_t offset, size_t length) {
  if (!kCareful && offset >= 16 && length <= 32) {
    copy_blend32(out, offset, length);
    return;
  }
  if (offset >= length && length <= 16) {
    if (kCareful) {
      copy_short(out, out - offset, length);
    } else {
      copy_blend(out, out - offset, length);
    }
    return;
  }
  if (offset >= 16) {
    copy_pieces<16>(out, offset, length);
    return;
  }
  if (offset >= 8) {
    copy_pieces<8>(out, offset, length);
    return;
  }
  if (offset == 1) {
    std::memset(out, out[-1], length);
    return;
  }
  if (length <= 32) {
    for (size_t i = 0; i < length; ++i) out[i] = out[ptrdiff_t(i) - ptrdiff_t(offset)];
    return;
  }
  // Longer periodic runs: the source widens by whole periods, which repeats the pattern.
  while (length > offset) {
    std::memcpy(out, out - offset, offset);
    out += offset;
    length -= offset;
    offset *= 2;
  }
  std::memcpy(out, out - offset, length);
}

template <bool kCareful, bool kInPlace>
[[gnu::always_inline]] inline JcStep copy(FastState& s, uint32_t offset, uint64_t length) {
  JC_SAFETY_CHECK(offset != 0 && offset <= size_t(s.out - s.start));
  JC_SAFETY_CHECK(length <= size_t(s.end - s.out));
  // A long copy can run past the fast zone's margin in either form.
  if constexpr (kInPlace) JC_OVERLAP_CHECK(s, length <= size_t(s.in - s.out));
  copy_match<kCareful>(s.out, offset, size_t(length));
  s.out += length;
  return JcStep::next;
}

template <bool kCareful, bool kInPlace>
[[gnu::always_inline]] inline JcStep put_byte(FastState& s, uint32_t value) {
  if (kCareful) JC_SAFETY_CHECK(s.out < s.end);
  if constexpr (kCareful && kInPlace) JC_OVERLAP_CHECK(s, s.out < s.in);
  *s.out++ = uint8_t(value);
  return JcStep::next;
}

template <bool kCareful, bool kInPlace>
[[gnu::always_inline]] inline JcStep match(FastState& s) {
  uint32_t g, length;
  JC_SAFETY_CHECK(gamma<kCareful>(s, &g));
  if (g == 2) {
    JC_SAFETY_CHECK(gamma<kCareful>(s, &length));
    return copy<kCareful, kInPlace>(s, s.last_offset, length);
  }
  uint32_t low;
  JC_SAFETY_CHECK(take<kCareful>(s, s.index_shift, &low));
  JC_SAFETY_CHECK(gamma<kCareful>(s, &length));
  const uint64_t offset = (uint64_t(g - 3) << s.index_shift) | low;
  JC_SAFETY_CHECK(offset <= UINT32_MAX);
  s.last_offset = uint32_t(offset);
  return copy<kCareful, kInPlace>(
      s, s.last_offset, uint64_t(length) + jc_length_adjustment_branchless(s.last_offset));
}

template <bool kCareful, bool kInPlace>
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
    if constexpr (kCareful && kInPlace) JC_OVERLAP_CHECK(s, length <= size_t(s.in - s.out));
    if (o >= length) {
      if (kCareful) {
        copy_short(s.out, s.out - o, length);
      } else {
        copy_blend(s.out, s.out - o, length);
      }
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

/// A raw run is rare and long; it is always read with checks. In place, each byte is checked
/// against the stream position after its own field is taken: the run's fields are read
/// about as fast as its bytes are written, so a check of the whole chunk up front would
/// refuse runs that never overtake their input.
template <bool kInPlace>
[[gnu::always_inline]] inline JcStep raw_run(FastState& s) {
  uint32_t more;
  do {
    JC_SAFETY_CHECK(size_t(s.end - s.out) >= kJcRawChunk);
    for (uint32_t i = 0; i < kJcRawChunk; ++i) {
      uint32_t v;
      JC_SAFETY_CHECK(take<true>(s, 8, &v));
      if constexpr (kInPlace) JC_OVERLAP_CHECK(s, s.out < s.in);
      *s.out++ = uint8_t(v);
    }
    JC_SAFETY_CHECK(take<true>(s, 1, &more));
  } while (more);
  return JcStep::next;
}

template <bool kCareful, bool kInPlace>
[[gnu::always_inline]] inline JcStep nibble_token(FastState& s) {
  uint32_t v;
  JC_SAFETY_CHECK(take<kCareful>(s, kJcNibbleBits, &v));
  if (v == kJcZeroByteCode) return put_byte<kCareful, kInPlace>(s, 0);
  if (v != 0) {
    JC_SAFETY_CHECK(v - 1 <= size_t(s.out - s.start));
    return put_byte<kCareful, kInPlace>(s, s.out[-ptrdiff_t(v - 1)]);
  }
  uint32_t mode;
  JC_SAFETY_CHECK(take<kCareful>(s, 2, &mode));
  if (mode >= 2) {
    // The raw-run bit was 1: the run's first byte field starts with the bit after it.
    s.bits = (s.bits >> 1) | (uint64_t(mode & 1) << 63);
    ++s.count;
    return raw_run<kInPlace>(s);
  }
  s.literal_bits = 7 + mode;
  s.literal_base = 0;
  if (mode == 0) JC_SAFETY_CHECK(take<kCareful>(s, 8, &s.literal_base));
  return JcStep::next;
}

/// Where the token loop may run without bounds checks on refills and small writes.
struct FastLimits {
  uintptr_t in_last;   ///< the last stream position with kFastInputMargin bytes after it
  uintptr_t out_last;  ///< the last write position with kFastOutputMargin bytes after it
};

/// In place, the zone also needs kFastOutputMargin bytes between the write position and the
/// next stream word, so that the unchecked writes and every blend stay below it.
template <bool kInPlace>
[[gnu::always_inline]] inline bool in_fast_zone(const FastState& s, const FastLimits& limits) {
  if constexpr (kInPlace) {
    if (size_t(s.in - s.out) < kFastOutputMargin) return false;
  }
  return uintptr_t(s.in) <= limits.in_last && uintptr_t(s.out) <= limits.out_last;
}

/// Literals one after another, in the fast zone: each takes at most 9 bits and writes one
/// byte, so the zone is checked again after each.
template <bool kInPlace>
[[gnu::always_inline]] inline JcStep literal_run(FastState& s, const FastLimits& limits) {
  const uint32_t width = s.literal_bits;
  JC_SAFETY_CHECK(width != 0);
  const uint32_t field_shift = 64 - width;
  const uint32_t token_bits = 1 + width;
  const uint32_t base = s.literal_base;
  do {
    *s.out++ = uint8_t(uint32_t((s.bits << 1) >> field_shift) + base);
    s.bits <<= token_bits;
    s.count -= token_bits;
    refill<false>(s);
  } while ((s.bits >> 63) != 0 && in_fast_zone<kInPlace>(s, limits));
  return JcStep::next;
}

template <bool kCareful, bool kInPlace>
[[gnu::always_inline]] inline JcStep token(FastState& s, const FastLimits& limits) {
  refill<kCareful>(s);
  const uint64_t top = s.bits;
  if (top >> 63) {
    if constexpr (!kCareful) return literal_run<kInPlace>(s, limits);
    const uint32_t width = s.literal_bits;
    JC_SAFETY_CHECK(width != 0 && skip<kCareful>(s, 1 + width));
    return put_byte<kCareful, kInPlace>(s, uint32_t((top << 1) >> (64 - width)) + s.literal_base);
  }
  if (top >> 62) {
    JC_SAFETY_CHECK(skip<kCareful>(s, 2));
    return match<kCareful, kInPlace>(s);
  }
  JC_SAFETY_CHECK(skip<kCareful>(s, 3));
  return (top >> 61) ? nibble_token<kCareful, kInPlace>(s) : short_token<kCareful, kInPlace>(s);
}

/// Decodes tokens until the end marker (end) or a failure (fail).
template <bool kInPlace>
[[gnu::always_inline]] inline JcStep run_tokens(FastState& s) {
  // A zone that is empty (a short block or a small output) is marked by a last position
  // below every real one.
  const size_t in_size = size_t(s.in_end - s.in);
  const size_t out_size = size_t(s.end - s.out);
  const FastLimits limits{in_size >= kFastInputMargin ? uintptr_t(s.in_end - kFastInputMargin) : 0,
                          out_size >= kFastOutputMargin ? uintptr_t(s.end - kFastOutputMargin) : 0};
  if (limits.in_last == 0 || limits.out_last == 0) {
    for (;;) {
      const JcStep step = token<true, kInPlace>(s, limits);
      if (step != JcStep::next) return step;
    }
  }
  for (;;) {
    while (in_fast_zone<kInPlace>(s, limits)) {
      const JcStep step = token<false, kInPlace>(s, limits);
      if (step != JcStep::next) return step;
    }
    const JcStep step = token<true, kInPlace>(s, limits);
    if (step != JcStep::next) return step;
  }
}

/// Block bytes the call has used: whole words still in the bit buffer were fetched ahead and
/// are not part of the stream.
inline size_t consumed_bytes(const FastState& s, const uint8_t* block) {
  return size_t(s.in - block) - kJcWordSize * (s.count / 32);
}

}  // namespace
