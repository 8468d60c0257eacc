#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_bit_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Decoder = JcResult (*)(const uint8_t*, size_t, uint8_t*, size_t);

/// A block whose stream is written by `tokens`, ended by the end marker unless asked not to.
Bytes make_block(uint32_t unpacked_size, uint32_t checksum,
                 const std::function<void(JcBitWriter&)>& tokens, bool end_marker = true) {
  Bytes block(kJcHeaderSize);
  jc_write_header(block.data(), {unpacked_size, checksum});
  JcBitWriter w{&block};
  tokens(w);
  if (end_marker) jc_put_end(w);
  jc_flush_bits(w);
  return block;
}

class DecoderTest : public ::testing::TestWithParam<Decoder> {
 protected:
  /// Decodes into a destination of `capacity` bytes (unpacked_size when not given).
  JcResult decode(const Bytes& block, Bytes* out, size_t capacity = SIZE_MAX) {
    if (capacity == SIZE_MAX) capacity = jc_unpacked_size(block.data(), block.size());
    out->assign(capacity, 0xEE);
    return GetParam()(block.data(), block.size(), out->data(), out->size());
  }
  /// Decodes a block without checksum whose tokens should give `expected`.
  void expect_decodes(const std::function<void(JcBitWriter&)>& tokens, const Bytes& expected) {
    Bytes out;
    JcResult r = decode(make_block(uint32_t(expected.size()), 0, tokens), &out);
    ASSERT_EQ(r.status, JcStatus::ok) << jc_status_text(r.status);
    EXPECT_EQ(r.written, expected.size());
    EXPECT_EQ(out, expected);
  }
  void expect_status(const Bytes& block, JcStatus status, size_t capacity = SIZE_MAX) {
    Bytes out;
    JcResult r = decode(block, &out, capacity);
    EXPECT_EQ(r.status, status) << jc_status_text(r.status);
    EXPECT_EQ(r.written, 0u);
  }
};

const Bytes kExampleBlock = {0x4A, 0x43, 0x04, 0x00, 0x00, 0x00, 0xA2, 0xA3, 0xA3,
                             0xA3, 0x14, 0x40, 0xD8, 0x20, 0x00, 0x00, 0x00, 0x00};

TEST_P(DecoderTest, ExampleBlockAndItsChecksumVariants) {
  Bytes out;
  JcResult r = decode(kExampleBlock, &out);
  EXPECT_EQ(r.status, JcStatus::ok);
  EXPECT_EQ(r.written, 4u);
  EXPECT_EQ(r.consumed, kExampleBlock.size());
  EXPECT_EQ(out, Bytes(4, 0x61));
  for (size_t at = 6; at < 10; ++at) {
    Bytes changed = kExampleBlock;
    changed[at] ^= 0x01;
    expect_status(changed, JcStatus::checksum_mismatch);
  }
  Bytes unchecked = kExampleBlock;
  std::fill(unchecked.begin() + 6, unchecked.begin() + 10, 0);
  EXPECT_EQ(decode(unchecked, &out).written, 4u);
  // The public entry points agree with the detailed ones.
  EXPECT_EQ(jc_decode(kExampleBlock.data(), kExampleBlock.size(), out.data(), 4), 4u);
  EXPECT_EQ(jc_decode_compact(kExampleBlock.data(), kExampleBlock.size(), out.data(), 4), 4u);
}

TEST_P(DecoderTest, WrongMagicWritesNothing) {
  Bytes block = kExampleBlock;
  block[1] = 'K';
  Bytes out;
  EXPECT_EQ(decode(block, &out, 8).status, JcStatus::bad_magic);
  EXPECT_EQ(out, Bytes(8, 0xEE));
  expect_status(Bytes(kExampleBlock.begin(), kExampleBlock.begin() + 9), JcStatus::bad_magic, 8);
}

