// Match finders of the encoder. Each sees the whole input (offsets are unlimited) and is
// fed every position in order; a query lists the matches at a position and then adds it.
//
// Lists hold matches of strictly increasing length, each with the nearest offset found
// for that length, so that a parser can price every length with its cheapest offset.
#pragma once

#include <cstdint>
#include <vector>

#include "jc/jc_encode_internal.h"

inline constexpr uint32_t kJcNoPosition = UINT32_MAX;
inline constexpr uint32_t kJcHashMinLength = 3;  ///< bytes the hashed finders key on

/// Hash chains over 3-byte prefixes: fast, for the greedy levels.
struct JcChainFinder {
  const uint8_t* data;
  uint32_t size;
  uint32_t hash_bits;
  std::vector<uint32_t> head;  ///< per hash: the latest position, or kJcNoPosition
  std::vector<uint32_t> prev;  ///< per position: the previous one with the same hash
};

/// Binary trees over 3-byte prefixes: each tree keeps the positions of one hash sorted by
/// the bytes that follow them, so a query walks towards the longest matches directly.
struct JcTreeFinder {
  const uint8_t* data;
  uint32_t size;
  uint32_t depth;  ///< nodes visited per query
  uint32_t nice;   ///< bytes compared at most; a match this long ends the walk
  uint32_t hash_bits;
  std::vector<uint32_t> head;
  std::vector<uint32_t> smaller;  ///< per position: subtree of positions that sort before
  std::vector<uint32_t> greater;  ///< per position: subtree of positions that sort after
};

/// Chains over 2-byte prefixes for the short-match window (offsets up to 127).
struct JcNearFinder {
  const uint8_t* data;
  uint32_t size;
  std::vector<uint32_t> head;
  std::vector<uint32_t> prev;
};

void jc_chain_init(JcChainFinder& f, const uint8_t* data, uint32_t size);

/// Lists up to `depth` candidates' matches at `pos` (lengths at most `limit`) into `out`,
/// returns their number, then adds `pos`. `out` may be null to add `pos` only.
uint32_t jc_chain_matches(JcChainFinder& f, uint32_t pos, uint32_t depth, uint32_t limit,
                          JcMatch* out);

void jc_tree_init(JcTreeFinder& f, const uint8_t* data, uint32_t size, uint32_t depth,
                  uint32_t nice);

/// Lists the matches at `pos` (lengths at most min(nice, size - pos)) into `out` (room for
/// nice + 1 entries), returns their number and adds `pos`. `out` may be null.
uint32_t jc_tree_matches(JcTreeFinder& f, uint32_t pos, JcMatch* out);

void jc_near_init(JcNearFinder& f, const uint8_t* data, uint32_t size);

/// The longest match of 2 to 5 bytes with an offset of at most 127 (nearest first), or
/// length 0; then adds `pos`.
JcMatch jc_near_match(JcNearFinder& f, uint32_t pos);

/// The nearest offset of 1 to 14 holding the same byte as `pos`, or 0.
inline uint32_t jc_one_byte_offset(const uint8_t* data, uint32_t pos) {
  const uint32_t reach = pos < kJcMaxOneByteOffset ? pos : kJcMaxOneByteOffset;
  for (uint32_t o = 1; o <= reach; ++o) {
    if (data[pos - o] == data[pos]) return o;
  }
  return 0;
}
