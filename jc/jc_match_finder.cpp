#include "jc/jc_match_finder.h"

namespace {

constexpr uint32_t kMaxHash3Bits = 18;
constexpr uint32_t kMinHash3Bits = 8;
constexpr uint32_t kMinWindowBits = 8;
constexpr uint32_t kNearSteps = 16;  ///< chain steps a short-match query takes at most
constexpr uint32_t kNearHashSize = 1u << 16;

/// Table bits for `size` bytes of input: small inputs get small tables.
uint32_t hash3_bits(uint32_t size) {
  uint32_t bits = kMinHash3Bits;
  while (bits < kMaxHash3Bits && (uint64_t(1) << bits) < uint64_t(size) * 2) ++bits;
  return bits;
}

uint32_t hash3(const uint8_t* p, uint32_t bits) {
  const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  return (v * 2654435761u) >> (32 - bits);
}

uint32_t hash2(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

/// Whether `cand` is a position still inside the window that ends before `pos`.
inline bool in_window(uint32_t cand, uint32_t pos, uint32_t window_mask) {
  return cand != kJcNoPosition && pos - cand <= window_mask;
}

}  // namespace

uint32_t jc_window_size(uint32_t size, uint32_t window_bits) {
  uint32_t bits = kMinWindowBits;
  while (bits < window_bits && (uint64_t(1) << bits) < size) ++bits;
  return uint32_t(1) << bits;
}

uint64_t jc_chain_memory(uint32_t size, uint32_t window_bits) {
  return (uint64_t(1) << hash3_bits(size)) * 4 + uint64_t(jc_window_size(size, window_bits)) * 4;
}

uint64_t jc_tree_memory(uint32_t size, uint32_t window_bits) {
  return (uint64_t(1) << hash3_bits(size)) * 4 + uint64_t(jc_window_size(size, window_bits)) * 8;
}

uint64_t jc_near_memory() {
  return uint64_t(kNearHashSize) * 4 + kJcNearRing * 4;
}

void jc_chain_init(JcChainFinder& f, const uint8_t* data, uint32_t size, uint32_t window_bits) {
  f.data = data;
  f.size = size;
  f.hash_bits = hash3_bits(size);
  const uint32_t window = jc_window_size(size, window_bits);
  f.window_mask = window - 1;
  f.head.assign(size_t(1) << f.hash_bits, kJcNoPosition);
  f.prev.assign(window, kJcNoPosition);
}

uint32_t jc_chain_matches(JcChainFinder& f, uint32_t pos, uint32_t depth, uint32_t limit,
                          JcMatch* out) {
  if (f.size - pos < kJcHashMinLength) return 0;
  const uint32_t h = hash3(f.data + pos, f.hash_bits);
  uint32_t count = 0;
  uint32_t best = 1;
  if (out != nullptr && limit > best) {
    for (uint32_t cand = f.head[h]; in_window(cand, pos, f.window_mask) && depth > 0;
         cand = f.prev[cand & f.window_mask], --depth) {
      if (f.data[cand + best] != f.data[pos + best]) continue;
      const uint32_t length = jc_common_length(f.data, cand, pos, limit);
      if (length > best) {
        best = length;
        out[count++] = {length, pos - cand};
        if (length >= limit) break;
      }
    }
  }
  f.prev[pos & f.window_mask] = f.head[h];
  f.head[h] = pos;
  return count;
}

void jc_tree_init(JcTreeFinder& f, const uint8_t* data, uint32_t size, uint32_t window_bits,
                  uint32_t depth, uint32_t nice) {
  f.data = data;
  f.size = size;
  f.depth = depth;
  f.nice = nice;
  f.hash_bits = hash3_bits(size);
  const uint32_t window = jc_window_size(size, window_bits);
  f.window_mask = window - 1;
  f.head.assign(size_t(1) << f.hash_bits, kJcNoPosition);
  f.smaller.assign(window, kJcNoPosition);
  f.greater.assign(window, kJcNoPosition);
}

uint32_t jc_tree_matches(JcTreeFinder& f, uint32_t pos, JcMatch* out) {
  const uint32_t available = f.size - pos;
  if (available < kJcHashMinLength) return 0;
  const uint32_t limit = available < f.nice ? available : f.nice;
  const uint8_t* data = f.data;
  const uint32_t mask = f.window_mask;
  const uint32_t h = hash3(data + pos, f.hash_bits);
  uint32_t cand = f.head[h];
  f.head[h] = pos;
  // The new position becomes the root; the walk splits the old tree into the part that
  // sorts before it (hung on `smaller_link`) and the part after it (`greater_link`). A
  // subtree below a node that has left the window is cut off.
  uint32_t* smaller_link = &f.smaller[pos & mask];
  uint32_t* greater_link = &f.greater[pos & mask];
  uint32_t smaller_length = 0;  // bytes every node on the smaller side shares with pos
  uint32_t greater_length = 0;
  uint32_t best = 1;
  uint32_t count = 0;
  for (uint32_t steps = f.depth; in_window(cand, pos, mask) && steps > 0; --steps) {
    const uint32_t length = jc_common_length(
        data, cand, pos, limit, smaller_length < greater_length ? smaller_length : greater_length);
    if (length > best) {
      best = length;
      if (out != nullptr) out[count++] = {length, pos - cand};
    }
    if (length >= limit) {
      // As good as the new position for every later query: take over its subtrees.
      *smaller_link = f.smaller[cand & mask];
      *greater_link = f.greater[cand & mask];
      return count;
    }
    if (data[cand + length] < data[pos + length]) {
      *smaller_link = cand;
      smaller_link = &f.greater[cand & mask];
      cand = *smaller_link;
      smaller_length = length;
    } else {
      *greater_link = cand;
      greater_link = &f.smaller[cand & mask];
      cand = *greater_link;
      greater_length = length;
    }
  }
  *smaller_link = kJcNoPosition;
  *greater_link = kJcNoPosition;
  return count;
}

void jc_near_init(JcNearFinder& f, const uint8_t* data, uint32_t size) {
  f.data = data;
  f.size = size;
  f.head.assign(kNearHashSize, kJcNoPosition);
  f.prev.assign(kJcNearRing, kJcNoPosition);
}

JcMatch jc_near_match(JcNearFinder& f, uint32_t pos) {
  JcMatch best{0, 0};
  const uint32_t available = f.size - pos;
  if (available < kJcMinMatchLength) return best;
  const uint32_t limit = available < kJcMaxShortLength ? available : kJcMaxShortLength;
  const uint32_t h = hash2(f.data + pos);
  uint32_t steps = kNearSteps;
  // Offsets of at most 127 stay inside the ring of 128 slots.
  for (uint32_t cand = f.head[h];
       cand != kJcNoPosition && pos - cand <= kJcMaxShortOffset && steps > 0 && best.length < limit;
       cand = f.prev[cand % kJcNearRing], --steps) {
    const uint32_t length = jc_common_length(f.data, cand, pos, limit);
    if (length > best.length) best = {length, pos - cand};
  }
  f.prev[pos % kJcNearRing] = f.head[h];
  f.head[h] = pos;
  return best;
}