TEST_P(DecoderTest, EndMarkerAloneIsAFailure) {
  Bytes out;
  EXPECT_EQ(decode(make_block(0, 0, [](JcBitWriter&) {}), &out).written, 0u);
}

TEST_P(DecoderTest, GammaNumbersOfEverySize) {
  // Repeat matches of offset 1 whose lengths take 1 to 31 gamma steps.
  for (uint32_t length : {2u, 3u, 4u, 7u, 8u, 255u, 256u, 65537u, 1u << 20}) {
    Bytes expected(length + 1, 'a');
    expect_decodes(
        [&](JcBitWriter& w) {
          jc_put_literal_size(w, 8, 0);
          jc_put_literal(w, 'a', 8);
          jc_put_repeat(w, length);
        },
        expected);
  }
}

TEST_P(DecoderTest, MatchLengthAdjustmentAtEveryBorder) {
  struct Border {
    uint32_t offset, added;
  };
  for (Border b : {Border{1, 4},
                   {127, 4},
                   {128, 0},
                   {638, 0},
                   {639, 1},
                   {14334, 1},
                   {14335, 2},
                   {65535, 2},
                   {65536, 3},
                   {70000, 3}}) {
    // `offset` distinct-enough bytes, then a match with coded length 2 reaching back to the
    // first of them.
    Bytes expected(b.offset);
    for (uint32_t i = 0; i < b.offset; ++i) expected[i] = uint8_t(i * 7 + (i >> 8));
    for (uint32_t i = 0; i < 2 + b.added; ++i) expected.push_back(expected[i]);
    expect_decodes(
        [&](JcBitWriter& w) {
          jc_put_literal_size(w, 8, 0);
          for (uint32_t i = 0; i < b.offset; ++i) jc_put_literal(w, expected[i], 8);
          jc_put_match(w, b.offset, 8, 2);
        },
        expected);
  }
}

TEST_P(DecoderTest, OverlappingCopiesRepeatWhatTheyWrite) {
  expect_decodes(
      [](JcBitWriter& w) {
        jc_put_literal_size(w, 8, 0);
        jc_put_literal(w, 0x41, 8);
        jc_put_short(w, 1, 5);
      },
      Bytes(6, 0x41));
  // Offsets 2 to 9 over 40 bytes: each period repeated, not a block move.
  for (uint32_t period = 2; period < 10; ++period) {
    Bytes expected;
    for (uint32_t i = 0; i < period + 40; ++i) expected.push_back(uint8_t('a' + i % period));
    expect_decodes(
        [&](JcBitWriter& w) {
          jc_put_literal_size(w, 8, 0);
          for (uint32_t i = 0; i < period; ++i) jc_put_literal(w, expected[i], 8);
          jc_put_match(w, period, 8, 40 - 4);
        },
        expected);
  }
}

TEST_P(DecoderTest, CopiesOfEveryShapeFarFromTheEnds) {
  // Matches, repeats and short matches of every small offset and length, amid a long
  // stream, so that they are decoded where no bounds check guards the copy itself.
  Bytes expected;
  const auto literal = [&](JcBitWriter& w, uint8_t v) {
    jc_put_literal(w, v, 8);
    expected.push_back(v);
  };
  const auto copy = [&](uint32_t offset, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - offset]);
  };
  const auto tokens = [&](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    for (uint32_t i = 0; i < 64; ++i) literal(w, uint8_t(i * 97 + 13));
    for (uint32_t offset = 1; offset <= 40; ++offset) {
      for (uint32_t length :
           {2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 31u, 32u, 33u, 40u, 41u, 79u, 300u}) {
        jc_put_match(w, offset, 8, 2);  // 6 bytes, and the repeat offset
        copy(offset, 6);
        jc_put_repeat(w, length);
        copy(offset, length);
        literal(w, uint8_t(offset * 7 + length));
        if (length <= 5) {
          jc_put_short(w, offset, length);
          copy(offset, length);
        }
      }
    }
    for (uint32_t i = 0; i < 64; ++i) literal(w, uint8_t(i));
  };
  const Bytes block = make_block(0, 0, tokens);
  Bytes out;
  Bytes sized = block;
  jc_write_header(sized.data(), {uint32_t(expected.size()), 0});
  const JcResult r = decode(sized, &out);
  ASSERT_EQ(r.status, JcStatus::ok) << jc_status_text(r.status);
  EXPECT_EQ(out, expected);
}

