// Parsers: they cut the input into tokens, priced in bits under the plan's literal modes
// and index shifts.
#include <algorithm>

#include "jc/jc_encode_internal.h"
#include "jc/jc_match_finder.h"

namespace {

// ---- Greedy and lazy parsing -------------------------------------------------------

/// A lazy parser keeps a match unless the next position offers this many bits more.
constexpr int64_t kLazyMargin = 8;

struct Choice {
  JcToken token;
  int64_t gain;  ///< bits saved against coding the bytes one by one
};

JcToken single_byte(const uint8_t* data, uint32_t pos) {
  if (data[pos] == 0) return {1, 0, JcTokenKind::zero};
  const uint32_t offset = jc_one_byte_offset(data, pos);
  if (offset != 0) return {1, offset, JcTokenKind::one_byte};
  return {1, 0, JcTokenKind::literal};
}

}  // namespace

struct JcGreedyState {
  const uint8_t* data;
  uint32_t size;
  JcLevel level;
  JcChainFinder finder;
  std::vector<JcMatch> found;
  uint32_t rep = kJcStartLastOffset;  ///< last offset after the tokens parsed so far
};

namespace {

/// The best token at `pos` with `rep` as the last offset, reaching at most to `end`; adds
/// `pos` to the finder.
Choice choose(JcGreedyState& p, const JcPlan& plan, uint32_t pos, uint32_t end, uint32_t rep) {
  const int64_t byte_price = jc_plan_mode(plan, pos) == kJcEightBitLiterals ? 9 : 8;
  const JcToken single = single_byte(p.data, pos);
  Choice best{single, single.kind == JcTokenKind::literal ? 0 : byte_price - kJcNibbleTokenBits};
  const auto consider = [&](uint32_t length, uint32_t offset, uint32_t price) {
    if (price == kJcInfiniteCost) return;
    const int64_t gain = int64_t(length) * byte_price - price;
    if (gain > best.gain) best = {{length, offset, JcTokenKind::match}, gain};
  };
  const uint32_t limit = end - pos;
  if (p.level.repeats && rep <= pos) {
    const uint32_t length = jc_common_length(p.data, pos - rep, pos, limit);
    if (length >= kJcMinMatchLength) consider(length, rep, jc_repeat_price(length));
  }
  const uint32_t count = jc_chain_matches(p.finder, pos, p.level.depth, limit, p.found.data());
  const uint32_t shift = jc_plan_shift(plan, pos);
  for (uint32_t k = 0; k < count; ++k) {
    const JcMatch m = p.found[k];
    if (m.offset <= kJcMaxShortOffset) {
      const uint32_t short_length = std::min(m.length, kJcMaxShortLength);
      consider(short_length, m.offset, kJcShortTokenBits);
    }
    consider(m.length, m.offset, jc_match_price(m.offset, m.length, shift));
  }
  return best;
}

}  // namespace

JcGreedyState* jc_greedy_new(const uint8_t* data, uint32_t size, const JcLevel& level) {
  JcGreedyState* p = new JcGreedyState{data, size, level, {}, {}};
  try {
    p->found.resize(level.depth + 1);
    jc_chain_init(p->finder, data, size, level.window_bits);
  } catch (...) {
    delete p;
    throw;
  }
  return p;
}

void jc_parser_free(JcGreedyState* state) {
  delete state;
}

uint64_t jc_greedy_memory(uint32_t size, const JcLevel& level) {
  return sizeof(JcGreedyState) + uint64_t(level.depth + 1) * sizeof(JcMatch) +
         jc_chain_memory(size, level.window_bits);
}

void jc_parse_greedy(JcGreedyState& p, const JcPlan& plan, uint32_t start, uint32_t end,
                     std::vector<JcToken>& tokens) {
  uint32_t rep = p.rep;
  Choice next{};
  bool have_next = false;
  for (uint32_t pos = start; pos < end;) {
    const Choice here = have_next ? next : choose(p, plan, pos, end, rep);
    have_next = false;
    if (p.level.lazy && here.token.kind == JcTokenKind::match && pos + 1 < end) {
      next = choose(p, plan, pos + 1, end, rep);
      have_next = true;
      if (next.gain > here.gain + kLazyMargin) {
        tokens.push_back(single_byte(p.data, pos));
        ++pos;
        continue;
      }
    }
    tokens.push_back(here.token);
    if (here.token.kind == JcTokenKind::match) rep = here.token.offset;
    const uint32_t token_end = pos + here.token.length;
    for (uint32_t q = pos + (have_next ? 2 : 1); q < token_end; ++q) {
      jc_chain_matches(p.finder, q, 0, 0, nullptr);
    }
    if (here.token.length > 1) have_next = false;
    pos = token_end;
  }
  p.rep = rep;
}

