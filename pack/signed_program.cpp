#include "pack/signed_program.h"

#include "pack/named_archive.h"

/// The one safety check of this file: every condition that keeps a read inside the file or
/// that a well-formed header satisfies goes through it; when it does not hold, the function
/// gives up and the archive ends at the file's end.
#define SIGNED_PROGRAM_SAFETY_CHECK(condition) \
  do {                                         \
    if (!(condition)) [[unlikely]]             \
      return false;                            \
  } while (0)

namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kOptionalHeaderSizeField = 16;  ///< in the file header
constexpr uint64_t kOptionalHeaderStart = 4 + kFileHeaderSize;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint64_t kPe32DirectoryCountField = 92;
constexpr uint64_t kPe32PlusDirectoryCountField = 108;
constexpr uint32_t kCertificateEntry = 4;
constexpr uint64_t kDirectoryEntrySize = 8;
/// From the directory count field to the end of the certificate table's entry.
constexpr uint64_t kDirectoryReadSize = 4 + (kCertificateEntry + 1) * kDirectoryEntrySize;
constexpr uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
constexpr size_t kSearchSize = kNamedArchiveTrailerSize + kSignedProgramMaxPadding;

uint32_t load_le(const uint8_t* bytes, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= uint32_t(bytes[i]) << (8 * i);
  return value;
}

/// A read of `count` bytes at `offset` that must lie inside the file.
bool read_inside(SignedProgramRead read, void* context, uint64_t file_size, uint64_t offset,
                 uint8_t* out, size_t count) {
  return offset <= file_size && count <= file_size - offset && read(context, offset, out, count);
}

/// Where the signed part of a PE file ends: the certificate table's start when the table
/// ends the file, the file's size when the program has no table. False for anything else.
bool signed_part_end(SignedProgramRead read, void* context, uint64_t file_size, uint64_t* end) {
  uint8_t dos[kDosHeaderSize];
  SIGNED_PROGRAM_SAFETY_CHECK(read_inside(read, context, file_size, 0, dos, sizeof dos));
  SIGNED_PROGRAM_SAFETY_CHECK(dos[0] == 'M' && dos[1] == 'Z');
  const uint64_t pe = load_le(dos + kPeOffsetField, 4);

  uint8_t headers[kOptionalHeaderStart + 2];
  SIGNED_PROGRAM_SAFETY_CHECK(read_inside(read, context, file_size, pe, headers, sizeof headers));
  for (size_t i = 0; i < sizeof kPeSignature; ++i)
    SIGNED_PROGRAM_SAFETY_CHECK(headers[i] == kPeSignature[i]);
  const uint64_t optional_size = load_le(headers + 4 + kOptionalHeaderSizeField, 2);
  const uint32_t magic = load_le(headers + kOptionalHeaderStart, 2);
  SIGNED_PROGRAM_SAFETY_CHECK(magic == kPe32Magic || magic == kPe32PlusMagic);
  const uint64_t count_field =
      magic == kPe32Magic ? kPe32DirectoryCountField : kPe32PlusDirectoryCountField;
  SIGNED_PROGRAM_SAFETY_CHECK(optional_size >= count_field + kDirectoryReadSize);

  uint8_t directory[kDirectoryReadSize];
  SIGNED_PROGRAM_SAFETY_CHECK(read_inside(read, context, file_size,
                                          pe + kOptionalHeaderStart + count_field, directory,
                                          sizeof directory));
  SIGNED_PROGRAM_SAFETY_CHECK(load_le(directory, 4) > kCertificateEntry);
  const uint8_t* entry = directory + 4 + kCertificateEntry * kDirectoryEntrySize;
  const uint64_t table = load_le(entry, 4);
  const uint64_t table_size = load_le(entry + 4, 4);
  if (table == 0 && table_size == 0) {
    *end = file_size;
    return true;
  }
  // The table lies behind the headers and ends exactly at the file's end.
  SIGNED_PROGRAM_SAFETY_CHECK(table_size > 0 && table_size <= file_size);
  SIGNED_PROGRAM_SAFETY_CHECK(table == file_size - table_size);
  SIGNED_PROGRAM_SAFETY_CHECK(table >= pe + kOptionalHeaderStart + optional_size);
  *end = table;
  return true;
}

/// Whether `bytes` start with the named archive's magic.
bool starts_with_magic(const uint8_t* bytes) {
  for (size_t i = 0; i < sizeof kNamedArchiveMagic; ++i)
    if (bytes[i] != kNamedArchiveMagic[i]) return false;
  return true;
}

/// Where a trailer ends that ends the bytes before `end`, or is followed by at most
/// kSignedProgramMaxPadding zero bytes up to `end`. False when there is none.
bool trailer_end(SignedProgramRead read, void* context, uint64_t end, uint64_t* trailer) {
  uint8_t tail[kSearchSize];
  const size_t size = end < kSearchSize ? size_t(end) : kSearchSize;
  SIGNED_PROGRAM_SAFETY_CHECK(read_inside(read, context, end, end - size, tail, size));
  for (size_t padding = 0; padding + kNamedArchiveTrailerSize <= size; ++padding) {
    SIGNED_PROGRAM_SAFETY_CHECK(padding == 0 || tail[size - padding] == 0);
    if (starts_with_magic(tail + size - padding - kNamedArchiveTrailerSize)) {
      *trailer = end - padding;
      return true;
    }
  }
  return false;
}

}  // namespace

uint64_t signed_program_archive_end(SignedProgramRead read, void* context, uint64_t file_size) {
  uint64_t end = 0;
  uint64_t trailer = 0;
  if (signed_part_end(read, context, file_size, &end) && trailer_end(read, context, end, &trailer))
    return trailer;
  return file_size;
}
