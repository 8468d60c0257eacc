// Making named archives (see named_archive.h for the layout). A writer of version 2 (what
// jcpack writes) takes the content's blocks one at a time, each a pack entry made with
// jc_append_pack_entry, and the records of the files and folders they hold, in any
// interleaving, and hands the blocks on to a sink the caller gives (a file, a buffer) while
// it keeps a running CRC-32 and byte count of them and builds the table; finishing writes
// the table, with the settings, and the trailer to the same sink:
//
//   NamedArchiveWriter w;
//   named_archive_writer_start(&w, sink, context);
//   named_archive_writer_setting(&w, tag, value, size);  // any number, before finishing
//   named_archive_writer_block(&w, entry, entry_size);   // the content, block by block
//   named_archive_writer_item(&w, item);                 // once per file or folder, in order
//   named_archive_writer_finish(&w);
//
// A writer of version 1 (kept for reading tests: readers still read such files) takes one
// pack entry per item with named_archive_writer_add instead.
//
// Whatever comes before the first entry (a program, say) is the caller's to write and lies
// outside every size and the digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/named_archive.h"

/// One entry's name and attributes, in the order of the pack entries.
struct NamedArchiveItem {
  std::string path;   ///< relative UTF-8 path, `/` between folders; must pass entry_name_check
  int64_t mtime = 0;  ///< seconds since 1970-01-01 UTC
  uint8_t flags = 0;  ///< kNamedEntryExecutable, kNamedEntryDirectory
  uint64_t size = 0;  ///< version 2: the file's bytes in the content (0 for a folder)
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
  bad_block,    ///< version 2: a block outside the size rules
  bad_content,  ///< version 2: the blocks do not unpack to the sum of the files' sizes
  bad_setting,  ///< version 2: the settings record would grow past its limit
  wrong_call,   ///< a call of the other version's writer
};

/// A named archive being written. Set up with named_archive_writer_start; the fields are the
/// writer's own.
struct NamedArchiveWriter {
  NamedArchiveSink sink = nullptr;
  void* context = nullptr;
  uint32_t version = kNamedArchiveVersion;
  std::vector<uint8_t> table;     ///< the records of the entries so far
  std::vector<uint8_t> settings;  ///< version 2: the settings' fields so far
  uint64_t entries_size = 0;      ///< bytes of the entries so far
  uint32_t entries_crc32 = 0;     ///< their CRC-32
  uint32_t count = 0;             ///< entries so far
  uint64_t content_blocks = 0;    ///< version 2: bytes the blocks unpack to
  uint64_t content_items = 0;     ///< version 2: bytes the records' sizes add up to
  NamedWriterStatus status = NamedWriterStatus::ok;
};

/// Makes `w` a writer of a new archive of `version` whose bytes go to `sink` with `context`.
void named_archive_writer_start(NamedArchiveWriter* w, NamedArchiveSink sink, void* context,
                                uint32_t version = kNamedArchiveVersion);

/// Version 2: adds a field to the settings record. False, with `w->status` set, when the
/// record would grow past kNamedSettingsMaxSize or the writer has failed before.
bool named_archive_writer_setting(NamedArchiveWriter* w, uint16_t tag, const uint8_t* value,
                                  size_t size);

/// Version 2: passes the next block of the content, one whole pack entry of `entry_size`
/// bytes within the block rules (named_block_sizes_valid), to the sink. False, with
/// `w->status` telling why and nothing passed on, when it is refused or the writer has failed.
bool named_archive_writer_block(NamedArchiveWriter* w, const uint8_t* entry, size_t entry_size);

/// Version 2: notes the record of the next file or folder; its `size` bytes are the next of
/// the content. False, with `w->status` set, for an unsafe path, unknown flags, a folder
/// with a size, too many items, or a failure before.
bool named_archive_writer_item(NamedArchiveWriter* w, const NamedArchiveItem& item);

/// Version 1: appends the pack entry of `entry_size` bytes at `entry` under `item`: checks
/// both, passes the entry to the sink and notes its record. False, with `w->status` telling why and
/// nothing passed on, when it is refused or the writer has failed before.
bool named_archive_writer_add(NamedArchiveWriter* w, const NamedArchiveItem& item,
                              const uint8_t* entry, size_t entry_size);

/// Passes the table and the trailer to the sink, unless two entries have the same path or,
/// in version 2, the blocks do not unpack to exactly the records' sizes
/// (names that differ only in case are left to the caller, which knows whether the archive
/// is meant for a system that ignores case). False, with `w->status` set, on any failure
/// now or before.
bool named_archive_writer_finish(NamedArchiveWriter* w);

/// The reason for a status, as a few words for a message.
const char* named_writer_status_text(NamedWriterStatus status);

/// Makes a version 1 archive: appends the table of `items` and the trailer to `archive`, whose
/// bytes from `entries_start` to its end are the entries part (anything before it, a program for
/// instance, is left out of every size and of the digest). False, with `archive` unchanged,
/// when `entries_start` is past the end, there are more than kNamedArchiveMaxEntries items,
/// a path is not a safe name, two paths are the same, an item has unknown flag bits, or the
/// entries part does not hold exactly one entry per item with both sizes 0 for each folder.
bool named_archive_finish(std::vector<uint8_t>& archive, size_t entries_start,
                          const std::vector<NamedArchiveItem>& items);
