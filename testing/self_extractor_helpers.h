// Test support: named archives made from a list of files and folders, self-extractors made
// of a program's bytes with such an archive appended, and the one builder of archives by
// hand, for the malformed ones no writer makes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jc/jc_entry.h"
#include "pack/archive_digest.h"
#include "pack/named_archive.h"
#include "pack/named_archive_writer.h"

/// One entry of a named archive made in a test.
struct ArchiveFile {
  std::string path;     ///< relative UTF-8 path; a folder's has no content
  std::string content;  ///< the file's bytes
  int64_t mtime = 1500000000;
  uint8_t flags = 0;  ///< kNamedEntryExecutable, kNamedEntryDirectory
};

/// A folder entry.
inline ArchiveFile archive_folder(const std::string& path, int64_t mtime = 1500000000) {
  return ArchiveFile{path, "", mtime, kNamedEntryDirectory};
}

/// Bytes of content per block in the archives tests make: small, so that files span blocks
/// and blocks hold many files.
inline constexpr size_t kTestBlockSize = 1000;

/// A sink that appends to the vector `context`.
inline bool append_to_bytes(void* context, const uint8_t* data, size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), data, data + size);
  return true;
}

/// The version 1 named archive of `files`: one entry per file, compressed where that makes it
/// smaller, stored when `store`. Empty when the writer refuses the items.
inline std::string named_archive_v1_of(const std::vector<ArchiveFile>& files, bool store = false) {
  std::vector<uint8_t> archive;
  std::vector<NamedArchiveItem> items;
  for (const ArchiveFile& file : files) {
    const auto* data = reinterpret_cast<const uint8_t*>(file.content.data());
    if (!jc_append_pack_entry(archive, data, file.content.size(), 9, store)) return "";
    items.push_back(NamedArchiveItem{file.path, file.mtime, file.flags});
  }
  if (!named_archive_finish(archive, 0, items)) return "";
  return std::string(archive.begin(), archive.end());
}

/// The named archive of `files` as jcpack writes it (version 2): their bytes back to back in
/// blocks of `block` bytes, each compressed where that makes it smaller (stored when
/// `store`), with `settings`. Empty when the writer refuses the items.
/// A setting: its tag and its value.
struct ArchiveSetting {
  uint16_t tag;
  std::string value;
};

inline std::string named_archive_of(const std::vector<ArchiveFile>& files, bool store = false,
                                    size_t block = kTestBlockSize,
                                    const std::vector<ArchiveSetting>& settings = {}) {
  std::string content;
  for (const ArchiveFile& file : files) content += file.content;
  std::vector<uint8_t> archive;
  NamedArchiveWriter w;
  named_archive_writer_start(&w, append_to_bytes, &archive);
  for (const ArchiveSetting& setting : settings) {
    if (!named_archive_writer_setting(&w, setting.tag,
                                      reinterpret_cast<const uint8_t*>(setting.value.data()),
                                      setting.value.size()))
      return "";
  }
  for (size_t at = 0; at < content.size(); at += block) {
    const auto* data = reinterpret_cast<const uint8_t*>(content.data()) + at;
    std::vector<uint8_t> entry;
    if (!jc_append_pack_entry(entry, data, std::min(block, content.size() - at), 9, store) ||
        !named_archive_writer_block(&w, entry.data(), entry.size()))
      return "";
  }
  for (const ArchiveFile& file : files) {
    if (!named_archive_writer_item(
            &w, NamedArchiveItem{file.path, file.mtime, file.flags, file.content.size()}))
      return "";
  }
  if (!named_archive_writer_finish(&w)) return "";
  return std::string(archive.begin(), archive.end());
}

/// `v` as `size` little-endian bytes.
inline std::string little_endian(uint64_t v, size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

/// One table record made by hand: any path, any flags, and the path's size as `stated_size`
/// says (its real size by default), as a hostile writer would.
inline std::string table_record(const std::string& path, uint8_t flags = 0,
                                int64_t mtime = 1500000000, size_t stated_size = SIZE_MAX) {
  return little_endian(stated_size == SIZE_MAX ? path.size() : stated_size, 2) +
         little_endian(uint64_t(mtime), 8) + static_cast<char>(flags) + path;
}

/// One version 2 table record made by hand: any path, size and flags.
inline std::string table_record_v2(const std::string& path, uint64_t size, uint8_t flags = 0,
                                   int64_t mtime = 1500000000) {
  return little_endian(path.size(), 2) + little_endian(uint64_t(mtime), 8) +
         static_cast<char>(flags) + little_endian(size, 8) + path;
}

/// One field of a settings record.
inline std::string setting_field(uint16_t tag, const std::string& value) {
  return little_endian(tag, 2) + little_endian(value.size(), 4) + value;
}

/// The fields of a trailer made by hand, each as a hostile writer may set it.
struct TrailerFields {
  uint32_t version = kNamedArchiveVersion1;
  uint32_t count = 0;
  uint64_t table_size = 0;
  uint64_t entries_size = 0;
  uint32_t crc = 0;  ///< CRC-32 of the entries and the table
};

/// The trailer of `f`, with a right check of its own.
inline std::string trailer_by_hand(const TrailerFields& f) {
  std::string trailer(reinterpret_cast<const char*>(kNamedArchiveMagic), 8);
  trailer += little_endian(f.version, 4) + little_endian(f.count, 4) +
             little_endian(f.table_size, 8) + little_endian(f.entries_size, 8) +
             little_endian(f.crc, 4);
  return trailer +
         little_endian(
             crc32_update(0, reinterpret_cast<const uint8_t*>(trailer.data()), trailer.size()), 4);
}

/// A named archive made by hand from `entries` (pack entries back to back) and `table`
/// (records back to back) for `count` entries, with a trailer whose checks are right.
inline std::string named_archive_by_hand(const std::string& entries, const std::string& table,
                                         uint32_t count) {
  const std::string parts = entries + table;
  const uint32_t crc =
      crc32_update(0, reinterpret_cast<const uint8_t*>(parts.data()), parts.size());
  return parts + trailer_by_hand({kNamedArchiveVersion1, count, table.size(), entries.size(), crc});
}

/// A version 2 named archive made by hand from `blocks` (pack entries back to back), the
/// settings' `fields` and `records` (version 2 records back to back) for `count` entries,
/// with a trailer whose checks are right.
inline std::string named_archive_v2_by_hand(const std::string& blocks, const std::string& fields,
                                            const std::string& records, uint32_t count) {
  const std::string table = little_endian(fields.size(), 4) + fields + records;
  const std::string parts = blocks + table;
  const uint32_t crc =
      crc32_update(0, reinterpret_cast<const uint8_t*>(parts.data()), parts.size());
  return parts + trailer_by_hand({kNamedArchiveVersion2, count, table.size(), blocks.size(), crc});
}
