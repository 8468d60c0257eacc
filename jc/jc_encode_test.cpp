#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/jc_encode_internal.h"
#include "testing/codec_data_helpers.h"

// Every allocation of this test program is counted, so that a test can compare what the
// encoder takes with what jc_encode_memory promises. (GCC takes the malloc and free behind
// the replaced operators for a mismatch once they are inlined into the allocators.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
size_t g_allocated = 0;
size_t g_peak = 0;
}  // namespace

void* operator new(size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  g_allocated += malloc_usable_size(p);
  if (g_allocated > g_peak) g_peak = g_allocated;
  return p;
}

void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  g_allocated -= malloc_usable_size(p);
  std::free(p);
}

void operator delete(void* p, size_t) noexcept {
  operator delete(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

/// Encodes `data` at `level` and checks that both decoders give it back exactly, using
/// every byte of the block; returns the block.
Bytes round_trip(const Bytes& data, int level, const JcTuning& tuning = JcTuning{}) {
  Bytes block;
  EXPECT_TRUE(jc_encode_tuned(data.data(), data.size(), level, tuning, &block));
  for (auto decode : {&jc_decode_checked, &jc_decode_compact_checked}) {
    Bytes out(data.size() + 16, 0xEE);
    const JcResult r = decode(block.data(), block.size(), out.data(), out.size());
    EXPECT_EQ(r.status, JcStatus::ok) << jc_status_text(r.status) << " level " << level;
    EXPECT_EQ(r.written, data.size());
    EXPECT_EQ(r.consumed, block.size());
    out.resize(data.size());
    EXPECT_TRUE(out == data) << "level " << level << ", " << data.size() << " bytes";
  }
  return block;
}

TEST(JcEncode, SmallInputsAtEveryLevel) {
  const std::vector<Bytes> inputs = {{0x42},
                                     {1, 2, 3},
                                     {0, 0, 0, 0},
                                     {0xFF, 0x00, 0xFF, 0x00, 0xFF},
                                     Bytes(255, 'x'),
                                     jc_test_random(256, 1),
                                     jc_test_random(257, 2),
                                     jc_test_text(1000, 3)};
  for (int level = kJcMinLevel; level <= kJcMaxLevel; ++level) {
    for (const Bytes& data : inputs) round_trip(data, level);
  }
}

TEST(JcEncode, EmptyInputGivesTheEndMarkerAlone) {
  Bytes block;
  ASSERT_TRUE(jc_encode(nullptr, 0, kJcDefaultLevel, &block));
  EXPECT_EQ(block.size(), kJcHeaderSize + 4);
  Bytes out(4);
  EXPECT_EQ(jc_decode(block.data(), block.size(), out.data(), out.size()), 0u);
}

TEST(JcEncode, RejectsLevelsOutOfRange) {
  Bytes block = {1, 2, 3};
  const uint8_t data[] = {1};
  EXPECT_FALSE(jc_encode(data, 1, 0, &block));
  EXPECT_FALSE(jc_encode(data, 1, kJcMaxLevel + 1, &block));
  EXPECT_EQ(block, (Bytes{1, 2, 3}));
}

TEST(JcEncode, LargerInputsAtEveryLevel) {
  const Bytes mixed = jc_test_mixed(200000, 7);
  const Bytes zeros(300000, 0);
  for (int level = kJcMinLevel; level <= kJcMaxLevel; ++level) {
    const Bytes block = round_trip(mixed, level);
    EXPECT_LT(block.size(), mixed.size() / 2) << level;
    EXPECT_LT(round_trip(zeros, level).size(), 64u) << level;
  }
}

TEST(JcEncode, RandomDataStaysNearItsSize) {
  // Raw runs hold incompressible bytes at a little over 8 bits each.
  const Bytes data = jc_test_random(300000, 11);
  for (int level : {1, 5, 9}) {
    EXPECT_LE(round_trip(data, level).size(), data.size() + data.size() / 64) << level;
  }
}

TEST(JcEncode, FindsMatchesFarBeyond64K) {
  // A random stretch repeated 100,000 bytes later compresses to about one copy.
  Bytes data = jc_test_random(100000, 5);
  const Bytes copy = data;
  data.insert(data.end(), copy.begin(), copy.end());
  for (int level : {1, 4, 9}) EXPECT_LT(round_trip(data, level).size(), 101000u) << level;
}

TEST(JcEncode, HigherLevelsCompressBetter) {
  const Bytes data = jc_test_mixed(400000, 3);
  const size_t fastest = round_trip(data, 1).size();
  const size_t best = round_trip(data, 9).size();
  EXPECT_LT(best, fastest - fastest / 20);
}

TEST(JcEncode, IndexShiftPlanningAndRepeatMatchesEachEarnTheirBits) {
  const Bytes data = jc_test_mixed(300000, 7);
  for (int level : {4, 9}) {
    SCOPED_TRACE(level);
    const size_t whole = round_trip(data, level).size();
    for (const JcTuning tuning : {JcTuning{false, true}, JcTuning{true, false}}) {
      Bytes block;
      ASSERT_TRUE(jc_encode_tuned(data.data(), data.size(), level, tuning, &block));
      Bytes out(data.size());
      ASSERT_EQ(jc_decode(block.data(), block.size(), out.data(), out.size()), data.size());
      EXPECT_TRUE(out == data);
      EXPECT_LT(whole, block.size())
          << "planning " << tuning.plan_index_shifts << ", repeats " << tuning.repeat_matches;
    }
  }
}

TEST(JcEncode, MultiMegabyteRoundTrip) {
  const Bytes data = jc_test_mixed(2500000, 9);
  for (int level : {1, 9}) round_trip(data, level);
}

/// A tuning with a window of 2^`window_bits` bytes and segments of `segment` bytes.
JcTuning small_parts(uint32_t window_bits, uint32_t segment) {
  JcTuning tuning;
  tuning.window_bits = window_bits;
  tuning.segment_size = segment;
  return tuning;
}

TEST(JcEncodeAtScale, RoundTripsAcrossSegmentsAndWindows) {
  // Mixed data with far repeats, in segments of 8 KiB over a 16 KiB window: matches that
  // reach across segments, repeats beyond the window, raw runs and 7-bit stretches that
  // run on from one segment into the next, and a last segment of a few bytes.
  Bytes data = jc_test_mixed(150000, 21);
  const Bytes noise = jc_test_random(20000, 22);
  data.insert(data.begin() + 70001, noise.begin(), noise.end());
  data.push_back(7);
  for (int level = kJcMinLevel; level <= kJcMaxLevel; ++level) {
    SCOPED_TRACE(level);
    const size_t small = round_trip(data, level, small_parts(14, 8192)).size();
    const size_t whole = round_trip(data, level).size();
    // The window loses the far repeats, but little more.
    EXPECT_LT(small, whole + whole / 3);
  }
}

TEST(JcEncodeAtScale, OffsetsStayInsideTheWindow) {
  // A random stretch repeated twice: 4 KiB later it is found in a 8 KiB window, 64 KiB
  // later it is not (and the bytes of the stale ring slots must never be taken for it).
  const Bytes piece = jc_test_random(4096, 31);
  const Bytes gap = jc_test_random(60000, 32);
  Bytes near = piece, far = piece;
  near.insert(near.end(), piece.begin(), piece.end());
  far.insert(far.end(), gap.begin(), gap.end());
  far.insert(far.end(), piece.begin(), piece.end());
  for (int level : {1, 4, 5, 9}) {
    SCOPED_TRACE(level);
    const JcTuning tuning = small_parts(13, 16384);
    EXPECT_LT(round_trip(near, level, tuning).size(), piece.size() + 200);
    EXPECT_GT(round_trip(far, level, tuning).size(), far.size());
    EXPECT_LT(round_trip(far, level).size(), far.size() - piece.size() / 2);
  }
}

TEST(JcEncodeAtScale, FarMatchStartingJustBeforeASegmentEnds) {
  // A copy of 70,000 bytes from the start begins 3 bytes before a segment's end, after
  // bytes that 7-bit literals code for less than raw runs: the long match found there is
  // cut to 3 bytes, too short for its offset, and must not be taken.
  const Bytes noise = jc_test_random(80000, 71);
  const uint32_t at = 18 * 4096 - 3;
  Bytes data(noise.begin(), noise.begin() + 70000);
  for (uint32_t i = 70000; i < at; ++i) data.push_back(uint8_t(0x20 + (noise[i] & 0x3F)));
  data.insert(data.end(), noise.begin(), noise.begin() + 70000);
  for (int level = 5; level <= kJcMaxLevel; ++level) {
    SCOPED_TRACE(level);
    EXPECT_LT(round_trip(data, level, small_parts(17, 4096)).size(), size_t(at) + 500);
  }
}

TEST(JcEncodeAtScale, SegmentsCostLittle) {
  // Long runs of zeros, text and noise, each longer than a segment: the stream's state
  // (raw runs, literal widths, the last offset) carries on, so small segments cost only a
  // few bits at each boundary.
  Bytes data(40000, 0);
  const Bytes text = jc_test_text(50000, 41);
  const Bytes noise = jc_test_random(30000, 42);
  data.insert(data.end(), text.begin(), text.end());
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), text.begin(), text.end());
  for (int level : {2, 9}) {
    SCOPED_TRACE(level);
    const size_t whole = round_trip(data, level).size();
    const size_t cut = round_trip(data, level, small_parts(20, 4096)).size();
    EXPECT_LT(cut, whole + whole / 50);
  }
}

