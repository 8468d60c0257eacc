#include "pack/pack_reader.h"

#include <cstring>
#include <string>

#include "files/file_layer_fixture.h"
#include "files/program_directory.h"
#include "pack/test_archive.h"

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

TEST_F(PackReaderTest, ARefusedBlockIsSkippedAndTheNextEntryStillComes) {
  std::string bad_checksum = kExampleBlock;
  bad_checksum[7] = '\x00';
  std::string bad_magic = kExampleBlock;
  bad_magic[0] = 'X';
  std::string no_checksum = kExampleBlock;
  no_checksum.replace(6, 4, std::string(4, '\0'));
  open_archive(entry(4, bad_checksum) + stored("one") + entry(4, bad_magic) + stored("two") +
               entry(5, kExampleBlock) + entry(4, no_checksum));
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(delivered(), "one");
  EXPECT_EQ(delivered(), "<none>");
  EXPECT_EQ(delivered(), "two");
  EXPECT_EQ(delivered(), "<none>");  // the block unpacks to 4 bytes, the header says 5
  EXPECT_EQ(delivered(), "aaaa");
  EXPECT_EQ(delivered(), "<none>");
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
