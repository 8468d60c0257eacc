#include <gtest/gtest.h>

#include <vector>

#include "jc/jc.h"
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

/// Compresses `data` at `level` into a buffer of exactly the bound, decodes the result and
/// compares; returns the block's size.
size_t compress_round_trip(const Bytes& data, int level) {
  const size_t bound = jc_compress_bound(data.size());
  Bytes block(bound + 8, 0xA5);
  size_t written = 1;
  EXPECT_EQ(jc_compress(data.data(), data.size(), level, block.data(), bound, &written),
            JcStatus::ok);
  EXPECT_LE(written, bound);
  for (size_t i = bound; i < block.size(); ++i) EXPECT_EQ(block[i], 0xA5) << "written past";
  Bytes back(data.size());
  EXPECT_EQ(jc_decode(block.data(), written, back.data(), back.size()), data.size());
  EXPECT_TRUE(back == data) << data.size() << " bytes at level " << level;
  return written;
}

TEST(JcCompress, TheBoundHoldsForNoiseOfEverySizeAroundAChunk) {
  // Noise is where the encoder's own block can lose to the plain form of raw runs and
  // literals; sizes around multiples of 256 hit both of its parts.
  for (size_t size : {1, 2, 3, 4, 5, 31, 255, 256, 257, 511, 512, 513, 4095, 70000}) {
    const Bytes data = jc_test_random(size, size);
    for (int level : {kJcMinLevel, 5, kJcMaxLevel}) compress_round_trip(data, level);
  }
}

TEST(JcCompress, CompressibleInputShrinks) {
  const Bytes text = jc_test_text(50000, 7);
  EXPECT_LT(compress_round_trip(text, kJcDefaultLevel), text.size() / 2);
}

TEST(JcCompress, FailuresAreReportedAndWriteNothing) {
  const Bytes text = jc_test_text(5000, 3);
  Bytes out(jc_compress_bound(text.size()), 0x5A);
  size_t written = 99;
  EXPECT_EQ(jc_compress(text.data(), text.size(), 0, out.data(), out.size(), &written),
            JcStatus::bad_argument);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(
      jc_compress(text.data(), text.size(), kJcMaxLevel + 1, out.data(), out.size(), &written),
      JcStatus::bad_argument);
  EXPECT_EQ(jc_compress(text.data(), 0, 5, out.data(), out.size(), &written),
            JcStatus::bad_argument);
  EXPECT_EQ(jc_compress(text.data(), text.size(), 5, out.data(), 20, &written),
            JcStatus::too_small);
  EXPECT_EQ(written, 0u);
  for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
  EXPECT_STRNE(jc_status_text(JcStatus::too_small), "unknown");
}

TEST(JcCompress, NoBoundBeyondTheFormatsSizes) {
  EXPECT_GT(jc_compress_bound(0), 0u);
  if (sizeof(size_t) > 4) {
    EXPECT_EQ(jc_compress_bound(size_t(kJcMaxInputSize) + 1), 0u);
  }
}

}  // namespace