TEST_P(DecoderTest, RawRunsAtUnalignedBitPositions) {
  Bytes raw(512);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = uint8_t(i * 31 + 5);
  for (uint32_t lead = 0; lead < 8; ++lead) {
    Bytes expected(lead, 'z');
    expected.insert(expected.end(), raw.begin(), raw.end());
    expected.push_back('z');
    expect_decodes(
        [&](JcBitWriter& w) {
          jc_put_literal_size(w, 8, 0);
          for (uint32_t i = 0; i < lead; ++i) jc_put_literal(w, 'z', 8);
          jc_put_raw_run(w, raw.data(), raw.size());
          jc_put_literal(w, 'z', 8);
        },
        expected);
  }
}

TEST_P(DecoderTest, IndexShiftChangesWithEachFieldWidth) {
  struct Change {
    uint32_t shift, field_bits;
  };
  for (Change c : {Change{9, 4}, {3, 4}, {17, 5}, {31, 6}, {1, 6}}) {
    // 1,000 bytes, then a match to offset 999 coded with `shift` low bits.
    Bytes expected(1000);
    for (uint32_t i = 0; i < 1000; ++i) expected[i] = uint8_t(i ^ (i >> 3));
    for (uint32_t i = 1; i < 1 + 2 + 1; ++i) expected.push_back(expected[i]);
    expect_decodes(
        [&](JcBitWriter& w) {
          jc_put_literal_size(w, 8, 0);
          for (uint32_t i = 0; i < 1000; ++i) jc_put_literal(w, expected[i], 8);
          jc_put_index_shift(w, c.shift, c.field_bits);
          jc_put_match(w, 999, c.shift, 2);
        },
        expected);
  }
}

TEST_P(DecoderTest, OneByteMatchLeavesTheRepeatOffsetAlone) {
  // "abcdefgh", a short match from offset 8, a one-byte match from offset 3 and a zero byte,
  // then a repeat match copies from offset 8 again.
  Bytes expected = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'a', 'b', 'a', 0};
  const size_t at = expected.size();
  for (size_t i = 0; i < 3; ++i) expected.push_back(expected[at - 8 + i]);
  expect_decodes(
      [](JcBitWriter& w) {
        jc_put_literal_size(w, 8, 0);
        for (char c = 'a'; c <= 'h'; ++c) jc_put_literal(w, uint32_t(c), 8);
        jc_put_short(w, 8, 2);
        jc_put_nibble_byte(w, 2);
        jc_put_nibble_byte(w, 0);
        jc_put_repeat(w, 3);
      },
      expected);
}

TEST_P(DecoderTest, SevenBitLiteralsWrapAroundTheirBase) {
  expect_decodes(
      [](JcBitWriter& w) {
        jc_put_literal_size(w, 7, 0xF0);
        jc_put_literal(w, 0x7F, 7);
        jc_put_literal(w, 0x00, 7);
        jc_put_literal(w, 0x0F, 7);
        jc_put_literal_size(w, 8, 0);
        jc_put_literal(w, 0xAB, 8);
      },
      {0x6F, 0xF0, 0xFF, 0xAB});
}

