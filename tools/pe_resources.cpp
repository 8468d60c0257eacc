#include "tools/pe_resources.h"

namespace {

constexpr uint32_t kDosNewHeaderOffset = 0x3C;  ///< where the DOS header keeps the PE offset
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;  ///< in the optional header's data directories
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;  ///< a name string, or a subdirectory
/// Type, name, language: the levels of the tree above each resource's bytes.
constexpr int kDirectoryLevels = 3;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedFileInfoSize = 52;
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";

/// Little-endian reads from `bytes`, false when [offset, offset + width) leaves them.
bool read16(std::span<const uint8_t> bytes, uint64_t offset, uint16_t* value) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return false;
  *value = uint16_t(bytes[offset] | bytes[offset + 1] << 8);
  return true;
}

bool read32(std::span<const uint8_t> bytes, uint64_t offset, uint32_t* value) {
  uint16_t low = 0, high = 0;
  if (!read16(bytes, offset, &low) || !read16(bytes, offset + 2, &high)) return false;
  *value = uint32_t(low) | uint32_t(high) << 16;
  return true;
}

bool fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

/// The headers of a program's file that lead to its resources.
struct PeLayout {
  uint64_t sections = 0;  ///< offset of the section table
  uint16_t section_count = 0;
  uint32_t resource_rva = 0;
  uint32_t resource_size = 0;
};

bool read_layout(std::span<const uint8_t> file, PeLayout* layout, std::string* error) {
  uint32_t pe = 0, signature = 0;
  uint16_t optional_size = 0, magic = 0;
  if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z' ||
      !read32(file, kDosNewHeaderOffset, &pe) || !read32(file, pe, &signature) ||
      signature != 0x00004550)  // "PE\0\0"
    return fail(error, "not a Windows program");
  const uint64_t header = uint64_t(pe) + 4;
  const uint64_t optional = header + kFileHeaderSize;
  if (!read16(file, header + 2, &layout->section_count) ||
      !read16(file, header + 16, &optional_size) || !read16(file, optional, &magic))
    return fail(error, "the file header is cut short");
  uint32_t directories = 0;  // offset of the data directories in the optional header
  if (magic == kMagicPe32) {
    directories = 96;
  } else if (magic == kMagicPe32Plus) {
    directories = 112;
  } else {
    return fail(error, "unknown optional header");
  }
  uint32_t directory_count = 0;
  const uint64_t resource_entry = directories + 8 * kResourceDirectoryIndex;
  if (!read32(file, optional + directories - 4, &directory_count) ||
      directory_count <= kResourceDirectoryIndex || resource_entry + 8 > optional_size)
    return fail(error, "no resource directory");
  if (!read32(file, optional + resource_entry, &layout->resource_rva) ||
      !read32(file, optional + resource_entry + 4, &layout->resource_size))
    return fail(error, "the optional header is cut short");
  if (layout->resource_rva == 0 || layout->resource_size == 0) return fail(error, "no resources");
  layout->sections = optional + optional_size;
  if (layout->sections + uint64_t(layout->section_count) * kSectionHeaderSize > file.size())
    return fail(error, "the section table is cut short");
  return true;
}

/// The file's `size` bytes at `rva`, all within one section's bytes in the file.
bool map_rva(std::span<const uint8_t> file, const PeLayout& layout, uint32_t rva, uint32_t size,
             std::span<const uint8_t>* bytes) {
  for (uint16_t i = 0; i < layout.section_count; ++i) {
    const uint64_t section = layout.sections + uint64_t(i) * kSectionHeaderSize;
    uint32_t address = 0, raw_size = 0, raw_offset = 0;
    // Within the table, checked by read_layout.
    read32(file, section + 12, &address);
    read32(file, section + 16, &raw_size);
    read32(file, section + 20, &raw_offset);
    if (rva < address || rva - address >= raw_size) continue;
    const uint64_t start = uint64_t(raw_offset) + (rva - address);
    if (uint64_t(rva - address) + size > raw_size || start + size > file.size()) return false;
    *bytes = file.subspan(start, size);
    return true;
  }
  return false;
}

