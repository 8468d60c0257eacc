// The stub's ways with a signed Windows program: the archive is found before the signature
// and its padding, every part of it read from there.
#include <gtest/gtest.h>

#include <string>

#include "app/archive_source.h"
#include "runtime/workspace.h"
#include "testing/file_layer_fixture.h"
#include "testing/self_extractor_helpers.h"

namespace {

constexpr size_t kPeAt = 0x40;
constexpr size_t kOptionalHeaderSize = 240;
constexpr size_t kCertificateEntry = kPeAt + 24 + 112 + 4 * 8;

/// A PE32+ program's headers with 16 directory entries and the certificate table's entry
/// at `table` of `size` bytes, then some code.
std::string program(uint32_t table, uint32_t size) {
  std::string out(kPeAt + 24 + kOptionalHeaderSize, '\0');
  out.replace(0, 2, "MZ");
  out.replace(0x3C, 4, little_endian(kPeAt, 4));
  out.replace(kPeAt, 2, "PE");
  out.replace(kPeAt + 20, 2, little_endian(kOptionalHeaderSize, 2));
  out.replace(kPeAt + 24, 2, little_endian(0x20b, 2));
  out.replace(kPeAt + 24 + 108, 4, little_endian(16, 4));
  out.replace(kCertificateEntry, 8, little_endian(table, 4) + little_endian(size, 4));
  return out + std::string(1000, '\xCC');
}

/// `archive` behind a program, signed: `padding` zero bytes, then a certificate table.
std::string signed_program(const std::string& archive, size_t padding) {
  const std::string table(600, '\x30');
  const size_t table_at = program(0, 0).size() + archive.size() + padding;
  return program(uint32_t(table_at), uint32_t(table.size())) + archive +
         std::string(padding, '\0') + table;
}

using SignedArchiveTest = FileLayerTest;

TEST_F(SignedArchiveTest, FoundBeforeTheSignatureAndCheckedWhole) {
  const std::string archive = named_archive_v1_of({{"a.txt", std::string(5000, 'a')}, {"b", "b"}});
  write_file("signed.exe", signed_program(archive, 5));
  ArchiveSource source;
  ASSERT_EQ(appended_archive_open("signed.exe", &source), AppendedArchive::valid);
  EXPECT_EQ(source.count, 2u);
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  uint8_t* data = nullptr;
  ASSERT_TRUE(archive_walk_next(source, walk, &item));
  ASSERT_EQ(archive_unpack(source, item, &data), UnpackResult::ok);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5000), std::string(5000, 'a'));
  main_heap_free(data);
  archive_source_close(&source);

  // One changed byte of the entries, under the signature: the archive is refused.
  std::string damaged = signed_program(archive, 5);
  damaged[program(0, 0).size() + archive.size() / 3] ^= 1;
  write_file("damaged.exe", damaged);
  EXPECT_EQ(appended_archive_open("damaged.exe", &source), AppendedArchive::damaged);
}

}  // namespace
