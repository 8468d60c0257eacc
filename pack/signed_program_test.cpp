#include "pack/signed_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pack/named_archive.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPeAt = 0x80;
constexpr size_t kTableSize = 16;

void put_le(Bytes& out, size_t at, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out[at + i] = uint8_t(value >> (8 * i));
}

/// A program's headers (magic 0x10b or 0x20b, 16 directory entries, none set) and code.
Bytes program(uint16_t magic) {
  const size_t optional_size = magic == 0x10b ? 224 : 240;
  Bytes out(kPeAt + 24 + optional_size + 300, 0xCC);
  std::fill(out.begin(), out.begin() + kPeAt + 24 + optional_size, 0);
  out[0] = 'M';
  out[1] = 'Z';
  put_le(out, 0x3C, kPeAt, 4);
  out[kPeAt] = 'P';
  out[kPeAt + 1] = 'E';
  put_le(out, kPeAt + 4 + 16, optional_size, 2);
  put_le(out, kPeAt + 24, magic, 2);
  put_le(out, kPeAt + 24 + (magic == 0x10b ? 92 : 108), 16, 4);
  return out;
}

/// Where the certificate table's directory entry of `image` lies.
size_t certificate_entry(const Bytes& image) {
  return kPeAt + 24 + (image[kPeAt + 24 + 1] == 1 ? 96 : 112) + 4 * 8;
}

/// `image` with an archive's trailer (its last byte 0, as a check can be) and `padding`
/// bytes of `pad` appended, then, unless `table_size` is 0, a certificate table that the
/// directory names and that ends the file.
Bytes appended(Bytes image, size_t padding = 0, uint8_t pad = 0, size_t table_size = kTableSize) {
  image.insert(image.end(), kNamedArchiveMagic, kNamedArchiveMagic + sizeof kNamedArchiveMagic);
  image.insert(image.end(), kNamedArchiveTrailerSize - sizeof kNamedArchiveMagic - 1, 0x5A);
  image.insert(image.end(), 1 + padding, pad);
  image[image.size() - padding - 1] = 0;
  if (table_size > 0) {
    put_le(image, certificate_entry(image), image.size(), 4);
    put_le(image, certificate_entry(image) + 4, table_size, 4);
    image.insert(image.end(), table_size, 0x30);
  }
  return image;
}

/// `image` with `size` bytes at `at` set to `value`.
Bytes with(Bytes image, size_t at, uint64_t value, size_t size) {
  put_le(image, at, value, size);
  return image;
}

struct Reader {
  const Bytes* bytes;
  bool out_of_range = false;
};

bool read_bytes(void* context, uint64_t offset, uint8_t* out, size_t count) {
  auto* reader = static_cast<Reader*>(context);
  if (offset > reader->bytes->size() || count > reader->bytes->size() - offset) {
    reader->out_of_range = true;
    return false;
  }
  std::copy_n(reader->bytes->begin() + offset, count, out);
  return true;
}

bool read_fails(void*, uint64_t, uint8_t*, size_t) {
  return false;
}

TEST(SignedProgramTest, ArchiveEndsBeforeTheTableAndPaddingOrAtTheFilesEnd) {
  const Bytes pe32 = program(0x10b);
  const Bytes pe32_plus = program(0x20b);
  const Bytes signed32 = appended(pe32);
  const size_t entry = certificate_entry(pe32);
  Bytes cut_header = pe32;
  cut_header.resize(kPeAt + 24 + 90);
  Bytes elf = appended(Bytes{0x7F, 'E', 'L', 'F'}, 0, 0, 0);
  Bytes table_then_more = signed32;
  table_then_more.insert(table_then_more.end(), 8, 0);
  Bytes no_trailer = pe32;
  no_trailer.insert(no_trailer.end(), 50, 0x11);
  put_le(no_trailer, entry, no_trailer.size(), 4);
  put_le(no_trailer, entry + 4, kTableSize, 4);
  no_trailer.insert(no_trailer.end(), kTableSize, 0x30);

  struct Case {
    const char* name;
    Bytes file;
    size_t end_from_back;  ///< where the archive ends, counted back from the file's end
  };
  const Case cases[] = {
      {"unsigned PE32", appended(pe32, 0, 0, 0), 0},
      {"signed PE32, no padding", signed32, kTableSize},
      {"signed PE32+, 7 bytes of padding", appended(pe32_plus, 7), 7 + kTableSize},
      {"signature removed, its padding left", appended(pe32, 3, 0, 0), 3},
      {"8 bytes of padding", appended(pe32, 8), 0},
      {"padding that is not zero", appended(pe32, 2, 0x01), 0},
      {"a table that does not end the file", table_then_more, 0},
      {"no trailer before the table", no_trailer, 0},
      {"a table larger than the file", with(signed32, entry + 4, 0xFFFFFFF0, 4), 0},
      {"a table within the headers",
       with(with(signed32, entry, kPeAt, 4), entry + 4, signed32.size() - kPeAt, 4), 0},
      {"a header cut short", cut_header, 0},
      {"e_lfanew far beyond the file", with(signed32, 0x3C, 0xFFFFFFFC, 4), 0},
      {"no PE signature", with(signed32, kPeAt + 2, 1, 1), 0},
      {"an unknown optional header magic", with(signed32, kPeAt + 24, 0x107, 2), 0},
      {"four directory entries", with(signed32, entry - 4 * 8 - 4, 4, 4), 0},
      {"an optional header too small for entry 4", with(signed32, kPeAt + 20, 96 + 36, 2), 0},
      {"an ELF file", elf, 0},
      {"a file shorter than a DOS header", Bytes{'M', 'Z', 0, 0}, 0},
  };
  for (const Case& c : cases) {
    Reader reader{&c.file};
    EXPECT_EQ(signed_program_archive_end(read_bytes, &reader, c.file.size()),
              c.file.size() - c.end_from_back)
        << c.name;
    EXPECT_FALSE(reader.out_of_range) << c.name << ": read outside the file";
  }
  EXPECT_EQ(signed_program_archive_end(read_fails, nullptr, signed32.size()), signed32.size());
}

}  // namespace
