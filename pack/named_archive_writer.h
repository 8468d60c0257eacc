// Making named archives (see named_archive.h for the layout): the table and the trailer
// written behind pack entries made with jc_append_pack_entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// One entry's name and attributes, in the order of the pack entries.
struct NamedArchiveItem {
  std::string path;   ///< relative UTF-8 path, `/` between folders; must pass entry_name_check
  int64_t mtime = 0;  ///< seconds since 1970-01-01 UTC
  uint8_t flags = 0;  ///< kNamedEntryExecutable, kNamedEntryDirectory
};

/// Appends the table of `items` and the trailer to `archive`, whose bytes from
/// `entries_start` to its end are the entries part (anything before it, a program for
/// instance, is left out of every size and of the digest). False, with `archive` unchanged,
/// when `entries_start` is past the end, there are more than kNamedArchiveMaxEntries items,
/// a path is not a safe name, two paths are the same, an item has unknown flag bits, or the
/// entries part does not hold exactly one entry per item with both sizes 0 for each folder.
bool named_archive_finish(std::vector<uint8_t>& archive, size_t entries_start,
                          const std::vector<NamedArchiveItem>& items);
