// The encoder's frame: level settings, the plan of literal modes and index shifts, the
// folding of incompressible stretches into raw runs, and the emitter.
#include "jc/jc_encode.h"

#include <algorithm>
#include <array>

#include "jc/jc_encode_internal.h"

namespace {

constexpr std::array<JcLevel, kJcMaxLevel> kLevels = {{
    {false, false, 4, 32, 1},
    {false, false, 16, 64, 1},
    {false, true, 32, 128, 1},
    {false, true, 128, 256, 1},
    {true, false, 8, 32, 1},
    {true, false, 16, 64, 2},
    {true, false, 24, 96, 2},
    {true, false, 24, 96, 3},
    {true, false, 32, 128, 4},
}};

/// The parse that the index-shift plan of the optimal levels is drawn from.
constexpr int kPlanningLevel = 2;

// ---- Literal modes ---------------------------------------------------------------------
//
// A stretch of input whose non-zero bytes all lie in one window of 128 values (mod 256)
// can take 7-bit literals above the window's base; zero bytes have a token of their own.
// Stretches are grown greedily from the left; one that is long enough to repay the two
// literal-size changes gets 7-bit literals.

constexpr uint32_t kMinSevenBitStretch = 256;

/// A set of byte values.
struct ByteSet {
  std::array<uint64_t, 4> words{};
  bool has(uint8_t b) const { return (words[b >> 6] >> (b & 63)) & 1; }
  void flip(uint8_t b) { words[b >> 6] ^= uint64_t(1) << (b & 63); }
};

/// The set moved up by `k` (1 to 64) values, wrapping from 255 to 0.
ByteSet rotate(const ByteSet& s, uint32_t k) {
  ByteSet r;
  for (uint32_t w = 0; w < 4; ++w) {
    const uint64_t below = s.words[(w + 3) % 4];
    r.words[w] = k == 64 ? below : (s.words[w] << k) | (below >> (64 - k));
  }
  return r;
}

/// Finds a base such that every value of `s` lies in [base, base + 127] (mod 256).
bool seven_bit_window(const ByteSet& s, uint8_t* base) {
  // After the doublings, value x is in `covered` when any of x-127 .. x is in the set; a
  // value outside `covered` ends a gap of 128 absent values.
  ByteSet covered = s;
  for (uint32_t k = 1; k <= 64; k *= 2) {
    const ByteSet moved = rotate(covered, k);
    for (uint32_t w = 0; w < 4; ++w) covered.words[w] |= moved.words[w];
  }
  for (uint32_t w = 0; w < 4; ++w) {
    if (~covered.words[w] != 0) {
      *base = uint8_t(w * 64 + uint32_t(__builtin_ctzll(~covered.words[w])) + 1);
      return true;
    }
  }
  return false;
}

std::vector<uint16_t> plan_literal_modes(const uint8_t* data, uint32_t size) {
  std::vector<uint16_t> modes(size, kJcEightBitLiterals);
  uint8_t base = 0;
  for (uint32_t start = 0; start < size;) {
    ByteSet set;
    uint32_t end = start;
    for (; end < size; ++end) {
      const uint8_t b = data[end];
      if (b == 0 || set.has(b)) continue;
      set.flip(b);
      if (!seven_bit_window(set, &base)) {
        set.flip(b);
        break;
      }
    }
    if (end - start >= kMinSevenBitStretch && seven_bit_window(set, &base)) {
      std::fill(modes.begin() + start, modes.begin() + end, base);
    }
    start = end;
  }
  return modes;
}

// ---- Index shifts ----------------------------------------------------------------------
//
// The input is cut into segments; for each, the full matches of a parse are priced under
// every shift, and a shortest path over (segment, shift) with the price of a change
// between segments picks the shift of each segment.

constexpr uint32_t kShiftSegment = 2048;
constexpr uint32_t kMaxPlannedShift = 24;

uint32_t shift_change_price(uint32_t shift) {
  return 12 + (shift < 16 ? 4 : 5);
}

/// Whether the emitter codes this match as a full match (not a repeat or short match).
bool is_full_match(const JcToken& t, uint32_t last_offset) {
  return t.kind == JcTokenKind::match && t.offset != last_offset &&
         !(t.offset <= kJcMaxShortOffset && t.length <= kJcMaxShortLength);
}

std::vector<uint8_t> plan_index_shifts(const std::vector<JcToken>& tokens, uint32_t size) {
  using Prices = std::array<uint64_t, kMaxPlannedShift + 1>;
  const uint32_t segments = (size + kShiftSegment - 1) / kShiftSegment;
  std::vector<Prices> price(segments, Prices{});
  uint32_t pos = 0;
  uint32_t last_offset = kJcStartLastOffset;
  for (const JcToken& t : tokens) {
    if (is_full_match(t, last_offset)) {
      for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
        price[pos / kShiftSegment][s] += s + jc_gamma_bits((t.offset >> s) + 3);
      }
    }
    if (t.kind == JcTokenKind::match) last_offset = t.offset;
    pos += t.length;
  }
  std::vector<std::array<uint8_t, kMaxPlannedShift + 1>> came_from(segments);
  Prices total{};
  for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
    total[s] = s == kJcStartIndexShift ? 0 : shift_change_price(s);
  }
  for (uint32_t g = 0; g < segments; ++g) {
    uint32_t cheapest = 1;
    for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
      if (total[s] < total[cheapest]) cheapest = s;
    }
    Prices next{};
    for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
      const uint64_t changed = total[cheapest] + shift_change_price(s);
      const bool stay = g == 0 || total[s] <= changed;
      came_from[g][s] = uint8_t(stay ? s : cheapest);
      next[s] = (stay ? total[s] : changed) + price[g][s];
    }
    total = next;
  }
  std::vector<uint8_t> shifts(size, uint8_t(kJcStartIndexShift));
  uint32_t s = 1;
  for (uint32_t k = 1; k <= kMaxPlannedShift; ++k) {
    if (total[k] < total[s]) s = k;
  }
  for (uint32_t g = segments; g-- > 0;) {
    const uint32_t begin = g * kShiftSegment;
    const uint32_t end = std::min(size, begin + kShiftSegment);
    std::fill(shifts.begin() + begin, shifts.begin() + end, uint8_t(s));
    s = came_from[g][s];
  }
  return shifts;
}

