// Match finders of the encoder. Each is fed every position in order; a query lists the
// matches at a position and then adds it.
//
// The hashed finders look back over a window of the latest `window` positions (a power of
// two, at most the input's size rounded up): their per-position links are rings indexed by
// the position modulo the window, so their memory is bounded by the window, not by the
// input, and offsets are below the window. A link to a position that has left the window
// is never followed: its ring slot may already hold a newer position.
//
// Lists hold matches of strictly increasing length, each with the nearest offset found
// for that length, so that a parser can price every length with its cheapest offset.
#pragma once

#include <cstdint>
#include <vector>

#include "jc/jc_encode_internal.h"

inline constexpr uint32_t kJcNoPosition = UINT32_MAX;
inline constexpr uint32_t kJcHashMinLength = 3;  ///< bytes the hashed finders key on
inline constexpr uint32_t kJcNearRing = 128;     ///< positions the short-match finder keeps

/// Hash chains over 3-byte prefixes: fast, for the greedy levels.
struct JcChainFinder {
  const uint8_t* data;
  uint32_t size;
  uint32_t hash_bits;
  uint32_t window_mask;        ///< window - 1; offsets are at most this
  std::vector<uint32_t> head;  ///< per hash: the latest position, or kJcNoPosition
  std::vector<uint32_t> prev;  ///< per ring slot: the previous position with the same hash
};

/// Binary trees over 3-byte prefixes: each tree keeps the positions of one hash sorted by
/// the bytes that follow them, so a query walks towards the longest matches directly.
struct JcTreeFinder {
  const uint8_t* data;
  uint32_t size;
  uint32_t depth;  ///< nodes visited per query
  uint32_t nice;   ///< bytes compared at most; a match this long ends the walk
  uint32_t hash_bits;
  uint32_t window_mask;
  std::vector<uint32_t> head;
  std::vector<uint32_t> smaller;  ///< per ring slot: subtree of positions that sort before
  std::vector<uint32_t> greater;  ///< per ring slot: subtree of positions that sort after
};

/// Chains over 2-byte prefixes for the short-match window (offsets up to 127).
struct JcNearFinder {
  const uint8_t* data;
  uint32_t size;
  std::vector<uint32_t> head;
  std::vector<uint32_t> prev;  ///< kJcNearRing slots
};

/// The ring size for `size` bytes of input and a window of at most 2^`window_bits`.
uint32_t jc_window_size(uint32_t size, uint32_t window_bits);

/// Bytes the finders' tables take for that input and window (heads and rings).
uint64_t jc_chain_memory(uint32_t size, uint32_t window_bits);
uint64_t jc_tree_memory(uint32_t size, uint32_t window_bits);
uint64_t jc_near_memory();

void jc_chain_init(JcChainFinder& f, const uint8_t* data, uint32_t size, uint32_t window_bits);

/// Lists up to `depth` candidates' matches at `pos` (lengths at most `limit`, which does not
/// reach past the input) into `out`, returns their number, then adds `pos`. `out` may be
/// null to add `pos` only.
uint32_t jc_chain_matches(JcChainFinder& f, uint32_t pos, uint32_t depth, uint32_t limit,
                          JcMatch* out);

void jc_tree_init(JcTreeFinder& f, const uint8_t* data, uint32_t size, uint32_t window_bits,
                  uint32_t depth, uint32_t nice);

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