TEST(JcEncodeAtScale, ReportsProgressPerSegment) {
  const Bytes data = jc_test_mixed(100000, 51);
  std::vector<uint64_t> seen;
  JcTuning tuning = small_parts(16, 32768);
  tuning.progress_context = &seen;
  tuning.progress = [](void* context, uint64_t done, uint64_t total) {
    EXPECT_EQ(total, 100000u);
    static_cast<std::vector<uint64_t>*>(context)->push_back(done);
  };
  round_trip(data, 9, tuning);
  EXPECT_EQ(seen, (std::vector<uint64_t>{32768, 65536, 98304, 100000}));
}

TEST(JcEncodeAtScale, MemoryEstimateHoldsAndStaysBounded) {
  const Bytes data = jc_test_mixed(1200000, 61);
  for (int level : {1, 3, 5, 9}) {
    SCOPED_TRACE(level);
    const uint64_t estimate = jc_encode_memory(data.size(), level);
    Bytes block;
    const size_t before = g_allocated;
    g_peak = g_allocated;
    ASSERT_TRUE(jc_encode(data.data(), data.size(), level, &block));
    const size_t used = g_peak - before;
    EXPECT_LE(used, estimate);
    EXPECT_GT(used, estimate / 3);
  }
  // Past the windows, only the block grows with the input.
  for (int level : {1, 9}) {
    const uint64_t block_room = uint64_t(1) << 30;
    EXPECT_LT(jc_encode_memory(size_t(1) << 30, level), block_room * 11 / 10 + (400u << 20));
    EXPECT_LT(jc_encode_memory(size_t(1) << 30, level) - jc_encode_memory(size_t(1) << 28, level),
              block_room);
  }
  EXPECT_EQ(jc_encode_memory(1, 0), 0u);
}