// ---- Raw runs --------------------------------------------------------------------------

bool is_single_byte(const JcToken& t) {
  return t.kind == JcTokenKind::literal || t.kind == JcTokenKind::zero ||
         t.kind == JcTokenKind::one_byte;
}

/// Replaces every 256 single-byte tokens that cost more than a raw chunk by one.
std::vector<JcToken> fold_raw_runs(const uint8_t* data, const JcPlan& plan,
                                   const std::vector<JcToken>& tokens) {
  std::vector<JcToken> out;
  out.reserve(tokens.size());
  uint32_t pos = 0;
  size_t window_start = 0;  // first token of the current window of single-byte tokens
  uint32_t window_pos = 0;
  uint64_t window_price = 0;
  const auto price = [&](const JcToken& t, uint32_t at) {
    return t.kind == JcTokenKind::literal ? jc_literal_price(plan.literal_mode[at], data[at])
                                          : kJcNibbleTokenBits;
  };
  for (size_t i = 0; i <= tokens.size(); ++i) {
    if (i == tokens.size() || !is_single_byte(tokens[i])) {
      out.insert(out.end(), tokens.begin() + window_start, tokens.begin() + i);
      if (i == tokens.size()) break;
      out.push_back(tokens[i]);
      pos += tokens[i].length;
      window_start = i + 1;
      window_pos = pos;
      window_price = 0;
      continue;
    }
    window_price += price(tokens[i], pos);
    ++pos;
    if (i + 1 - window_start < kJcRawChunk) continue;
    const bool extends = !out.empty() && out.back().kind == JcTokenKind::raw;
    if (window_price > kJcRawChunkBits + (extends ? 0 : kJcRawRunStartBits)) {
      out.push_back({kJcRawChunk, 0, JcTokenKind::raw});
      window_price = 0;
      window_start = i + 1;
    } else {
      window_price -= price(tokens[window_start], window_pos);
      out.push_back(tokens[window_start++]);
    }
    window_pos = pos - uint32_t(i + 1 - window_start);
  }
  return out;
}

// ---- Emitter ---------------------------------------------------------------------------

struct Emitter {
  JcBitWriter w;
  const uint8_t* data;
  uint32_t last_offset = kJcStartLastOffset;
  uint32_t shift = kJcStartIndexShift;
  uint16_t mode = kJcEightBitLiterals;
};

void set_literal_mode(Emitter& e, uint16_t mode) {
  e.mode = mode;
  if (mode == kJcEightBitLiterals) {
    jc_put_literal_size(e.w, 8, 0);
  } else {
    jc_put_literal_size(e.w, 7, mode);
  }
}

