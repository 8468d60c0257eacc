#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/jc_encode_internal.h"
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

/// Encodes `data` at `level` and checks that both decoders give it back exactly, using
/// every byte of the block; returns the block.
Bytes round_trip(const Bytes& data, int level) {
  Bytes block;
  EXPECT_TRUE(jc_encode(data.data(), data.size(), level, &block));
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