TEST_P(DecoderTest, MalformedStreamsFail) {
  const auto text = [](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    for (char c : std::string("hello, hello")) jc_put_literal(w, uint32_t(c), 8);
  };
  // The end of the block before the end marker, at every cut.
  Bytes good = make_block(13, 0, [&](JcBitWriter& w) {
    text(w);
    jc_put_short(w, 7, 2);
  });
  for (size_t cut = kJcHeaderSize; cut < good.size(); ++cut) {
    expect_status(Bytes(good.begin(), good.begin() + cut), JcStatus::corrupt_stream, 13);
  }
  // A copy from before the start of the output.
  expect_status(make_block(20, 0,
                           [&](JcBitWriter& w) {
                             text(w);
                             jc_put_short(w, 13, 2);
                           }),
                JcStatus::corrupt_stream);
  expect_status(make_block(20, 0,
                           [&](JcBitWriter& w) {
                             text(w);
                             jc_put_nibble_byte(w, 13);
                           }),
                JcStatus::corrupt_stream);
  // A match offset of 0.
  expect_status(make_block(20, 0,
                           [&](JcBitWriter& w) {
                             text(w);
                             jc_put_match(w, 0, 8, 2);
                           }),
                JcStatus::corrupt_stream);
  // Writing past unpacked_size, by a literal and by a copy.
  expect_status(make_block(11, 0, text), JcStatus::corrupt_stream, 64);
  expect_status(make_block(13, 0,
                           [&](JcBitWriter& w) {
                             text(w);
                             jc_put_repeat(w, 2);
                           }),
                JcStatus::corrupt_stream, 64);
  // Ending short of unpacked_size.
  expect_status(make_block(13, 0, text), JcStatus::size_mismatch);
  // A destination smaller than unpacked_size.
  expect_status(make_block(12, 0, text), JcStatus::too_small, 11);
  // A literal before any literal-size change.
  expect_status(make_block(1, 0, [](JcBitWriter& w) { jc_put_literal(w, 1, 8); }),
                JcStatus::corrupt_stream);
  // Index shifts of 0 and of 32 and more.
  for (uint32_t shift : {0u, 32u, 63u}) {
    expect_status(make_block(12, 0,
                             [&](JcBitWriter& w) {
                               text(w);
                               jc_put_index_shift(w, shift, 6);
                             }),
                  JcStatus::corrupt_stream);
  }
  // A gamma number of 33 bits.
  expect_status(make_block(4, 0,
                           [](JcBitWriter& w) {
                             jc_put_literal_size(w, 8, 0);
                             jc_put_literal(w, 1, 8);
                             jc_put_bits(w, 1, 2);
                             jc_put_gamma(w, 2);
                             for (int i = 0; i < 32; ++i) jc_put_bits(w, 3, 2);
                             jc_put_bits(w, 0, 2);
                           }),
                JcStatus::corrupt_stream);
  // A raw run that does not fit the output.
  Bytes raw(256, 7);
  expect_status(
      make_block(255, 0, [&](JcBitWriter& w) { jc_put_raw_run(w, raw.data(), raw.size()); }),
      JcStatus::corrupt_stream);
}

INSTANTIATE_TEST_SUITE_P(BothDecoders, DecoderTest,
                         ::testing::Values(&jc_decode_checked, &jc_decode_compact_checked),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Fast" : "Compact");
                         });

