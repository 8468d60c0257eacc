#include "jc/pack_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "testing/codec_data_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;

/// Walks `archive` to its end; returns the entries and the final step.
std::vector<PackEntryView> walk_all(const Bytes& archive, PackWalkStep* last) {
  std::vector<PackEntryView> entries;
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  while ((*last = pack_walk_next(walk, &entry)) == PackWalkStep::entry) entries.push_back(entry);
  return entries;
}

Bytes unpack(const PackEntryView& entry, JcStatus* status) {
  Bytes out(entry.header.unpacked_size);
  *status = pack_entry_unpack(entry, out.data(), out.size());
  return out;
}

TEST(PackWalk, EntriesOfEachKindRoundTrip) {
  const Bytes text = jc_test_text(50000, 1), noise = jc_test_random(3000, 2);
  const Bytes fake_block = {'J', 'C', 1, 0, 0, 0, 0, 0, 0, 0};
  Bytes archive;
  ASSERT_TRUE(jc_append_pack_entry(archive, text.data(), text.size(), 9, false));
  ASSERT_TRUE(jc_append_pack_entry(archive, noise.data(), noise.size(), 9, false));
  ASSERT_TRUE(jc_append_pack_entry(archive, nullptr, 0, 9, false));
  ASSERT_TRUE(jc_append_pack_entry(archive, fake_block.data(), fake_block.size(), 9, true));
  PackWalkStep last;
  const auto entries = walk_all(archive, &last);
  EXPECT_EQ(last, PackWalkStep::end);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_FALSE(pack_entry_is_stored(entries[0].header));
  EXPECT_LT(entries[0].header.stored_size, text.size() / 2);
  EXPECT_TRUE(pack_entry_is_stored(entries[1].header));  // noise does not shrink
  EXPECT_EQ(entries[2].header.unpacked_size, 0u);
  EXPECT_EQ(entries[3].header_offset, archive.size() - kPackEntryHeaderSize - fake_block.size());
  const Bytes* expected[] = {&text, &noise, nullptr, &fake_block};
  for (size_t i = 0; i < entries.size(); ++i) {
    JcStatus status;
    const Bytes out = unpack(entries[i], &status);
    EXPECT_EQ(status, JcStatus::ok) << i;
    EXPECT_EQ(out, expected[i] ? *expected[i] : Bytes()) << i;
  }
}

TEST(PackWalk, ArchivesCutShort) {
  Bytes archive;
  const Bytes text = jc_test_text(5000, 3);
  ASSERT_TRUE(jc_append_pack_entry(archive, text.data(), text.size(), 5, false));
  PackWalkStep last;
  EXPECT_TRUE(walk_all(Bytes(), &last).empty());
  EXPECT_EQ(last, PackWalkStep::end);
  for (size_t cut = 1; cut < archive.size(); ++cut) {
    const auto entries = walk_all(Bytes(archive.begin(), archive.begin() + cut), &last);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(last, PackWalkStep::truncated) << cut;
  }
}

TEST(PackEntryUnpack, BlockThatDisagreesWithItsHeaderWritesNothingBeyond) {
  // An entry header that announces fewer bytes than its block unpacks to.
  const Bytes text = jc_test_text(4000, 4);
  Bytes block;
  ASSERT_TRUE(jc_encode(text.data(), text.size(), 9, &block));
  Bytes archive(kPackEntryHeaderSize);
  pack_write_entry_header(archive.data(), {1000, uint32_t(block.size())});
  archive.insert(archive.end(), block.begin(), block.end());
  PackWalkStep last;
  const auto entries = walk_all(archive, &last);
  ASSERT_EQ(entries.size(), 1u);
  Bytes out(1000 + 16, 0xEE);
  EXPECT_EQ(pack_entry_unpack(entries[0], out.data(), 1000), JcStatus::size_mismatch);
  EXPECT_EQ(pack_entry_unpack(entries[0], out.data(), 999), JcStatus::too_small);
  EXPECT_EQ(Bytes(out.begin() + 1000, out.end()), Bytes(16, 0xEE));
}

TEST(JcAppendPackEntry, NeverMakesACompressedEntryOfEqualSizes) {
  // Inputs around the size where compression stops paying.
  for (size_t size = 1; size < 40; ++size) {
    for (uint64_t seed : {1u, 2u}) {
      const Bytes data = seed == 1 ? jc_test_random(size, size) : Bytes(size, 'q');
      Bytes archive;
      ASSERT_TRUE(jc_append_pack_entry(archive, data.data(), data.size(), 9, false));
      const PackEntryHeader h = pack_read_entry_header(archive.data());
      EXPECT_EQ(archive.size(), kPackEntryHeaderSize + h.stored_size);
      EXPECT_TRUE(pack_entry_is_stored(h) || h.stored_size < h.unpacked_size);
    }
  }
  Bytes archive = {9};
  const uint8_t byte = 1;
  EXPECT_FALSE(jc_append_pack_entry(archive, &byte, 1, 0, false));
  EXPECT_EQ(archive, Bytes{9});
}

}  // namespace
