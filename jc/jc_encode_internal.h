// The encoder's parts: the token list that a parser produces, the per-position plan of
// literal widths and index shifts, bit prices, match finders and parsers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jc/jc_bit_writer.h"
#include "jc/jc_decode_internal.h"

/// What a parsed token is; the emitter picks the cheapest coding of a match (repeat, short
/// or full) from the offset and the state at that point.
enum class JcTokenKind : uint8_t { literal, zero, one_byte, match, raw };

struct JcToken {
  uint32_t length;  ///< bytes covered (1 for literal, zero and one-byte; 256 for raw)
  uint32_t offset;  ///< copy distance of a match or one-byte match
  JcTokenKind kind;
};

inline constexpr uint16_t kJcEightBitLiterals = 256;  ///< literal mode: 8 bits, base 0
inline constexpr uint32_t kJcMaxOneByteOffset = 14;
inline constexpr uint32_t kJcMaxShortOffset = 127;
inline constexpr uint32_t kJcMaxShortLength = 5;
inline constexpr uint32_t kJcMinMatchLength = 2;  ///< the smallest gamma number

/// Bit prices of the tokens.
inline constexpr uint32_t kJcNibbleTokenBits = 7;  ///< zero byte, one-byte match
inline constexpr uint32_t kJcShortTokenBits = 12;
inline constexpr uint32_t kJcRawChunkBits = kJcRawChunk * 8 + 1;
inline constexpr uint32_t kJcRawRunStartBits = 8;
inline constexpr uint32_t kJcInfiniteCost = UINT32_MAX;

/// Per-position choices made before parsing: the literal mode (a 7-bit base, or
/// kJcEightBitLiterals) and the index shift in force for a token starting there.
struct JcPlan {
  std::vector<uint16_t> literal_mode;
  std::vector<uint8_t> index_shift;
};

inline bool jc_literal_fits(uint16_t mode, uint8_t byte) {
  return mode == kJcEightBitLiterals || uint8_t(byte - mode) < 128;
}

/// Price of one byte on its own: the zero-byte token, or a literal in `mode`.
inline uint32_t jc_literal_price(uint16_t mode, uint8_t byte) {
  if (byte == 0) return kJcNibbleTokenBits;
  return mode == kJcEightBitLiterals ? 9 : 8;
}

inline uint32_t jc_repeat_price(uint32_t length) {
  return 4 + jc_gamma_bits(length);
}

/// Price of a full match, or kJcInfiniteCost when its length is below the smallest one that
/// the offset's length adjustment allows.
inline uint32_t jc_match_price(uint32_t offset, uint32_t length, uint32_t shift) {
  const uint32_t adjustment = jc_length_adjustment(offset);
  if (length < adjustment + kJcMinMatchLength) return kJcInfiniteCost;
  return 2 + jc_gamma_bits((offset >> shift) + 3) + shift + jc_gamma_bits(length - adjustment);
}

/// Length of the common run of `data + a` and `data + b` (a < b), at most `limit`, of which
/// the first `n` bytes are known to agree.
inline uint32_t jc_common_length(const uint8_t* data, uint32_t a, uint32_t b, uint32_t limit,
                                 uint32_t n = 0) {
  // Eight bytes at a time while both runs have them, then byte by byte.
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, data + a + n, 8);
    std::memcpy(&y, data + b + n, 8);
    if (x != y) {
      // The first differing byte is the lowest one in memory order.
      const uint64_t d = x ^ y;
      const int bit =
          std::endian::native == std::endian::little ? std::countr_zero(d) : std::countl_zero(d);
      return n + uint32_t(bit) / 8;
    }
    n += 8;
  }
  while (n < limit && data[a + n] == data[b + n]) ++n;
  return n;
}

/// A match candidate: `length` bytes from `offset` back.
struct JcMatch {
  uint32_t length;
  uint32_t offset;
};

/// Parser settings of one level.
struct JcLevel {
  bool optimal;         ///< optimal parsing (else greedy or lazy)
  bool lazy;            ///< greedy parsing looks one position ahead
  uint32_t depth;       ///< candidates a match finder visits per position
  uint32_t nice;        ///< a match this long is taken without looking further
  uint32_t slots;       ///< arrivals kept per position by the optimal parser
  bool repeats = true;  ///< the parsers consider repeat matches (off only to measure them)
};

/// Parts of the encoder that can be switched off, to measure what each one gains.
struct JcTuning {
  bool plan_index_shifts = true;  ///< index shifts planned per segment (else the start shift)
  bool repeat_matches = true;     ///< repeat matches considered by the parsers
};

/// jc_encode with some of its parts switched off.
bool jc_encode_tuned(const uint8_t* data, size_t size, int level, const JcTuning& tuning,
                     std::vector<uint8_t>* block);

/// Greedy or lazy parse of the whole input.
std::vector<JcToken> jc_parse_greedy(const uint8_t* data, uint32_t size, const JcPlan& plan,
                                     const JcLevel& level);

/// Optimal parse of the whole input under `plan`.
std::vector<JcToken> jc_parse_optimal(const uint8_t* data, uint32_t size, const JcPlan& plan,
                                      const JcLevel& level);