TEST(JcDecoders, FailurePartWayLeavesTheSameBytes) {
  // Copies of every length up to 40 from offsets around the 16- and 32-byte steps of the
  // fast copies, then a copy from before the output's start, while the output and the
  // stream are far from their ends: both decoders fail there, with the same bytes written before it
  // and every byte after it as it was, including those the fast copies read and write back.
  uint32_t written = 0;
  const auto tokens = [&](JcBitWriter& w) {
    jc_put_literal_size(w, 8, 0);
    for (uint32_t i = 0; i < 48; ++i) jc_put_literal(w, (i * 37 + 5) & 255, 8);
    written = 48;
    for (uint32_t offset : {15u, 16u, 17u, 31u, 32u, 33u, 48u}) {
      for (uint32_t length = 6; length <= 40; ++length) {
        jc_put_match(w, offset, 8, length - 4);  // offsets below 128 add 4
        jc_put_literal(w, offset + length, 8);
        written += length + 1;
      }
    }
  };
  make_block(0, 0, tokens);
  for (uint32_t last : {0u, 6u, 15u, 16u, 17u, 31u, 32u}) {
    const uint32_t failed_at = written + last;
    const Bytes block = make_block(failed_at + 4096, 0, [&](JcBitWriter& w) {
      tokens(w);
      if (last != 0) jc_put_match(w, 20, 8, last - 4);
      jc_put_match(w, failed_at + 1, 8, 2);
      for (uint32_t i = 0; i < 64; ++i) jc_put_literal(w, i, 8);  // never reached
    });
    Bytes fast(failed_at + 4096, 0xEE), compact(fast);
    EXPECT_EQ(jc_decode(block.data(), block.size(), fast.data(), fast.size()), 0u);
    EXPECT_EQ(jc_decode_compact(block.data(), block.size(), compact.data(), compact.size()), 0u);
    EXPECT_EQ(fast, compact) << "last copy " << last;
    EXPECT_EQ(Bytes(fast.begin() + failed_at, fast.end()), Bytes(4096, 0xEE))
        << "last copy " << last;
  }
}

TEST(JcChecksum, Examples) {
  const uint8_t abcde[] = {0x61, 0x62, 0x63, 0x64, 0x65};
  const uint8_t aaaa[] = {0x61, 0x61, 0x61, 0x61};
  EXPECT_EQ(jc_checksum(abcde, 3), 0u);
  EXPECT_EQ(jc_checksum(abcde, 4), 0xACA5A6A2u);
  EXPECT_EQ(jc_checksum(abcde, 5), 0xD8C2CCC1u);
  EXPECT_EQ(jc_checksum(aaaa, 4), 0xA3A3A3A2u);
}

TEST(JcBitWriter, GammaCodesAsDocumented) {
  // 0 0 -> 2; 1 0 -> 3; 0 1 0 0 -> 4; 0 1 1 0 -> 5; 1 1 0 0 -> 6; 1 1 1 0 -> 7; 0 1 0 1 0 0 -> 8
  const std::pair<uint32_t, uint32_t> codes[] = {
      {2, 0b00}, {3, 0b10}, {4, 0b0100}, {5, 0b0110}, {6, 0b1100}, {7, 0b1110}, {8, 0b010100}};
  for (auto [value, bits] : codes) {
    Bytes words;
    JcBitWriter w{&words};
    jc_put_gamma(w, value);
    EXPECT_EQ(w.total_bits, jc_gamma_bits(value));
    jc_flush_bits(w);
    const uint32_t word = words[0] | words[1] << 8 | words[2] << 16 | uint32_t(words[3]) << 24;
    EXPECT_EQ(word >> (32 - jc_gamma_bits(value)), bits) << value;
  }
}

TEST(JcBlockHeader, SizeQueryAndLibraryInfo) {
  EXPECT_EQ(jc_unpacked_size(kExampleBlock.data(), kExampleBlock.size()), 4u);
  EXPECT_EQ(jc_unpacked_size(nullptr, 100), 0u);
  EXPECT_EQ(jc_unpacked_size(kExampleBlock.data(), kJcHeaderSize - 1), 0u);
  Bytes other = kExampleBlock;
  other[0] = 'X';
  EXPECT_EQ(jc_unpacked_size(other.data(), other.size()), 0u);
  JcLibraryInfo info{};
  EXPECT_EQ(jc_library_info(&info), &info);
  EXPECT_EQ(info.major_version, 5u);
  EXPECT_EQ(info.minor_version, 27u);
  EXPECT_EQ(info.fast_decoder_size, 814u);
  EXPECT_EQ(info.compact_decoder_size, 468u);
}

}  // namespace
