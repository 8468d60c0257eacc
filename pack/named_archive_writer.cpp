#include "pack/named_archive_writer.h"

#include <algorithm>
#include <string_view>

#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"

namespace {

void put_le(std::vector<uint8_t>& out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

/// Whether two items have the same path. Paths that differ only in case are left to the
/// caller, which knows whether the archive is meant for a system that ignores case.
bool has_duplicate(const std::vector<NamedArchiveItem>& items) {
  std::vector<std::string_view> paths;
  paths.reserve(items.size());
  for (const NamedArchiveItem& item : items) paths.push_back(item.path);
  std::sort(paths.begin(), paths.end());
  return std::adjacent_find(paths.begin(), paths.end()) != paths.end();
}

bool items_are_valid(const std::vector<NamedArchiveItem>& items) {
  if (items.size() > kNamedArchiveMaxEntries) return false;
  for (const NamedArchiveItem& item : items) {
    if ((item.flags & ~kNamedEntryKnownFlags) != 0) return false;
    if (!entry_name_is_safe(bytes_of(item.path), item.path.size())) return false;
  }
  return !has_duplicate(items);
}

std::vector<uint8_t> make_table(const std::vector<NamedArchiveItem>& items) {
  std::vector<uint8_t> table;
  for (const NamedArchiveItem& item : items) {
    put_le(table, item.path.size(), 2);
    put_le(table, uint64_t(item.mtime), 8);
    put_le(table, item.flags, 1);
    table.insert(table.end(), item.path.begin(), item.path.end());
  }
  return table;
}

}  // namespace

bool named_archive_finish(std::vector<uint8_t>& archive, size_t entries_start,
                          const std::vector<NamedArchiveItem>& items) {
  if (entries_start > archive.size() || !items_are_valid(items)) return false;
  const uint8_t* entries = archive.data() + entries_start;
  const size_t entries_size = archive.size() - entries_start;
  const std::vector<uint8_t> table = make_table(items);
  const uint32_t count = uint32_t(items.size());
  if (!named_archive_entries_match(entries, entries_size, table.data(), table.size(), count)) {
    return false;
  }
  const uint32_t parts_crc =
      crc32_update(crc32_update(0, entries, entries_size), table.data(), table.size());

  std::vector<uint8_t> trailer(kNamedArchiveMagic, kNamedArchiveMagic + sizeof(kNamedArchiveMagic));
  put_le(trailer, kNamedArchiveVersion, 4);
  put_le(trailer, count, 4);
  put_le(trailer, table.size(), 8);
  put_le(trailer, entries_size, 8);
  put_le(trailer, parts_crc, 4);
  put_le(trailer, crc32_update(0, trailer.data(), trailer.size()), 4);

  archive.insert(archive.end(), table.begin(), table.end());
  archive.insert(archive.end(), trailer.begin(), trailer.end());
  return true;
}
