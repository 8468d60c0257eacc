#include "pack/pack_reader.h"

#include <cstring>
#include <string>
#include <utility>

#include "files/program_directory.h"
#include "pack/archive_digest.h"
#include "testing/archive_helpers.h"
#include "testing/file_layer_fixture.h"

namespace {

std::string delivered() {
  uint8_t* data = pack_next_entry();
  int32_t size = pack_entry_size();
  if (!data) return size == -1 ? "<none>" : "<null with size>";
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
}

class PackReaderTest : public FileLayerTest {
 protected:
  void SetUp() override {
    FileLayerTest::SetUp();
    program_directory_init(in_scratch("entpacker").c_str());
  }
  void TearDown() override {
    pack_close();
    pack_reader = PackReader{};
    FileLayerTest::TearDown();
  }
  void open_archive(const std::string& bytes) {
    pack_close();  // an open archive may not be rewritten everywhere
    write_file("test.pac", bytes);
    ASSERT_EQ(pack_open("test.pac"), 1);
  }
};

}  // namespace

TEST_F(PackReaderTest, NothingBeforeOpenAfterCloseOrForAMissingArchive) {
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(pack_open("missing.pac"), 0);
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  open_archive(stored("abc"));
  pack_close();
  pack_close();
  pack_release();
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
}

TEST_F(PackReaderTest, EmptyArchiveOpensAndEndsAtOnce) {
  open_archive("");
  EXPECT_EQ(delivered(), "<none>");
}

TEST_F(PackReaderTest, OpenLooksInTheProgramDirectory) {
  write_file("test.pac", stored("here"));
  ASSERT_EQ(mkdir("elsewhere", 0755), 0);
  ASSERT_EQ(chdir("elsewhere"), 0);
  ASSERT_EQ(pack_open("test.pac"), 1);
  EXPECT_EQ(current_directory(), directory_);
  EXPECT_EQ(delivered(), "here");
}

TEST_F(PackReaderTest, EntriesComeInOrderAndTheLastBufferOutlivesTheEnd) {
  open_archive(entry(4, kExampleBlock) + stored("JC looks like a block") + stored("") +
               stored("last"));
  EXPECT_EQ(delivered(), "aaaa");
  EXPECT_EQ(delivered(), "JC looks like a block");
  uint8_t* empty = pack_next_entry();
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(pack_entry_size(), 0);
  uint8_t* last = pack_next_entry();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(std::memcmp(last, "last", 4), 0);  // still valid until pack_close
  EXPECT_EQ(pack_next_entry(), nullptr);
}

TEST_F(PackReaderTest, ADamagedBlockCostsOnlyItsOwnEntry) {
  std::string bad_checksum = kExampleBlock;
  bad_checksum[7] = '\x00';
  std::string bad_stream = kExampleBlock;
  bad_stream[11] ^= 0x40;
  std::string no_checksum = kExampleBlock;
  no_checksum.replace(6, 4, std::string(4, '\0'));
  open_archive(entry(4, bad_checksum) + stored("one") + entry(4, bad_stream) + stored("two") +
               entry(4, no_checksum));
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(delivered(), "one");
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(delivered(), "two");
  EXPECT_EQ(delivered(), "aaaa");
  EXPECT_EQ(delivered(), "<none>");
}

TEST_F(PackReaderTest, WrongFramingStopsTheReaderForEveryLaterEntry) {
  std::string bad_magic = kExampleBlock;
  bad_magic[0] = 'X';
  // Each of these leaves the reader unsure where the next entry starts; the entries that
  // seem to follow are never delivered, however sound they look.
  const std::pair<const char*, std::string> framings[] = {
      {"no magic", entry(4, bad_magic)},
      {"block of another size", entry(5, kExampleBlock)},
      {"block shorter than a header", entry(4, "JC")},
      {"compressed entry of no bytes", entry(4, "")},
      {"size beyond 2 GiB", u32(0x80000000u) + u32(3) + "abc"},
      {"zeroed header over a block", u32(0) + u32(0) + kExampleBlock.substr(8)},
  };
  for (const auto& [what, framing] : framings) {
    SCOPED_TRACE(what);
    open_archive(stored("before") + framing + stored("after") + stored("more"));
    EXPECT_EQ(delivered(), "before");
    if (std::string(what).rfind("zeroed", 0) == 0) {
      EXPECT_EQ(delivered(), "");  // an empty stored entry: only the digest can tell
      EXPECT_EQ(delivered(), "<none>");
    } else {
      EXPECT_EQ(delivered(), "<none>");
    }
    EXPECT_EQ(delivered(), "<none>");
    EXPECT_EQ(delivered(), "<none>");
    // A fresh open starts over.
    ASSERT_EQ(pack_open("test.pac"), 1);
    EXPECT_EQ(delivered(), "before");
  }
}

