// Making named archives (see named_archive.h for the layout). A writer takes the entries one
// at a time, each a pack entry made with jc_append_pack_entry and the name and attributes it
// goes under, and hands their bytes on to a sink the caller gives (a file, a buffer) while it
// keeps a running CRC-32 and byte count of them and builds the table of names; finishing
// writes the table and the trailer to the same sink:
//
//   NamedArchiveWriter w;
//   named_archive_writer_start(&w, sink, context);
//   named_archive_writer_add(&w, item, entry, entry_size);  // once per entry, in order
//   named_archive_writer_finish(&w);
//
// Whatever comes before the first entry (a program, say) is the caller's to write and lies
// outside every size and the digest.
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

/// Takes the next `size` bytes of the archive. False when they cannot be kept; the writer
/// then stops, and errno is left as the failing call set it.
using NamedArchiveSink = bool (*)(void* context, const uint8_t* data, size_t size);

/// What a writer ran into first; everything after it is refused.
enum class NamedWriterStatus : uint8_t {
  ok,
  too_many,     ///< more than kNamedArchiveMaxEntries entries
  bad_item,     ///< a path that is not a safe name, or unknown flag bits
  bad_entry,    ///< not exactly one whole pack entry, or a folder's entry with bytes
  duplicate,    ///< two entries with the same path (found when finishing)
  sink_failed,  ///< the sink refused bytes
};

/// A named archive being written. Set up with named_archive_writer_start; the fields are the
/// writer's own.
struct NamedArchiveWriter {
  NamedArchiveSink sink = nullptr;
  void* context = nullptr;
  std::vector<uint8_t> table;  ///< the records of the entries so far
  uint64_t entries_size = 0;   ///< bytes of the entries so far
  uint32_t entries_crc32 = 0;  ///< their CRC-32
  uint32_t count = 0;          ///< entries so far
  NamedWriterStatus status = NamedWriterStatus::ok;
};

/// Makes `w` a writer of a new archive whose bytes go to `sink` with `context`.
void named_archive_writer_start(NamedArchiveWriter* w, NamedArchiveSink sink, void* context);

/// Appends the pack entry of `entry_size` bytes at `entry` under `item`: checks both, passes
/// the entry to the sink and notes its record. False, with `w->status` telling why and
/// nothing passed on, when it is refused or the writer has failed before.
bool named_archive_writer_add(NamedArchiveWriter* w, const NamedArchiveItem& item,
                              const uint8_t* entry, size_t entry_size);

/// Passes the table and the trailer to the sink, unless two entries have the same path
/// (names that differ only in case are left to the caller, which knows whether the archive
/// is meant for a system that ignores case). False, with `w->status` set, on any failure
/// now or before.
bool named_archive_writer_finish(NamedArchiveWriter* w);

/// The reason for a status, as a few words for a message.
const char* named_writer_status_text(NamedWriterStatus status);

/// Appends the table of `items` and the trailer to `archive`, whose bytes from
/// `entries_start` to its end are the entries part (anything before it, a program for
/// instance, is left out of every size and of the digest). False, with `archive` unchanged,
/// when `entries_start` is past the end, there are more than kNamedArchiveMaxEntries items,
/// a path is not a safe name, two paths are the same, an item has unknown flag bits, or the
/// entries part does not hold exactly one entry per item with both sizes 0 for each folder.
bool named_archive_finish(std::vector<uint8_t>& archive, size_t entries_start,
                          const std::vector<NamedArchiveItem>& items);
