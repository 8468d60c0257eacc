#include "tools/pe_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kManifest[] = "<assembly>asInvoker</assembly>\n";
constexpr uint32_t kSectionAddress = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;
constexpr uint32_t kVersionBytes = 92;

/// A program's file with one section that holds a resource tree (a version resource, file
/// 1.2.3.4 and product 5.6.7.8, and a manifest), and where its fields lie.
struct Program {
  std::vector<uint8_t> bytes;
  uint32_t optional = 0;     ///< the optional header
  uint32_t directories = 0;  ///< its data directories
  uint32_t section = 0;      ///< the section's header
  uint32_t tree = kSectionFileOffset;

  void put16(uint32_t at, uint32_t v) {
    if (bytes.size() < at + 2) bytes.resize(at + 2);
    bytes[at] = uint8_t(v);
    bytes[at + 1] = uint8_t(v >> 8);
  }
  void put32(uint32_t at, uint32_t v) {
    put16(at, v & 0xFFFF);
    put16(at + 2, v >> 16);
  }
};

Program make_program(bool pe32_plus) {
  Program p;
  p.put16(0, 'M' | 'Z' << 8);
  p.put32(0x3C, 0x40);
  p.put32(0x40, 0x00004550);
  p.optional = 0x40 + 4 + 20;
  p.directories = p.optional + (pe32_plus ? 112 : 96);
  const uint32_t optional_size = p.directories - p.optional + 16 * 8;
  p.put16(0x44 + 2, 1);  // one section
  p.put16(0x44 + 16, optional_size);
  p.put16(p.optional, pe32_plus ? 0x20B : 0x10B);
  p.put32(p.directories - 4, 16);
  const uint32_t version = 160, manifest = version + kVersionBytes;
  const uint32_t section_size = manifest + sizeof kManifest - 1;
  p.put32(p.directories + 16, kSectionAddress);
  p.put32(p.directories + 20, section_size);
  p.section = p.optional + optional_size;
  p.put32(p.section + 8, section_size);
  p.put32(p.section + 12, kSectionAddress);
  p.put32(p.section + 16, section_size);
  p.put32(p.section + 20, kSectionFileOffset);
  // The tree: types 16 and 24, each with one name and one language.
  const uint32_t t = p.tree, high = 0x80000000u;
  p.put16(t + 14, 2);
  p.put32(t + 16, 16), p.put32(t + 20, high | 32);
  p.put32(t + 24, 24), p.put32(t + 28, high | 80);
  for (uint32_t dir : {32u, 56u, 80u, 104u}) p.put16(t + dir + 14, 1);
  p.put32(t + 48, 1), p.put32(t + 52, high | 56);
  p.put32(t + 72, 0x409), p.put32(t + 76, 128);
  p.put32(t + 96, 1), p.put32(t + 100, high | 104);
  p.put32(t + 120, 0x409), p.put32(t + 124, 144);
  p.put32(t + 128, kSectionAddress + version), p.put32(t + 132, kVersionBytes);
  p.put32(t + 144, kSectionAddress + manifest), p.put32(t + 148, sizeof kManifest - 1);
  // The version resource: header, key, padding, fixed file information.
  const uint32_t v = t + version;
  p.put16(v, kVersionBytes), p.put16(v + 2, 52);
  const std::u16string key = u"VS_VERSION_INFO";
  for (size_t i = 0; i < key.size(); ++i) p.put16(v + 6 + 2 * uint32_t(i), key[i]);
  p.put32(v + 40, 0xFEEF04BD);
  p.put32(v + 48, 1 << 16 | 2), p.put32(v + 52, 3 << 16 | 4);
  p.put32(v + 56, 5 << 16 | 6), p.put32(v + 60, 7 << 16 | 8);
  p.bytes.resize(t + manifest);
  for (size_t i = 0; i + 1 < sizeof kManifest; ++i) p.bytes.push_back(uint8_t(kManifest[i]));
  return p;
}

/// Both resources read back, or why not.
std::string read_back(const std::vector<uint8_t>& file) {
  std::span<const uint8_t> manifest, version;
  FixedFileVersions versions;
  std::string error;
  if (!find_pe_resource(file, kResourceTypeManifest, &manifest, &error) ||
      !find_pe_resource(file, kResourceTypeVersion, &version, &error) ||
      !read_fixed_file_versions(version, &versions, &error))
    return "error: " + error;
  return std::string(manifest.begin(), manifest.end()) + versions.file.text() + " " +
         versions.product.text();
}

TEST(PeResourcesTest, DamagedFilesAreRefusedInBothFormats) {
  struct Damage {
    const char* what;
    uint32_t Program::*base;  ///< nullptr: from the file's start
    uint32_t offset;
    uint32_t value;
    bool wide;  ///< 32 bits, else 16
  };
  const uint32_t tree = kSectionFileOffset;
  const Damage damages[] = {
      {"PE header beyond the file", nullptr, 0x3C, 0xFFFFFFF0, true},
      {"unknown optional header", &Program::optional, 0, 0x999, false},
      {"too few data directories", &Program::directories, uint32_t(-4), 2, true},
      {"more sections than the file holds", nullptr, 0x46, 0xFFFF, false},
      {"section's bytes beyond the file", &Program::section, 20, 0xFFFFFF00, true},
      {"resource tree larger than its section", &Program::directories, 20, 0x10000, true},
      {"resource tree outside every section", &Program::directories, 16, 0x8000, true},
      {"subdirectory beyond the tree", nullptr, tree + 20, 0x8000FFF0, true},
      {"name level not a directory", nullptr, tree + 52, 56, true},
      {"data entry's address outside", nullptr, tree + 128, 0x7FFFFFFF, true},
      {"data entry's size beyond its section", nullptr, tree + 148, 0xFFFFFFFF, true},
      {"version's key", nullptr, tree + 160 + 6, 'X', false},
      {"version's length beyond the resource", nullptr, tree + 160, 0xFFFF, false},
      {"fixed file information's signature", nullptr, tree + 160 + 40, 0xFEEF04BC, true},
  };
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    Program p = make_program(plus);
    EXPECT_EQ(read_back(p.bytes), std::string(kManifest) + "1.2.3.4 5.6.7.8");
    for (const Damage& d : damages) {
      SCOPED_TRACE(d.what);
      Program damaged = p;
      const uint32_t at = (d.base ? damaged.*d.base : 0) + d.offset;
      d.wide ? damaged.put32(at, d.value) : damaged.put16(at, d.value);
      ASSERT_EQ(damaged.bytes.size(), p.bytes.size());
      EXPECT_EQ(read_back(damaged.bytes).rfind("error: ", 0), 0u);
    }
    // Cut short anywhere: refused, and nothing read past the end (sanitized builds tell).
    for (size_t size = 0; size < p.bytes.size(); ++size)
      EXPECT_EQ(read_back({p.bytes.begin(), p.bytes.begin() + ptrdiff_t(size)}).rfind("error: ", 0),
                0u)
          << size;
    // A type that is not there, looked for among more entries than the tree holds.
    p.put16(p.tree + 14, 0xFFFF);
    std::span<const uint8_t> icon;
    std::string error;
    EXPECT_FALSE(find_pe_resource(p.bytes, 3, &icon, &error));
    EXPECT_EQ(error, "no resource of that type");
  }
}

}  // namespace