TEST_F(PackReaderTest, VerifyComparesTheWholeFileAndRewinds) {
  const std::string archive = stored("one") + entry(4, kExampleBlock);
  const auto* bytes = reinterpret_cast<const uint8_t*>(archive.data());
  const ArchiveDigest digest = archive_digest_of(bytes, static_cast<uint32_t>(archive.size()));
  EXPECT_EQ(pack_verify(digest), 0);  // nothing open
  open_archive(archive);
  EXPECT_EQ(pack_verify(digest), 1);
  EXPECT_EQ(delivered(), "one");
  EXPECT_EQ(delivered(), "aaaa");

  std::string changed = archive;
  changed[9] ^= 1;
  open_archive(changed);
  EXPECT_EQ(pack_verify(digest), 0);
  open_archive(archive + "x");
  EXPECT_EQ(pack_verify(digest), 0);
  open_archive(archive.substr(0, archive.size() - 1));
  EXPECT_EQ(pack_verify(digest), 0);
  // Larger than one read: every chunk counts.
  std::string big(300000, 'z');
  big[250000] = 'y';
  const std::string big_archive = stored(big);
  const auto* big_bytes = reinterpret_cast<const uint8_t*>(big_archive.data());
  open_archive(big_archive);
  EXPECT_EQ(pack_verify(archive_digest_of(big_bytes, static_cast<uint32_t>(big_archive.size()))),
            1);
  EXPECT_EQ(delivered(), big);
}

TEST(ArchiveDigestTest, TheCommonCheckValueAndChaining) {
  const auto* text = reinterpret_cast<const uint8_t*>("123456789");
  EXPECT_EQ(crc32_update(0, text, 9), 0xCBF43926u);
  EXPECT_EQ(crc32_update(crc32_update(0, text, 4), text + 4, 5), 0xCBF43926u);
  EXPECT_EQ(archive_digest_of(nullptr, 0).crc32, 0u);
  const ArchiveDigest a = archive_digest_of(text, 9);
  EXPECT_TRUE(archive_digest_equal(a, {9, 0xCBF43926u}));
  EXPECT_FALSE(archive_digest_equal(a, {8, 0xCBF43926u}));
}

TEST(ArchiveDigestTest, EightAtATimeAgreesWithByteAtATime) {
  EXPECT_EQ(crc32_update_sliced(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
  std::string bytes(1000, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  // Every start and length around the eight-byte steps, and chained at odd places.
  for (size_t start = 0; start < 9; ++start) {
    for (size_t length = 0; length + start <= bytes.size(); length += 1 + length / 3) {
      SCOPED_TRACE(testing::Message() << start << " " << length);
      const uint32_t expected = crc32_update(7, data + start, length);
      ASSERT_EQ(crc32_update_sliced(7, data + start, length), expected);
      const size_t split = length / 3;
      ASSERT_EQ(crc32_update_sliced(crc32_update_sliced(7, data + start, split),
                                    data + start + split, length - split),
                expected);
    }
  }
}

TEST_F(PackReaderTest, ArchivesCutShortDeliverNothingWhole) {
  for (size_t cut = 1; cut < kPackEntryHeaderSize; ++cut) {
    SCOPED_TRACE(cut);
    open_archive(stored("whole") + (u32(3) + u32(3)).substr(0, cut));
    EXPECT_EQ(delivered(), "whole");
    EXPECT_EQ(delivered(), "<none>");
    EXPECT_EQ(delivered(), "<none>");
  }
  open_archive(stored("whole") + u32(100) + u32(100) + std::string(10, 'x'));
  EXPECT_EQ(delivered(), "whole");
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(delivered(), "<none>");
  // A block cut inside its stream.
  open_archive(entry(4, kExampleBlock.substr(0, 14)));
  EXPECT_EQ(delivered(), "<none>");
}

TEST_F(PackReaderTest, AnOpenClosesTheArchiveBefore) {
  open_archive(stored("first") + stored("second"));
  EXPECT_EQ(delivered(), "first");
  write_file("other.pac", stored("other"));
  ASSERT_EQ(pack_open("other.pac"), 1);
  EXPECT_EQ(pack_reader.entry_buffer, nullptr);
  EXPECT_EQ(delivered(), "other");
  EXPECT_EQ(pack_open("missing.pac"), 0);
  EXPECT_EQ(pack_entry_size(), -1);
}

TEST_F(PackReaderTest, AnEntryThatFindsNoMemoryIsReadPast) {
  open_archive(stored(std::string(100000, 'b')) + stored("small"));
  // Room for the entry's buffer but not for its stored bytes beside it.
  PlatformHeap roomy = runtime_memory.main_heap;
  runtime_memory.main_heap = platform_heap_create(kMainHeapInitialSize, 150000);
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(pack_reader.entry_buffer, nullptr);
  EXPECT_EQ(delivered(), "small");
  pack_close();
  platform_heap_destroy(runtime_memory.main_heap);
  runtime_memory.main_heap = roomy;
}
