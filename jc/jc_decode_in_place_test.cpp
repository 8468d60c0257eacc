#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_bit_writer.h"
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes compress(const Bytes& data, int level) {
  Bytes block(jc_compress_bound(data.size()));
  size_t written = 0;
  EXPECT_EQ(jc_compress(data.data(), data.size(), level, block.data(), block.size(), &written),
            JcStatus::ok);
  block.resize(written);
  return block;
}

/// A block whose stream `tokens` write, then the end marker; checksum 0 (not tested).
Bytes make_block(uint32_t unpacked_size, const std::function<void(JcBitWriter&)>& tokens) {
  Bytes block(kJcHeaderSize);
  jc_write_header(block.data(), {unpacked_size, 0});
  JcBitWriter w{&block};
  tokens(w);
  jc_put_end(w);
  jc_flush_bits(w);
  return block;
}

/// The block decoded into a separate destination of its unpacked size.
struct Separate {
  JcResult result;
  Bytes bytes;
};

Separate decode_separately(const Bytes& block, size_t capacity) {
  Separate s{{}, Bytes(capacity, 0xEE)};
  s.result = jc_decode_checked(block.data(), block.size(), s.bytes.data(), s.bytes.size());
  s.bytes.resize(s.result.written);
  return s;
}

/// The block copied into the tail of a buffer of `capacity` bytes, whose front is filled with
/// a pattern, and decoded there. The buffer is exactly `capacity` bytes, so that
/// AddressSanitizer sees any access beyond it.
JcResult decode_in_place(const Bytes& block, size_t capacity, Bytes* out) {
  Bytes buffer(capacity, 0x3C);
  std::copy(block.begin(), block.end(), buffer.end() - ptrdiff_t(block.size()));
  const JcResult r = jc_decode_in_place(buffer.data(), buffer.size(), block.size());
  out->assign(buffer.begin(), buffer.begin() + ptrdiff_t(r.written));
  return r;
}

/// In place at `capacity` either equals the separate decoding exactly or stops with
/// in_place_overlap; returns whether it succeeded.
bool in_place_ok_or_overlap(const Bytes& block, const Separate& separate, size_t capacity) {
  Bytes out;
  const JcResult r = decode_in_place(block, capacity, &out);
  if (r.status == JcStatus::in_place_overlap) {
    EXPECT_EQ(r.written, 0u);
    return false;
  }
  EXPECT_EQ(r.status, separate.result.status) << "capacity " << capacity;
  EXPECT_EQ(r.written, separate.result.written) << "capacity " << capacity;
  EXPECT_EQ(r.consumed, separate.result.consumed) << "capacity " << capacity;
  EXPECT_TRUE(out == separate.bytes) << "capacity " << capacity;
  return r.status == JcStatus::ok;
}