// ---- Optimal parsing -------------------------------------------------------------------
//
// A forward pass over the positions keeps, for each position, up to `slots` cheapest ways
// of arriving there, each with its own last offset (at most one arrival per last offset).
// From every arrival the pass extends single bytes, repeat matches with that arrival's
// last offset, and raw chunks; from the cheapest arrival, which is all a new offset needs,
// short matches and every length of every match the tree finder lists. A match as long as
// the finder's `nice` length is taken whole, and the positions it covers are only added to
// the finders. The cheapest arrival at the end is followed back to give the tokens.
//
// The input is parsed one segment at a time, so the arrival table is bounded by the
// segment; matches reach back across segments as far as the finders' window.

namespace {

struct Arrival {
  uint32_t cost;  ///< bits from the start of the segment
  uint32_t rep;   ///< last offset after the token (a match's own offset)
  uint32_t from;  ///< segment position where the token starts
  JcTokenKind kind;
  uint8_t from_slot;
};

}  // namespace

struct JcOptimalState {
  const uint8_t* data;
  JcLevel level;
  JcTreeFinder tree;
  JcNearFinder near;
  std::vector<JcMatch> found;
  std::vector<Arrival> arrivals;  ///< `slots` per segment position, cheapest first
  std::vector<uint8_t> filled;    ///< arrivals held per segment position
  std::vector<JcToken> reversed;  ///< the tokens of a segment, last first
  const JcPlan* plan = nullptr;
  uint32_t rep = kJcStartLastOffset;  ///< last offset after the tokens parsed so far
};

namespace {

/// Offers an arrival at segment position `to`; it is kept when it is among the `slots`
/// cheapest there and no cheaper arrival has the same last offset.
[[gnu::always_inline]] inline void relax(JcOptimalState& p, uint32_t to, const Arrival& offer) {
  const uint32_t slots = p.level.slots;
  Arrival* at = &p.arrivals[size_t(to) * slots];
  uint32_t n = p.filled[to];
  for (uint32_t k = 0; k < n; ++k) {
    if (at[k].rep == offer.rep) {
      if (offer.cost >= at[k].cost) return;
      std::copy(at + k + 1, at + n, at + k);
      --n;
      break;
    }
  }
  if (n == slots) {
    if (offer.cost >= at[n - 1].cost) return;
    --n;
  }
  uint32_t k = n;
  while (k > 0 && at[k - 1].cost > offer.cost) {
    at[k] = at[k - 1];
    --k;
  }
  at[k] = offer;
  p.filled[to] = uint8_t(n + 1);
}

/// Extends every arrival at `pos` (segment position `at`); returns the end of a repeat
/// match of nice length or more found on the way (0 if none).
uint32_t extend_arrivals(JcOptimalState& p, uint32_t pos, uint32_t at, uint32_t limit) {
  const uint8_t* data = p.data;
  const JcToken single = single_byte(data, pos);
  const uint16_t mode = jc_plan_mode(*p.plan, pos);
  const uint32_t single_price =
      single.kind == JcTokenKind::literal ? jc_literal_price(mode, data[pos]) : kJcNibbleTokenBits;
  uint32_t long_end = 0;
  for (uint32_t k = 0; k < p.filled[at]; ++k) {
    const Arrival a = p.arrivals[size_t(at) * p.level.slots + k];
    const uint8_t slot = uint8_t(k);
    if (single.kind != JcTokenKind::literal || jc_literal_fits(mode, data[pos])) {
      relax(p, at + 1, {a.cost + single_price, a.rep, at, single.kind, slot});
    }
    if (limit >= kJcRawChunk) {
      relax(p, at + kJcRawChunk,
            {a.cost + kJcRawRunStartBits + kJcRawChunkBits, a.rep, at, JcTokenKind::raw, slot});
    }
    if (!p.level.repeats || a.rep > pos) continue;
    const uint32_t length = jc_common_length(data, pos - a.rep, pos, limit);
    const uint32_t last = std::min(length, p.level.nice);
    for (uint32_t l = kJcMinMatchLength; l <= last; ++l) {
      relax(p, at + l, {a.cost + jc_repeat_price(l), a.rep, at, JcTokenKind::match, slot});
    }
    if (length > last) {
      relax(p, at + length,
            {a.cost + jc_repeat_price(length), a.rep, at, JcTokenKind::match, slot});
    }
    if (length >= p.level.nice) long_end = std::max(long_end, pos + length);
  }
  return long_end;
}

/// Extends the cheapest arrival at `pos` by the matches found there; returns the end of a
/// match of nice length or more (0 if none).
uint32_t extend_matches(JcOptimalState& p, uint32_t pos, uint32_t at, uint32_t limit,
                        uint32_t count, JcMatch near) {
  const Arrival best = p.arrivals[size_t(at) * p.level.slots];
  // The short-match finder sees the whole input; its match ends at the segment's end too.
  const uint32_t near_length = std::min(near.length, limit);
  for (uint32_t l = kJcMinMatchLength; l <= near_length; ++l) {
    relax(p, at + l, {best.cost + kJcShortTokenBits, near.offset, at, JcTokenKind::match, 0});
  }
  const uint32_t shift = jc_plan_shift(*p.plan, pos);
  uint32_t shorter = kJcMinMatchLength - 1;
  for (uint32_t k = 0; k < count; ++k) {
    const JcMatch m = p.found[k];
    const uint32_t length = std::min(m.length, limit);
    for (uint32_t l = shorter + 1; l <= length; ++l) {
      const uint32_t price = jc_match_price(m.offset, l, shift);
      if (price == kJcInfiniteCost) continue;
      relax(p, at + l, {best.cost + price, m.offset, at, JcTokenKind::match, 0});
    }
    shorter = std::max(shorter, length);
  }
  if (count == 0 || p.found[count - 1].length < p.level.nice) return 0;
  const JcMatch longest = p.found[count - 1];
  const uint32_t length = jc_common_length(p.data, pos - longest.offset, pos, limit);
  // Cut short by the segment's end, a far match may be too short for its offset; then the
  // positions it covers are parsed as usual.
  const uint32_t price = jc_match_price(longest.offset, length, shift);
  if (price == kJcInfiniteCost) return 0;
  relax(p, at + length, {best.cost + price, longest.offset, at, JcTokenKind::match, 0});
  return pos + length;
}

}  // namespace

