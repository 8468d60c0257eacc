// The encoder's parts: the token list that a parser produces, the per-position plan of
// literal widths and index shifts, bit prices, match finders and parsers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jc/jc_bit_writer.h"
#include "jc/jc_decode_internal.h"
#include "jc/jc_encode.h"

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

/// Index shifts are planned per unit of this many bytes.
inline constexpr uint32_t kJcShiftUnit = 2048;

/// Choices made before parsing one segment of the input, from `start` on: the literal mode
/// of each position (a 7-bit base, or kJcEightBitLiterals) and the index shift in force for
/// a token starting in each kJcShiftUnit unit.
struct JcPlan {
  uint32_t start = 0;                  ///< first position of the segment
  std::vector<uint16_t> literal_mode;  ///< per position from `start`
  std::vector<uint8_t> unit_shift;     ///< per unit from the one holding `start`
};

/// The literal mode at `pos` (inside the plan's segment).
inline uint16_t jc_plan_mode(const JcPlan& plan, uint32_t pos) {
  return plan.literal_mode[pos - plan.start];
}

/// The index shift for a token starting at `pos` (inside the plan's segment).
inline uint8_t jc_plan_shift(const JcPlan& plan, uint32_t pos) {
  return plan.unit_shift[pos / kJcShiftUnit - plan.start / kJcShiftUnit];
}

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
  bool optimal;          ///< optimal parsing (else greedy or lazy)
  bool lazy;             ///< greedy parsing looks one position ahead
  uint32_t depth;        ///< candidates a match finder visits per position
  uint32_t nice;         ///< a match this long is taken without looking further
  uint32_t slots;        ///< arrivals kept per position by the optimal parser
  uint32_t window_bits;  ///< the match finder looks back at most 2^window_bits - 1 bytes
  bool repeats = true;   ///< the parsers consider repeat matches (off only to measure them)
};

/// Parts of the encoder that can be switched off, sizes that tests shrink to cross their
/// boundaries with small inputs, and a progress report.
struct JcTuning {
  bool plan_index_shifts = true;  ///< index shifts planned per unit (else the start shift)
  bool repeat_matches = true;     ///< repeat matches considered by the parsers
  uint32_t window_bits = 0;       ///< when not 0: the finders' window instead of the level's
  uint32_t segment_size = 0;      ///< when not 0: bytes parsed per segment (a multiple of
                                  ///< kJcShiftUnit) instead of kJcSegmentSize
  JcProgress progress = nullptr;  ///< called after each segment, when set
  void* progress_context = nullptr;
  uint64_t large_input = 0;  ///< when not 0: the size from which the lighter search of large
                             ///< inputs is used, instead of kJcLargeInput
};

/// Bytes the encoder parses, plans and emits at a time.
inline constexpr uint32_t kJcSegmentSize = 1u << 20;

/// From this input size on, the optimal levels that search hardest (8 and 9) search as
/// level 7 does: on hundreds of megabytes their deeper walks and extra arrivals cost more
/// time than the last percent of size is worth.
inline constexpr uint64_t kJcLargeInput = uint64_t(64) << 20;
inline constexpr uint32_t kJcLargeInputDepth = 24;
inline constexpr uint32_t kJcLargeInputNice = 96;
inline constexpr uint32_t kJcLargeInputSlots = 2;

/// jc_encode with some of its parts switched off or resized.
bool jc_encode_tuned(const uint8_t* data, size_t size, int level, const JcTuning& tuning,
                     std::vector<uint8_t>* block);

/// Greedy or lazy parser state, kept from one segment to the next.
struct JcGreedyState;

/// Optimal parser state, kept from one segment to the next.
struct JcOptimalState;

/// A parser over `size` bytes of `data` at `level`; freed with jc_parser_free. Throws
/// std::bad_alloc when its tables cannot be allocated.
JcGreedyState* jc_greedy_new(const uint8_t* data, uint32_t size, const JcLevel& level);
JcOptimalState* jc_optimal_new(const uint8_t* data, uint32_t size, const JcLevel& level);
void jc_parser_free(JcGreedyState* state);
void jc_parser_free(JcOptimalState* state);

/// Bytes the parsers allocate for `size` bytes of input at `level` with segments of
/// `segment` bytes (finders included).
uint64_t jc_greedy_memory(uint32_t size, const JcLevel& level);
uint64_t jc_optimal_memory(uint32_t size, const JcLevel& level, uint32_t segment);

/// Parses the segment [start, end) under `plan` (which covers it), which must follow the
/// previously parsed one, and appends its tokens, none of which reaches past `end`.
void jc_parse_greedy(JcGreedyState& state, const JcPlan& plan, uint32_t start, uint32_t end,
                     std::vector<JcToken>& tokens);
void jc_parse_optimal(JcOptimalState& state, const JcPlan& plan, uint32_t start, uint32_t end,
                      std::vector<JcToken>& tokens);