/// The smallest capacity from `low` on at which the block decodes in place, found by
/// halving (the result is checked at every capacity tried).
size_t smallest_working_capacity(const Bytes& block, const Separate& separate, size_t low,
                                 size_t high) {
  EXPECT_TRUE(in_place_ok_or_overlap(block, separate, high));
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    if (in_place_ok_or_overlap(block, separate, mid)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

/// `head` zeros, which take a few bits, followed by `tail`: the stream's tail is about as
/// long as the block, so in place the output runs into it unless the buffer leaves room.
Bytes zeros_then(size_t head, const Bytes& tail) {
  Bytes data(head, 0);
  data.insert(data.end(), tail.begin(), tail.end());
  return data;
}

TEST(JcDecodeInPlace, EqualsSeparateDecodingAtTheRecommendedCapacity) {
  const size_t n = 40000;
  Bytes random_then_zeros = jc_test_random(n / 2, 3);
  random_then_zeros.resize(n, 0);
  const std::vector<Bytes> inputs = {
      jc_test_random(n, 1),
      jc_test_text(n, 2),
      Bytes(n, 0),
      random_then_zeros,
      zeros_then(n / 2, jc_test_random(n / 2, 4)),
      zeros_then(n / 2, jc_test_text(n / 2, 6)),
      jc_test_mixed(3 * n, 7),
      Bytes{0x41},
  };
  for (const Bytes& data : inputs) {
    for (int level : {kJcMinLevel, 5, kJcMaxLevel}) {
      const Bytes block = compress(data, level);
      const uint32_t u = uint32_t(data.size());
      const size_t capacity = jc_in_place_capacity(u, block.size());
      EXPECT_GE(capacity, std::max<size_t>(u, block.size()));
      EXPECT_LE(capacity, u + block.size());
      Bytes out;
      const JcResult r = decode_in_place(block, capacity, &out);
      ASSERT_EQ(r.status, JcStatus::ok)
          << jc_status_text(r.status) << ", " << u << " bytes at level " << level;
      EXPECT_EQ(r.written, u);
      EXPECT_EQ(r.consumed, block.size());
      EXPECT_TRUE(out == data) << u << " bytes at level " << level;
    }
  }
}

TEST(JcDecodeInPlace, AnExpensiveTailNeedsItsRoomAndIsNeverDecodedWrong) {
  // Stream tails that cost more bits than they write bytes: noise with a 3-byte repeat every
  // 200 bytes after zeros, which the fastest level codes as 8-bit literals between short
  // matches, and a hand-made tail of 8-bit literals, 9 bits for each byte. In a buffer of
  // just the output's size the output runs into the stream it still has to read, which must
  // end with in_place_overlap, never with ok and wrong bytes, at every capacity around the
  // smallest one that works.
  Bytes tail = jc_test_random(8192, 8);
  for (size_t i = 100; i + 3 < tail.size(); i += 200) {
    std::copy(tail.begin() + ptrdiff_t(i) - 40, tail.begin() + ptrdiff_t(i) - 37,
              tail.begin() + ptrdiff_t(i));
  }
  const Bytes encoded = compress(zeros_then(30000, tail), kJcMinLevel);
  const Bytes literals = make_block(uint32_t(30000 + tail.size()), [&](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    jc_put_literal(w, 0, 8);
    jc_put_repeat(w, 29999);
    for (uint8_t b : tail) jc_put_literal(w, b, 8);
  });
  for (const Bytes* block : {&encoded, &literals}) {
    const uint32_t u = jc_unpacked_size(block->data(), block->size());
    const Separate separate = decode_separately(*block, u);
    ASSERT_EQ(separate.result.status, JcStatus::ok);
    Bytes out;
    EXPECT_EQ(decode_in_place(*block, u, &out).status, JcStatus::in_place_overlap);
    const size_t recommended = jc_in_place_capacity(u, block->size());
    const size_t needed = smallest_working_capacity(*block, separate, u, recommended);
    for (size_t c = std::max<size_t>(u, needed - 48); c < needed + 48; ++c) {
      in_place_ok_or_overlap(*block, separate, c);
    }
    if (block == &literals) {
      // An eighth of the tail: the decoder itself needs only a few bytes more.
      EXPECT_GE(needed, u + tail.size() / 8);
      EXPECT_LE(needed, u + tail.size() / 8 + 16);
    } else {
      // The encoder's own tail needs most of that eighth too.
      EXPECT_GE(needed, u + tail.size() / 16);
    }
  }
}

TEST(JcDecodeInPlace, EachPartOfTheMarginIsNeededByATailThatCostsItsWorst) {
  // Blocks that need room beyond the larger of their two sizes, each decoded at the
  // recommended capacity. The encoder's noise with a 3-byte repeat every 256 bytes at the
  // fastest level (8-bit literals between short matches, about 9 bits a byte) after zeros
  // needs most of the part of the margin that grows with the size. A tail of one 2 KiB
  // shift unit of 2-byte matches at shift 24 (15 bits a byte, 6 more than the prices), made
  // by hand, needs more than that part: more than the 1,536 bytes the constant part answers
  // for.
  Bytes noise = jc_test_random(512 * 1024, 13);
  for (size_t i = 100; i + 3 < noise.size(); i += 256) {
    std::copy(noise.begin() + ptrdiff_t(i) - 40, noise.begin() + ptrdiff_t(i) - 37,
              noise.begin() + ptrdiff_t(i));
  }
  const size_t head = 2048;
  const size_t unit = 2048;
  const Bytes cut_unit = make_block(uint32_t(head + unit), [&](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    jc_put_literal(w, 0, 8);
    jc_put_repeat(w, head - 1);
    jc_put_index_shift(w, 24, 5);
    // Offsets that change from match to match, so that no two would be one match.
    for (size_t i = 0; i < unit / 2; ++i) jc_put_match(w, 128 + i % 2, 24, 2);
  });
  const struct {
    const char* what;
    Bytes block;
    size_t beyond;  ///< room needed beyond the larger size, at least
  } cases[] = {
      {"sparse repeats in noise", compress(zeros_then(noise.size() / 7, noise), kJcMinLevel),
       noise.size() / 12},
      {"a shift unit cut", cut_unit, unit * 6 / 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t u = jc_unpacked_size(c.block.data(), c.block.size());
    const Separate separate = decode_separately(c.block, u);
    ASSERT_EQ(separate.result.status, JcStatus::ok);
    const size_t larger = std::max<size_t>(u, c.block.size());
    const size_t needed = smallest_working_capacity(c.block, separate, larger,
                                                    jc_in_place_capacity(u, c.block.size()));
    EXPECT_GT(needed, larger + c.beyond);
  }
}

TEST(JcDecodeInPlace, ARawRunIsCheckedByteByByte) {
  // A raw run reads its fields about as fast as it writes its bytes: it must decode in a
  // buffer only a little larger than its output, not a whole chunk larger.
  const Bytes noise = jc_test_random(8 * 256, 9);
  const Bytes block = make_block(uint32_t(512 + noise.size()), [&](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    jc_put_literal(w, 0, 8);
    jc_put_repeat(w, 511);
    jc_put_raw_run(w, noise.data(), noise.size());
  });
  const uint32_t u = jc_unpacked_size(block.data(), block.size());
  const Separate separate = decode_separately(block, u);
  ASSERT_EQ(separate.result.status, JcStatus::ok);
  const size_t needed = smallest_working_capacity(block, separate, u, u + block.size());
  EXPECT_LE(needed, u + 32);
}

TEST(JcDecodeInPlace, CapacityBelowEitherSizeIsTooSmall) {
  const Bytes data = jc_test_text(5000, 10);
  const Bytes block = compress(data, 9);
  Bytes out;
  EXPECT_EQ(decode_in_place(block, data.size() - 1, &out).status, JcStatus::too_small);
  // A block larger than its output, and a buffer that cannot hold the block.
  const Bytes noise_block = compress(jc_test_random(300, 11), 9);
  ASSERT_GT(noise_block.size(), 300u);
  Bytes buffer(noise_block.size() - 1);
  EXPECT_EQ(jc_decode_in_place(buffer.data(), buffer.size(), noise_block.size()).status,
            JcStatus::too_small);
  EXPECT_EQ(decode_in_place(noise_block, noise_block.size(), &out).status, JcStatus::ok);
  // Room beyond a 32-bit address space asks for what no allocation can give, never for a
  // sum that wrapped around.
  EXPECT_GE(jc_in_place_capacity(UINT32_MAX, 1000), size_t(UINT32_MAX));
}

TEST(JcDecodeInPlace, DamagedBlocksFailAsTheySeparately) {
  const Bytes data = jc_test_mixed(60000, 12);
  const Bytes block = compress(data, 9);
  const size_t capacity = jc_in_place_capacity(uint32_t(data.size()), block.size());
  std::vector<Bytes> damaged;
  for (size_t at : {size_t(0), size_t(3), size_t(7), size_t(10), size_t(11), block.size() / 3,
                    block.size() / 2, block.size() - 5, block.size() - 1}) {
    for (uint8_t flip : {0x01, 0x40, 0xFF}) {
      Bytes b = block;
      b[at] ^= flip;
      damaged.push_back(b);
    }
  }
  damaged.emplace_back(block.begin(), block.end() - 4);
  damaged.emplace_back(block.begin(), block.begin() + 9);
  damaged.push_back(Bytes(block.size(), 0));
  for (const Bytes& b : damaged) {
    // The same room both ways, so that a changed size field meets the same limit.
    const Separate separate = decode_separately(b, capacity);
    Bytes out;
    const JcResult r = decode_in_place(b, capacity, &out);
    if (separate.result.status == JcStatus::ok) {
      EXPECT_EQ(r.status, JcStatus::ok);
      EXPECT_TRUE(out == separate.bytes);
    } else if (r.status != JcStatus::in_place_overlap) {
      EXPECT_EQ(r.status, separate.result.status)
          << jc_status_text(r.status) << " / " << jc_status_text(separate.result.status);
    }
    EXPECT_EQ(r.written, separate.result.written);
  }
  EXPECT_STRNE(jc_status_text(JcStatus::in_place_overlap), "unknown");
}

}  // namespace
