// The carried archive as the build made it: six compressed entries that decode to the
// payload files and that exercise the decoder's rarer tokens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/program_directory.h"
#include "jc/jc.h"
#include "pack/pack_reader.h"
#include "platform/process.h"
#include "runtime/workspace.h"
#include "testing/payload_helpers.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

uint32_t le32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

/// What a block's token stream holds, counted by walking it without writing anything.
struct TokenCensus {
  uint32_t raw_runs = 0;
  uint32_t index_shift_changes = 0;
  uint32_t literal_size_changes = 0;
  uint32_t largest_offset = 0;
  bool ended = false;
};

/// Reads the stream of bits, most significant first from little-endian words.
class BitStream {
 public:
  explicit BitStream(const std::string& block) : block_(block), at_(kJcHeaderSize) {}
  uint32_t bit() {
    if (left_ == 0) {
      if (at_ + 4 > block_.size()) throw std::out_of_range("stream");
      word_ = le32(block_, at_);
      at_ += 4;
      left_ = 32;
    }
    --left_;
    return (word_ >> left_) & 1;
  }
  uint32_t bits(uint32_t n) {
    uint32_t v = 0;
    while (n--) v = 2 * v + bit();
    return v;
  }
  uint32_t gamma() {
    uint32_t v = 1;
    do v = 2 * v + bit();
    while (bit());
    return v;
  }

 private:
  const std::string& block_;
  size_t at_;
  uint32_t word_ = 0;
  uint32_t left_ = 0;
};

TokenCensus census(const std::string& block) {
  TokenCensus c;
  BitStream in(block);
  uint32_t shift = 8, literal_bits = 0;
  for (;;) {
    if (in.bit()) {  // literal
      in.bits(literal_bits);
    } else if (in.bit()) {  // match
      const uint32_t g = in.gamma();
      if (g >= 3) {
        const uint32_t offset = ((g - 3) << shift) | in.bits(shift);
        c.largest_offset = std::max(c.largest_offset, offset);
      }
      in.gamma();
    } else if (!in.bit()) {  // short match, end marker or index shift
      const uint32_t o = in.bits(7), k = in.bits(2);
      if (o == 0 && k == 0) break;
      if (o == 0) {
        shift = in.bits(k + 3);
        ++c.index_shift_changes;
      }
    } else if (in.bits(4) == 0) {
      if (in.bit()) {  // raw run
        ++c.raw_runs;
        do in.bits(8 * 256);
        while (in.bit());
      } else {  // literal-size change
        literal_bits = 7 + in.bit();
        if (literal_bits == 7) in.bits(8);
        ++c.literal_size_changes;
      }
    }
  }
  c.ended = true;
  return c;
}

}  // namespace

TEST(CarriedArchive, SixCompressedEntriesThatDecodeToThePayload) {
  const std::string archive = slurp(CARRIED_PAC);
  ASSERT_FALSE(archive.empty());
  size_t at = 0;
  std::vector<TokenCensus> counts;
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(payload_target(i));
    ASSERT_LE(at + 8, archive.size());
    const uint32_t unpacked = le32(archive, at), stored = le32(archive, at + 4);
    EXPECT_EQ(unpacked, payload_entries[i].unpacked_size);
    EXPECT_NE(stored, unpacked) << "stored, not compressed";
    ASSERT_LE(at + 8 + stored, archive.size());
    const std::string block = archive.substr(at + 8, stored);
    std::vector<uint8_t> out(unpacked);
    ASSERT_EQ(jc_decode(reinterpret_cast<const uint8_t*>(block.data()), block.size(), out.data(),
                        out.size()),
              unpacked);
    EXPECT_TRUE(std::string(out.begin(), out.end()) ==
                slurp(std::string(PAYLOAD_DIR) + "/" + payload_target(i)));
    counts.push_back(census(block));
    EXPECT_TRUE(counts.back().ended);
    at += 8 + stored;
  }
  EXPECT_EQ(at, archive.size()) << "nothing after the sixth entry";
  EXPECT_GT(counts[1].largest_offset, 65535u);
  uint32_t raw_runs = 0, shifts = 0;
  for (const TokenCensus& c : counts) {
    raw_runs += c.raw_runs;
    shifts += c.index_shift_changes;
    EXPECT_GE(c.literal_size_changes, 1u);
  }
  EXPECT_GE(raw_runs, 1u);
  EXPECT_GE(shifts, 1u);
}

TEST(CarriedArchive, ThePackReaderDeliversTheSixEntriesAndThenNothing) {
  const std::filesystem::path before = std::filesystem::current_path();
  ASSERT_TRUE(main_heap_create());
  std::string path = CARRIED_PAC;
  std::replace(path.begin(), path.end(), '/', kPathSeparator);
  program_directory_init(path.c_str());
  ASSERT_EQ(pack_open("carried.pac"), 1);
  for (const PayloadEntry& entry : payload_entries) {
    const uint32_t size = entry.unpacked_size;
    EXPECT_NE(pack_next_entry(), nullptr);
    EXPECT_EQ(pack_entry_size(), static_cast<int32_t>(size));
  }
  uint8_t* last = pack_reader.entry_buffer;
  EXPECT_EQ(pack_next_entry(), nullptr);  // the seventh call
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(pack_reader.entry_buffer, last);  // the last entry stays until the close
  pack_close();
  main_heap_destroy();
  std::filesystem::current_path(before);
}
