#include "pack/program_image.h"

namespace {

/// The reader and what it found: the furthest end so far, or a failure.
struct ImageScan {
  SignedProgramRead read;
  void* context;
  uint64_t file_size;
  uint64_t end;
  bool failed;
};

/// Reads an unsigned little-endian field of `size` bytes (at most 8) at `offset`; 0 and a
/// failed scan when it lies outside the file.
uint64_t field(ImageScan& scan, uint64_t offset, uint32_t size) {
  uint8_t bytes[8] = {};
  if (scan.failed || size > sizeof bytes || offset > scan.file_size ||
      size > scan.file_size - offset || !scan.read(scan.context, offset, bytes, size)) {
    scan.failed = true;
    return 0;
  }
  uint64_t value = 0;
  for (uint32_t i = size; i > 0; --i) value = value << 8 | bytes[i - 1];
  return value;
}

/// Counts `size` bytes from `offset` as the program's; a range past the file's end fails.
void cover(ImageScan& scan, uint64_t offset, uint64_t size) {
  if (offset > scan.file_size || size > scan.file_size - offset) {
    scan.failed = true;
    return;
  }
  if (offset + size > scan.end) scan.end = offset + size;
}

/// A table of `count` entries of `entry_size` bytes from `offset`, within the limits.
bool table_fits(ImageScan& scan, uint64_t offset, uint64_t count, uint64_t entry_size) {
  if (count > kProgramImageMaxEntries) scan.failed = true;
  if (!scan.failed) cover(scan, offset, count * entry_size);
  return !scan.failed;
}

// ---- ELF ----------------------------------------------------------------------------------

constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint8_t kElfClass32 = 1;
constexpr uint8_t kElfClass64 = 2;
constexpr uint8_t kElfLittleEndian = 1;
constexpr uint32_t kSectionNoBits = 8;

/// Where the fields lie in the two classes.
struct ElfLayout {
  uint32_t header_size, address_size;
  uint32_t program_table, section_table;  ///< offsets of e_phoff and e_shoff
  uint32_t program_entry_size;            ///< offset of e_phentsize; the counts follow
  uint32_t segment_offset, segment_size;  ///< p_offset and p_filesz in an entry
  uint32_t section_offset, section_size;  ///< sh_offset and sh_size in an entry
};

constexpr ElfLayout kElf32{52, 4, 0x1C, 0x20, 0x2A, 4, 0x10, 0x10, 0x14};
constexpr ElfLayout kElf64{64, 8, 0x20, 0x28, 0x36, 8, 0x20, 0x18, 0x20};

void scan_elf(ImageScan& scan, const ElfLayout& layout) {
  cover(scan, 0, layout.header_size);
  const uint32_t word = layout.address_size;
  const uint64_t program_table = field(scan, layout.program_table, word);
  const uint64_t section_table = field(scan, layout.section_table, word);
  const uint64_t program_entry = field(scan, layout.program_entry_size, 2);
  const uint64_t programs = field(scan, layout.program_entry_size + 2, 2);
  const uint64_t section_entry = field(scan, layout.program_entry_size + 4, 2);
  const uint64_t sections = field(scan, layout.program_entry_size + 6, 2);
  if (table_fits(scan, program_table, programs, program_entry)) {
    for (uint64_t i = 0; i < programs && !scan.failed; ++i) {
      const uint64_t entry = program_table + i * program_entry;
      cover(scan, field(scan, entry + layout.segment_offset, word),
            field(scan, entry + layout.segment_size, word));
    }
  }
  if (table_fits(scan, section_table, sections, section_entry)) {
    for (uint64_t i = 0; i < sections && !scan.failed; ++i) {
      const uint64_t entry = section_table + i * section_entry;
      if (field(scan, entry + 4, 4) == kSectionNoBits) continue;
      cover(scan, field(scan, entry + layout.section_offset, word),
            field(scan, entry + layout.section_size, word));
    }
  }
}

// ---- PE -----------------------------------------------------------------------------------

constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint64_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kSectionEntrySize = 40;
constexpr uint64_t kSymbolSize = 18;
constexpr uint64_t kSizeOfHeadersField = 60;

void scan_pe(ImageScan& scan) {
  const uint64_t pe = field(scan, kPeOffsetField, 4);
  if (field(scan, pe, 4) != kPeSignature) scan.failed = true;
  const uint64_t file_header = pe + 4;
  const uint64_t sections = field(scan, file_header + 2, 2);
  const uint64_t symbol_table = field(scan, file_header + 8, 4);
  const uint64_t symbols = field(scan, file_header + 12, 4);
  const uint64_t optional_header = file_header + kFileHeaderSize;
  const uint64_t section_table = optional_header + field(scan, file_header + 16, 2);
  cover(scan, 0, field(scan, optional_header + kSizeOfHeadersField, 4));
  if (table_fits(scan, section_table, sections, kSectionEntrySize)) {
    for (uint64_t i = 0; i < sections && !scan.failed; ++i) {
      const uint64_t entry = section_table + i * kSectionEntrySize;
      cover(scan, field(scan, entry + 20, 4), field(scan, entry + 16, 4));
    }
  }
  if (symbol_table != 0 && !scan.failed) {
    // The string table follows the symbols; its first field is its size, itself included.
    const uint64_t strings = symbol_table + symbols * kSymbolSize;
    cover(scan, symbol_table, symbols * kSymbolSize);
    cover(scan, strings, field(scan, strings, 4));
  }
}

}  // namespace

uint64_t program_image_end(SignedProgramRead read, void* context, uint64_t file_size) {
  ImageScan scan{read, context, file_size, 0, false};
  uint8_t start[6] = {};
  if (file_size < sizeof start || !read(context, 0, start, sizeof start))
    return kProgramImageUnknown;
  const bool elf = start[0] == kElfMagic[0] && start[1] == kElfMagic[1] &&
                   start[2] == kElfMagic[2] && start[3] == kElfMagic[3] &&
                   start[5] == kElfLittleEndian;
  if (elf && start[4] == kElfClass32) {
    scan_elf(scan, kElf32);
  } else if (elf && start[4] == kElfClass64) {
    scan_elf(scan, kElf64);
  } else if (start[0] == 'M' && start[1] == 'Z') {
    scan_pe(scan);
  } else {
    return kProgramImageUnknown;
  }
  return scan.failed ? kProgramImageUnknown : scan.end;
}