void emit_literal(Emitter& e, const JcPlan& plan, uint32_t pos) {
  const uint8_t b = e.data[pos];
  if (!jc_literal_fits(e.mode, b)) {
    set_literal_mode(e, jc_literal_fits(plan.literal_mode[pos], b) ? plan.literal_mode[pos]
                                                                   : kJcEightBitLiterals);
  }
  if (e.mode == kJcEightBitLiterals) {
    jc_put_literal(e.w, b, 8);
  } else {
    jc_put_literal(e.w, uint8_t(b - e.mode), 7);
  }
}

bool emit_match(Emitter& e, const JcPlan& plan, uint32_t pos, const JcToken& t) {
  if (t.length < kJcMinMatchLength || t.offset == 0 || t.offset > pos) return false;
  if (t.offset == e.last_offset) {
    jc_put_repeat(e.w, t.length);
    return true;
  }
  e.last_offset = t.offset;
  if (t.offset <= kJcMaxShortOffset && t.length <= kJcMaxShortLength) {
    jc_put_short(e.w, t.offset, t.length);
    return true;
  }
  const uint32_t adjustment = jc_length_adjustment(t.offset);
  if (t.length < adjustment + kJcMinMatchLength) return false;
  if (plan.index_shift[pos] != e.shift) {
    e.shift = plan.index_shift[pos];
    jc_put_index_shift(e.w, e.shift, e.shift < 16 ? 4 : 5);
  }
  jc_put_match(e.w, t.offset, e.shift, t.length - adjustment);
  return true;
}

/// Writes the tokens as the stream of a block appended to `block`; false when the tokens
/// do not describe the input (a fault of a parser).
bool emit(const uint8_t* data, uint32_t size, const JcPlan& plan,
          const std::vector<JcToken>& tokens, std::vector<uint8_t>& block) {
  Emitter e{{&block}, data};
  set_literal_mode(e, size > 0 ? plan.literal_mode[0] : kJcEightBitLiterals);
  uint32_t pos = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const JcToken& t = tokens[i];
    if (uint64_t(pos) + t.length > size) return false;
    switch (t.kind) {
      case JcTokenKind::literal:
        emit_literal(e, plan, pos);
        break;
      case JcTokenKind::zero:
        if (data[pos] != 0) return false;
        jc_put_nibble_byte(e.w, 0);
        break;
      case JcTokenKind::one_byte:
        if (t.offset == 0 || t.offset > std::min(pos, kJcMaxOneByteOffset) ||
            data[pos - t.offset] != data[pos]) {
          return false;
        }
        jc_put_nibble_byte(e.w, t.offset);
        break;
      case JcTokenKind::match:
        if (!emit_match(e, plan, pos, t)) return false;
        break;
      case JcTokenKind::raw: {
        uint32_t length = t.length;
        while (i + 1 < tokens.size() && tokens[i + 1].kind == JcTokenKind::raw) {
          length += tokens[++i].length;
        }
        if (length % kJcRawChunk != 0 || uint64_t(pos) + length > size) return false;
        jc_put_raw_run(e.w, data + pos, length);
        pos += length;
        continue;
      }
    }
    pos += t.length;
  }
  jc_put_end(e.w);
  jc_flush_bits(e.w);
  return pos == size;
}

}  // namespace

bool jc_encode(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* block) {
  return jc_encode_tuned(data, size, level, JcTuning{}, block);
}

bool jc_encode_tuned(const uint8_t* data, size_t size, int level, const JcTuning& tuning,
                     std::vector<uint8_t>* block) {
  if (level < kJcMinLevel || level > kJcMaxLevel || size > kJcMaxInputSize) return false;
  const uint32_t n = uint32_t(size);
  JcLevel settings = kLevels[level - 1];
  settings.repeats = tuning.repeat_matches;
  JcPlan plan{plan_literal_modes(data, n), std::vector<uint8_t>(n, kJcStartIndexShift)};
  std::vector<JcToken> tokens;
  if (settings.optimal) {
    if (tuning.plan_index_shifts) {
      JcLevel planning = kLevels[kPlanningLevel - 1];
      planning.repeats = tuning.repeat_matches;
      plan.index_shift = plan_index_shifts(jc_parse_greedy(data, n, plan, planning), n);
    }
    tokens = jc_parse_optimal(data, n, plan, settings);
  } else {
    tokens = jc_parse_greedy(data, n, plan, settings);
    if (tuning.plan_index_shifts) plan.index_shift = plan_index_shifts(tokens, n);
  }
  tokens = fold_raw_runs(data, plan, tokens);
  std::vector<uint8_t> out(kJcHeaderSize);
  jc_write_header(out.data(), {n, jc_checksum(data, size)});
  if (!emit(data, n, plan, tokens, out)) return false;
  *block = std::move(out);
  return true;
}
