// Test support: named archives made from a list of files and folders, and self-extractors
// made of a program's bytes with such an archive appended.
#pragma once

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

/// The named archive of `files` (entries compressed where that makes them smaller; stored
/// when `store`). Empty when the writer refuses the items.
inline std::string named_archive_of(const std::vector<ArchiveFile>& files, bool store = false) {
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

/// `v` as `size` little-endian bytes.
inline std::string little_endian(uint64_t v, size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

/// One table record made by hand: any path, any flags, as a hostile writer would.
inline std::string table_record(const std::string& path, uint8_t flags = 0,
                                int64_t mtime = 1500000000) {
  return little_endian(path.size(), 2) + little_endian(uint64_t(mtime), 8) +
         static_cast<char>(flags) + path;
}

/// A named archive made by hand from `entries` (pack entries back to back) and `table`
/// (records back to back) for `count` entries, with a trailer whose checks are right.
inline std::string named_archive_by_hand(const std::string& entries, const std::string& table,
                                         uint32_t count) {
  const std::string parts = entries + table;
  std::string trailer(reinterpret_cast<const char*>(kNamedArchiveMagic), 8);
  trailer += little_endian(kNamedArchiveVersion, 4) + little_endian(count, 4) +
             little_endian(table.size(), 8) + little_endian(entries.size(), 8) +
             little_endian(
                 crc32_update(0, reinterpret_cast<const uint8_t*>(parts.data()), parts.size()), 4);
  trailer += little_endian(
      crc32_update(0, reinterpret_cast<const uint8_t*>(trailer.data()), trailer.size()), 4);
  return parts + trailer;
}