/// The entry of the directory at `offset` in `tree` with the identifier `id`, or its first
/// entry when `id` is negative: what it points at (`*target`), and whether that is a
/// subdirectory. False when there is no such entry or the directory leaves `tree`.
bool directory_entry(std::span<const uint8_t> tree, uint32_t offset, int64_t id, uint32_t* target,
                     bool* subdirectory) {
  uint16_t named = 0, numbered = 0;
  if (!read16(tree, uint64_t(offset) + 12, &named) ||
      !read16(tree, uint64_t(offset) + 14, &numbered))
    return false;
  const uint32_t count = uint32_t(named) + numbered;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry =
        uint64_t(offset) + kDirectoryHeaderSize + uint64_t(i) * kDirectoryEntrySize;
    uint32_t name = 0, data = 0;
    if (!read32(tree, entry, &name) || !read32(tree, entry + 4, &data)) return false;
    if (id >= 0 && ((name & kHighBit) != 0 || name != uint64_t(id))) continue;
    *target = data & ~kHighBit;
    *subdirectory = (data & kHighBit) != 0;
    return true;
  }
  return false;
}

}  // namespace

bool find_pe_resource(std::span<const uint8_t> file, uint32_t type,
                      std::span<const uint8_t>* resource, std::string* error) {
  PeLayout layout;
  if (!read_layout(file, &layout, error)) return false;
  std::span<const uint8_t> tree;
  if (!map_rva(file, layout, layout.resource_rva, layout.resource_size, &tree))
    return fail(error, "the resource directory lies outside the file's sections");
  uint32_t offset = 0;
  for (int level = 0; level < kDirectoryLevels; ++level) {
    bool subdirectory = false;
    if (!directory_entry(tree, offset, level == 0 ? int64_t(type) : -1, &offset, &subdirectory))
      return fail(error,
                  level == 0 ? "no resource of that type" : "a resource directory is damaged");
    // Names and languages are directories; below them lie the resources themselves.
    if (subdirectory != (level + 1 < kDirectoryLevels))
      return fail(error, "a resource directory is damaged");
  }
  uint32_t rva = 0, size = 0;
  if (!read32(tree, offset, &rva) || !read32(tree, uint64_t(offset) + 4, &size) ||
      uint64_t(offset) + kDataEntrySize > tree.size())
    return fail(error, "a resource's entry is damaged");
  if (!map_rva(file, layout, rva, size, resource))
    return fail(error, "a resource lies outside the file's sections");
  return true;
}

std::string FourPartVersion::text() const {
  return std::to_string(part[0]) + "." + std::to_string(part[1]) + "." + std::to_string(part[2]) +
         "." + std::to_string(part[3]);
}

bool read_fixed_file_versions(std::span<const uint8_t> resource, FixedFileVersions* versions,
                              std::string* error) {
  // The resource's header (its length, its value's length, its type), its key, padded to a
  // multiple of four bytes, then the fixed file information as its value.
  uint16_t length = 0, value_length = 0;
  if (!read16(resource, 0, &length) || !read16(resource, 2, &value_length) ||
      length > resource.size())
    return fail(error, "the version resource is cut short");
  const std::span<const uint8_t> block = resource.first(length);
  constexpr uint64_t kKeyOffset = 6;
  constexpr uint64_t kKeyBytes = sizeof kVersionKey;  // with its terminating zero
  for (uint64_t i = 0; i < kKeyBytes / 2; ++i) {
    uint16_t unit = 0;
    if (!read16(block, kKeyOffset + 2 * i, &unit) || unit != uint16_t(kVersionKey[i]))
      return fail(error, "not a version resource");
  }
  const uint64_t value = (kKeyOffset + kKeyBytes + 3) & ~uint64_t(3);
  uint32_t signature = 0, file_high = 0, file_low = 0, product_high = 0, product_low = 0;
  if (value_length < kFixedFileInfoSize || value + kFixedFileInfoSize > block.size())
    return fail(error, "no fixed file information");
  read32(block, value, &signature);
  if (signature != kFixedFileInfoSignature)
    return fail(error, "the fixed file information lacks its signature");
  read32(block, value + 8, &file_high);
  read32(block, value + 12, &file_low);
  read32(block, value + 16, &product_high);
  read32(block, value + 20, &product_low);
  const auto split = [](uint32_t high, uint32_t low, FourPartVersion* v) {
    v->part[0] = uint16_t(high >> 16);
    v->part[1] = uint16_t(high);
    v->part[2] = uint16_t(low >> 16);
    v->part[3] = uint16_t(low);
  };
  split(file_high, file_low, &versions->file);
  split(product_high, product_low, &versions->product);
  return true;
}