JcOptimalState* jc_optimal_new(const uint8_t* data, uint32_t size, const JcLevel& level) {
  JcOptimalState* p = new JcOptimalState{data, level, {}, {}, {}, {}, {}, {}};
  try {
    p->found.resize(level.nice + 1);
    jc_tree_init(p->tree, data, size, level.window_bits, level.depth, level.nice);
    jc_near_init(p->near, data, size);
  } catch (...) {
    delete p;
    throw;
  }
  return p;
}

void jc_parser_free(JcOptimalState* state) {
  delete state;
}

uint64_t jc_optimal_memory(uint32_t size, const JcLevel& level, uint32_t segment) {
  const uint64_t positions = uint64_t(std::min(size, segment)) + 1;
  return sizeof(JcOptimalState) + uint64_t(level.nice + 1) * sizeof(JcMatch) +
         jc_tree_memory(size, level.window_bits) + jc_near_memory() +
         positions * (level.slots * sizeof(Arrival) + 1 + sizeof(JcToken));
}

void jc_parse_optimal(JcOptimalState& p, const JcPlan& plan, uint32_t start, uint32_t end,
                      std::vector<JcToken>& tokens) {
  const uint32_t n = end - start;
  const uint32_t slots = p.level.slots;
  p.plan = &plan;
  p.arrivals.resize(size_t(n + 1) * slots);
  p.filled.assign(n + 1, 0);
  p.arrivals[0] = {0, p.rep, 0, JcTokenKind::literal, 0};
  p.filled[0] = 1;
  uint32_t skip_to = start;
  for (uint32_t pos = start; pos < end; ++pos) {
    const uint32_t at = pos - start;
    if (pos < skip_to) {
      jc_tree_matches(p.tree, pos, nullptr);
      jc_near_match(p.near, pos);
      continue;
    }
    const uint32_t count = jc_tree_matches(p.tree, pos, p.found.data());
    const JcMatch near = jc_near_match(p.near, pos);
    if (p.filled[at] == 0) continue;
    const uint32_t limit = end - pos;
    const uint32_t long_repeat = extend_arrivals(p, pos, at, limit);
    const uint32_t long_match = extend_matches(p, pos, at, limit, count, near);
    skip_to = std::max({skip_to, long_repeat, long_match});
  }
  // Follow the cheapest arrival at the end back to the start.
  p.reversed.clear();
  uint32_t at = n;
  uint32_t slot = 0;
  p.rep = p.arrivals[size_t(n) * slots].rep;
  while (at > 0) {
    const Arrival& a = p.arrivals[size_t(at) * slots + slot];
    uint32_t offset = 0;
    if (a.kind == JcTokenKind::match) offset = a.rep;
    if (a.kind == JcTokenKind::one_byte) offset = jc_one_byte_offset(p.data, start + a.from);
    p.reversed.push_back({at - a.from, offset, a.kind});
    at = a.from;
    slot = a.from_slot;
  }
  tokens.insert(tokens.end(), p.reversed.rbegin(), p.reversed.rend());
  p.plan = nullptr;
}