TEST(JcDecoders, AgreeOnDamagedBlocks) {
  // Damaged blocks must give the same result and the same destination in both decoders,
  // whatever the damage does to the stream.
  const Bytes data = jc_test_mixed(20000, 13);
  Bytes block;
  ASSERT_TRUE(jc_encode(data.data(), data.size(), 9, &block));
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes damaged = block;
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const size_t at = kJcHeaderSize + (seed >> 33) % (block.size() - kJcHeaderSize);
    damaged[at] ^= uint8_t(1u << ((seed >> 20) & 7));
    if (trial % 3 == 0) damaged.resize(kJcHeaderSize + (seed >> 40) % (block.size()));
    if (trial % 5 == 0) std::fill(damaged.begin() + 6, damaged.begin() + 10, 0);
    Bytes fast(data.size(), 0x55), compact(data.size(), 0x55);
    const JcResult a = jc_decode_checked(damaged.data(), damaged.size(), fast.data(), fast.size());
    const JcResult b =
        jc_decode_compact_checked(damaged.data(), damaged.size(), compact.data(), compact.size());
    ASSERT_EQ(a.status, b.status) << trial;
    ASSERT_EQ(a.written, b.written) << trial;
    ASSERT_TRUE(fast == compact) << trial;
  }
}

}  // namespace

TEST(JcEncode, LargeInputsSearchAtLevelsEightAndNineAsLevelSevenDoes) {
  const Bytes data = jc_test_mixed(300000, 21);
  Bytes level7;
  ASSERT_TRUE(jc_encode(data.data(), data.size(), 7, &level7));
  JcTuning large;
  large.large_input = data.size();
  for (int level : {8, 9}) {
    Bytes light;
    ASSERT_TRUE(jc_encode_tuned(data.data(), data.size(), level, large, &light));
    EXPECT_TRUE(light == level7) << "level " << level;
  }
  // Below the size, level 9 keeps its own deeper search.
  large.large_input = data.size() + 1;
  Bytes full;
  ASSERT_TRUE(jc_encode_tuned(data.data(), data.size(), 9, large, &full));
  EXPECT_FALSE(full == level7);
  EXPECT_EQ(round_trip(data, 9), full);
}
