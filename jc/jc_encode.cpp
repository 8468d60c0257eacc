// The encoder's frame: level settings, the plan of literal modes and index shifts, the
// folding of incompressible stretches into raw runs, and the emitter.
#include "jc/jc_encode.h"

#include <algorithm>
#include <array>

#include "jc/jc_encode_internal.h"

namespace {

// Window bits: the greedy levels look back 8 or 16 MiB (hash chains, 4 bytes per window
// position), the optimal ones 16 MiB (binary trees, 8 bytes per window position).
constexpr std::array<JcLevel, kJcMaxLevel> kLevels = {{
    {false, false, 4, 32, 1, 23},
    {false, false, 16, 64, 1, 23},
    {false, true, 32, 128, 1, 24},
    {false, true, 128, 256, 1, 24},
    {true, false, 8, 32, 1, 24},
    {true, false, 16, 64, 2, 24},
    {true, false, 24, 96, 2, 24},
    {true, false, 24, 96, 3, 24},
    {true, false, 32, 128, 4, 24},
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

/// The stretch of literal modes that the planner is in: [.., end) takes `mode`.
struct StretchCursor {
  uint32_t end = 0;
  uint16_t mode = kJcEightBitLiterals;
};

/// Grows the stretch that starts at `start` (the end of the previous one) and makes it the
/// cursor's: as far as its non-zero bytes fit one window of 128 values.
void next_stretch(StretchCursor& c, const uint8_t* data, uint32_t size, uint32_t start) {
  ByteSet set;
  uint8_t base = 0;
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
  const bool seven = end - start >= kMinSevenBitStretch && seven_bit_window(set, &base);
  c.end = end;
  c.mode = seven ? base : kJcEightBitLiterals;
}

/// Fills `plan.literal_mode` for [plan.start, end); stretches run on across segments.
void plan_literal_modes(StretchCursor& c, const uint8_t* data, uint32_t size, uint32_t end,
                        JcPlan& plan) {
  plan.literal_mode.resize(end - plan.start);
  for (uint32_t pos = plan.start; pos < end;) {
    if (pos >= c.end) next_stretch(c, data, size, pos);
    const uint32_t stop = std::min(end, c.end);
    std::fill(plan.literal_mode.begin() + (pos - plan.start),
              plan.literal_mode.begin() + (stop - plan.start), c.mode);
    pos = stop;
  }
}

// ---- Index shifts ----------------------------------------------------------------------
//
// The segment is cut into units of kJcShiftUnit bytes; for each, the full matches of a
// parse are priced under every shift, and a shortest path over (unit, shift) with the price
// of a change between units picks the shift of each unit, starting from the shift that the
// stream is in at the segment's start.

constexpr uint32_t kMaxPlannedShift = 24;

uint32_t shift_change_price(uint32_t shift) {
  return 12 + (shift < 16 ? 4 : 5);
}

/// Whether the emitter codes this match as a full match (not a repeat or short match).
bool is_full_match(const JcToken& t, uint32_t last_offset) {
  return t.kind == JcTokenKind::match && t.offset != last_offset &&
         !(t.offset <= kJcMaxShortOffset && t.length <= kJcMaxShortLength);
}

/// Fills `plan.unit_shift` for the segment [plan.start, end) from the `tokens` that parse
/// it, with `last_offset` and `shift` the stream's state at its start.
void plan_index_shifts(const std::vector<JcToken>& tokens, uint32_t end, uint32_t last_offset,
                       uint32_t start_shift, JcPlan& plan) {
  using Prices = std::array<uint64_t, kMaxPlannedShift + 1>;
  const uint32_t first_unit = plan.start / kJcShiftUnit;
  const uint32_t units = (end - 1) / kJcShiftUnit + 1 - first_unit;
  std::vector<Prices> price(units, Prices{});
  uint32_t pos = plan.start;
  for (const JcToken& t : tokens) {
    if (is_full_match(t, last_offset)) {
      Prices& p = price[pos / kJcShiftUnit - first_unit];
      for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
        p[s] += s + jc_gamma_bits((t.offset >> s) + 3);
      }
    }
    if (t.kind == JcTokenKind::match) last_offset = t.offset;
    pos += t.length;
  }
  std::vector<std::array<uint8_t, kMaxPlannedShift + 1>> came_from(units);
  Prices total{};
  for (uint32_t s = 1; s <= kMaxPlannedShift; ++s) {
    total[s] = s == start_shift ? 0 : shift_change_price(s);
  }
  for (uint32_t g = 0; g < units; ++g) {
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
  plan.unit_shift.resize(units);
  uint32_t s = 1;
  for (uint32_t k = 1; k <= kMaxPlannedShift; ++k) {
    if (total[k] < total[s]) s = k;
  }
  for (uint32_t g = units; g-- > 0;) {
    plan.unit_shift[g] = uint8_t(s);
    s = came_from[g][s];
  }
}

// ---- Raw runs --------------------------------------------------------------------------

bool is_single_byte(const JcToken& t) {
  return t.kind == JcTokenKind::literal || t.kind == JcTokenKind::zero ||
         t.kind == JcTokenKind::one_byte;
}

/// Replaces, in place, every 256 single-byte tokens of the segment that `tokens` parse
/// (from plan.start) that cost more than a raw chunk by one. `after_raw` tells whether the
/// stream before them ends in a raw run, which a chunk extends for less; it is updated.
void fold_raw_runs(const uint8_t* data, const JcPlan& plan, std::vector<JcToken>& tokens,
                   bool& after_raw) {
  // Every token written to `out` stands for one or more tokens read before `window_start`,
  // so the writes never overtake the reads.
  size_t out = 0;
  uint32_t pos = plan.start;
  size_t window_start = 0;  // first token of the current window of single-byte tokens
  uint32_t window_pos = pos;
  uint64_t window_price = 0;
  const auto price = [&](const JcToken& t, uint32_t at) {
    return t.kind == JcTokenKind::literal ? jc_literal_price(jc_plan_mode(plan, at), data[at])
                                          : kJcNibbleTokenBits;
  };
  const auto keep = [&](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) tokens[out++] = tokens[k];
  };
  const size_t count = tokens.size();
  for (size_t i = 0; i <= count; ++i) {
    if (i == count || !is_single_byte(tokens[i])) {
      keep(window_start, i);
      if (i == count) break;
      pos += tokens[i].length;
      keep(i, i + 1);
      window_start = i + 1;
      window_pos = pos;
      window_price = 0;
      continue;
    }
    window_price += price(tokens[i], pos);
    ++pos;
    if (i + 1 - window_start < kJcRawChunk) continue;
    const bool extends = out > 0 ? tokens[out - 1].kind == JcTokenKind::raw : after_raw;
    if (window_price > kJcRawChunkBits + (extends ? 0 : kJcRawRunStartBits)) {
      tokens[out++] = {kJcRawChunk, 0, JcTokenKind::raw};
      window_price = 0;
      window_start = i + 1;
    } else {
      window_price -= price(tokens[window_start], window_pos);
      keep(window_start, window_start + 1);
      ++window_start;
    }
    window_pos = pos - uint32_t(i + 1 - window_start);
  }
  tokens.resize(out);
  if (out > 0) after_raw = tokens[out - 1].kind == JcTokenKind::raw;
}

// ---- Emitter ---------------------------------------------------------------------------
//
// The emitter writes one segment's tokens after another into the block; its state (last
// offset, index shift, literal mode, a raw run still open) carries from one to the next.

struct Emitter {
  JcBitWriter w;
  const uint8_t* data;
  uint32_t pos = 0;  ///< input bytes the tokens written so far cover
  uint32_t last_offset = kJcStartLastOffset;
  uint32_t shift = kJcStartIndexShift;
  uint16_t mode = kJcEightBitLiterals;
  bool started = false;     ///< the first literal-size change has been written
  uint32_t raw_length = 0;  ///< bytes of a raw run not yet written, ending at `pos`
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
  const uint16_t planned = jc_plan_mode(plan, pos);
  if (!jc_literal_fits(e.mode, b)) {
    set_literal_mode(e, jc_literal_fits(planned, b) ? planned : kJcEightBitLiterals);
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
  const uint32_t shift = jc_plan_shift(plan, pos);
  if (shift != e.shift) {
    e.shift = shift;
    jc_put_index_shift(e.w, e.shift, e.shift < 16 ? 4 : 5);
  }
  jc_put_match(e.w, t.offset, e.shift, t.length - adjustment);
  return true;
}

/// Writes the raw run that is still open.
void flush_raw_run(Emitter& e) {
  if (e.raw_length == 0) return;
  jc_put_raw_run(e.w, e.data + (e.pos - e.raw_length), e.raw_length);
  e.raw_length = 0;
}

/// Writes one token at e.pos; false when it does not describe the input there.
bool emit_token(Emitter& e, const JcPlan& plan, uint32_t end, const JcToken& t) {
  const uint32_t pos = e.pos;
  if (t.length > end - pos) return false;
  if (t.kind == JcTokenKind::raw) {
    if (t.length != kJcRawChunk) return false;
    e.raw_length += t.length;
    e.pos += t.length;
    return true;
  }
  flush_raw_run(e);
  switch (t.kind) {
    case JcTokenKind::literal:
      emit_literal(e, plan, pos);
      break;
    case JcTokenKind::zero:
      if (e.data[pos] != 0) return false;
      jc_put_nibble_byte(e.w, 0);
      break;
    case JcTokenKind::one_byte:
      if (t.offset == 0 || t.offset > std::min(pos, kJcMaxOneByteOffset) ||
          e.data[pos - t.offset] != e.data[pos]) {
        return false;
      }
      jc_put_nibble_byte(e.w, t.offset);
      break;
    case JcTokenKind::match:
      if (!emit_match(e, plan, pos, t)) return false;
      break;
    case JcTokenKind::raw:
      break;
  }
  e.pos += t.length;
  return true;
}

/// Writes the tokens of the segment [plan.start, end); false when they do not describe it
/// (a fault of a parser).
bool emit_segment(Emitter& e, const JcPlan& plan, uint32_t end,
                  const std::vector<JcToken>& tokens) {
  if (e.pos != plan.start) return false;
  if (!e.started) {
    set_literal_mode(e, end > plan.start ? jc_plan_mode(plan, plan.start) : kJcEightBitLiterals);
    e.started = true;
  }
  for (const JcToken& t : tokens) {
    if (!emit_token(e, plan, end, t)) return false;
  }
  return e.pos == end;
}

/// Ends the stream: the open raw run, the end marker and the last word.
void emit_end(Emitter& e) {
  flush_raw_run(e);
  jc_put_end(e.w);
  jc_flush_bits(e.w);
}

// ---- The frame ---------------------------------------------------------------------------
//
// The input is encoded one segment at a time: literal modes planned, the segment parsed
// (the optimal levels first parse it greedily to plan its index shifts), its index shifts
// planned, raw runs folded, its tokens written. Only the match finders' windows and the
// segment's own tables are held, so the memory does not grow with the input.

/// Bytes the emitted block may take: the plain form (raw runs and 8-bit literals) and a
/// sixteenth more; the encoder's blocks stay well inside it.
uint64_t block_reserve(uint64_t size) {
  const uint64_t plain = kJcHeaderSize + (size / kJcRawChunk) * (kJcRawChunkBits / 8 + 1) +
                         (size % kJcRawChunk) * 2 + 16;
  return plain + plain / 16;
}

/// The level's settings for `size` bytes of input, with the tuning's overrides.
JcLevel level_settings(int level, uint64_t size, const JcTuning& tuning) {
  JcLevel settings = kLevels[level - 1];
  settings.repeats = tuning.repeat_matches;
  if (tuning.window_bits != 0) settings.window_bits = tuning.window_bits;
  const uint64_t large = tuning.large_input != 0 ? tuning.large_input : kJcLargeInput;
  if (settings.optimal && size >= large) {
    settings.depth = std::min(settings.depth, kJcLargeInputDepth);
    settings.nice = std::min(settings.nice, kJcLargeInputNice);
    settings.slots = std::min(settings.slots, kJcLargeInputSlots);
  }
  return settings;
}

/// The settings of the parse that the optimal levels plan their index shifts from.
JcLevel planning_settings(int level, uint64_t size, const JcTuning& tuning) {
  JcLevel settings = level_settings(kPlanningLevel, size, tuning);
  settings.window_bits = level_settings(level, size, tuning).window_bits;
  return settings;
}

uint32_t segment_size(const JcTuning& tuning) {
  return tuning.segment_size != 0 ? tuning.segment_size : kJcSegmentSize;
}

/// The parsers of one encoding, freed when it ends.
struct Parsers {
  JcGreedyState* greedy = nullptr;    ///< the level's parser, or the planning parse
  JcOptimalState* optimal = nullptr;  ///< the optimal levels' parser
  Parsers() = default;
  Parsers(const Parsers&) = delete;
  Parsers& operator=(const Parsers&) = delete;
  ~Parsers() {
    if (greedy != nullptr) jc_parser_free(greedy);
    if (optimal != nullptr) jc_parser_free(optimal);
  }
};

}  // namespace

bool jc_encode(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* block) {
  return jc_encode_tuned(data, size, level, JcTuning{}, block);
}

bool jc_encode_with_progress(const uint8_t* data, size_t size, int level, JcProgress progress,
                             void* context, std::vector<uint8_t>* block) {
  JcTuning tuning;
  tuning.progress = progress;
  tuning.progress_context = context;
  return jc_encode_tuned(data, size, level, tuning, block);
}

uint64_t jc_encode_memory(size_t size, int level) {
  if (level < kJcMinLevel || level > kJcMaxLevel || size > kJcMaxInputSize) return 0;
  const JcTuning tuning;
  const uint32_t n = uint32_t(size);
  const uint64_t segment = std::min<uint64_t>(n, segment_size(tuning));
  const uint64_t units = segment / kJcShiftUnit + 2;
  // Per segment: literal modes, the tokens of the parse and of the planning parse, the
  // unit shifts and their path.
  uint64_t bytes = block_reserve(n) + segment * (2 + 2 * sizeof(JcToken)) +
                   units * (1 + (kMaxPlannedShift + 1) * 9);
  const JcLevel settings = level_settings(level, n, tuning);
  if (settings.optimal) {
    bytes += jc_optimal_memory(n, settings, segment_size(tuning)) +
             jc_greedy_memory(n, planning_settings(level, n, tuning));
  } else {
    bytes += jc_greedy_memory(n, settings);
  }
  return bytes;
}

bool jc_encode_tuned(const uint8_t* data, size_t size, int level, const JcTuning& tuning,
                     std::vector<uint8_t>* block) {
  if (level < kJcMinLevel || level > kJcMaxLevel || size > kJcMaxInputSize) return false;
  const uint32_t segment = segment_size(tuning);
  if (segment == 0 || segment % kJcShiftUnit != 0) return false;
  const uint32_t n = uint32_t(size);
  const JcLevel settings = level_settings(level, n, tuning);
  Parsers parsers;
  if (settings.optimal) {
    parsers.optimal = jc_optimal_new(data, n, settings);
    if (tuning.plan_index_shifts) {
      parsers.greedy = jc_greedy_new(data, n, planning_settings(level, n, tuning));
    }
  } else {
    parsers.greedy = jc_greedy_new(data, n, settings);
  }
  std::vector<uint8_t> out;
  out.reserve(size_t(block_reserve(n)));
  out.resize(kJcHeaderSize);
  jc_write_header(out.data(), {n, jc_checksum(data, size)});
  Emitter e{{&out}, data};
  StretchCursor stretches;
  bool after_raw = false;
  JcPlan plan;
  std::vector<JcToken> tokens, planning;
  for (uint32_t start = 0; start < n;) {
    const uint32_t end = n - start > segment ? start + segment : n;
    plan.start = start;
    plan_literal_modes(stretches, data, n, end, plan);
    plan.unit_shift.assign((end - 1) / kJcShiftUnit + 1 - start / kJcShiftUnit, uint8_t(e.shift));
    tokens.clear();
    if (settings.optimal) {
      if (tuning.plan_index_shifts) {
        planning.clear();
        const uint32_t rep = e.last_offset;
        jc_parse_greedy(*parsers.greedy, plan, start, end, planning);
        plan_index_shifts(planning, end, rep, e.shift, plan);
      }
      jc_parse_optimal(*parsers.optimal, plan, start, end, tokens);
    } else {
      const uint32_t rep = e.last_offset;
      jc_parse_greedy(*parsers.greedy, plan, start, end, tokens);
      if (tuning.plan_index_shifts) plan_index_shifts(tokens, end, rep, e.shift, plan);
    }
    fold_raw_runs(data, plan, tokens, after_raw);
    if (!emit_segment(e, plan, end, tokens)) return false;
    if (tuning.progress != nullptr) tuning.progress(tuning.progress_context, end, n);
    start = end;
  }
  emit_end(e);
  *block = std::move(out);
  return true;
}
