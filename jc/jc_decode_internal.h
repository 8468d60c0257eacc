// Pieces shared by the two JC decoders: the safety check, the fixed start state, the
// length adjustment, and the steps before and after the token loop.
#pragma once

#include <cstdint>
#include <cstring>

#include "jc/jc.h"

/// The decoders' one safety check: every condition that keeps a read inside the block or a
/// write inside the destination, or that a well-formed stream satisfies, goes through it;
/// when it does not hold, the token step reports failure and the call's result is 0.
#define JC_SAFETY_CHECK(condition) \
  do {                             \
    if (!(condition)) [[unlikely]] \
      return JcStep::fail;         \
  } while (0)

/// The outcome of decoding one token.
enum class JcStep : uint8_t { next, end, fail };

inline constexpr uint32_t kJcStartLastOffset = 1;
inline constexpr uint32_t kJcStartIndexShift = 8;
inline constexpr uint32_t kJcMaxIndexShift = 31;  ///< shifts of 32 and more are corrupt
inline constexpr uint32_t kJcRawChunk = 256;      ///< bytes per raw-run chunk
inline constexpr uint32_t kJcGammaMaxDataBits = 31;
inline constexpr uint32_t kJcShortOffsetBits = 7;
inline constexpr uint32_t kJcShortLengthBits = 2;
inline constexpr uint32_t kJcShortMinLength = 2;
inline constexpr uint32_t kJcNibbleBits = 4;
inline constexpr uint32_t kJcZeroByteCode = 1;
inline constexpr uint32_t kJcShiftFieldBase = 3;  ///< an index-shift field has k + 3 bits

/// Bytes a match adds to its coded length, by its offset.
inline uint32_t jc_length_adjustment(uint32_t offset) {
  if (offset < 128) return 4;
  if (offset < 639) return 0;
  if (offset < 14335) return 1;
  if (offset < 65536) return 2;
  return 3;
}

/// jc_length_adjustment without branches, for the speed variant's hot path.
inline uint32_t jc_length_adjustment_branchless(uint32_t offset) {
  return 4 * uint32_t(offset < 128) + uint32_t(offset >= 639) + uint32_t(offset >= 14335) +
         uint32_t(offset >= 65536);
}

inline uint32_t jc_load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/// Checks the header and the destination before any token is read. Sets `header` and
/// returns ok when decoding may start.
JcStatus jc_decode_prepare(const uint8_t* block, size_t block_size, size_t dest_capacity,
                           JcBlock* header);

/// The result after the end marker: the output must be exactly unpacked_size bytes and
/// carry the stored checksum (when it is not 0).
JcResult jc_decode_finish(const JcBlock& header, const uint8_t* dest, size_t written,
                          size_t consumed);
