// Where a run's entries come from: the named archive appended to the program's own file,
// read in place through one open handle, or the archive built into the program, read from
// memory. Either is walked entry by entry, and each entry is unpacked alone into a block
// of its own, so that a run holds at most one entry's stored and unpacked bytes at a time.
// The stored bytes are read into the end of that block and unpacked into its start: with
// the fast decoder the two overlap, since the stream is read ahead of the bytes it writes,
// and the block is little larger than the unpacked bytes.
//
// A version 2 archive keeps its files' bytes as one content stream cut into blocks of at most
// kNamedBlockMaxSize bytes (pack/named_archive.h). Its entries are the table's records; their
// bytes are read through the content stream (content_stream.h), a block at a time, so that a
// run holds at most a block or two whatever the sizes of the files.
//
// An appended archive is used only when it is sound as a whole: its trailer is valid, the
// CRC-32 of its entries and table matches, its table is well formed and pairs with exactly
// one entry per record (version 2: blocks within the size rules that unpack to the records'
// sizes), each inside the entries part, a folder's entry is empty, and its settings hold no
// field that changes what is written and is unknown here. Nothing is extracted from an
// archive that fails any of this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jc/pack_format.h"
#include "pack/named_archive.h"
#include "platform/file.h"

/// An archive to walk; all zero is no archive.
struct ArchiveSource {
  const uint8_t* memory;    ///< the built-in archive's bytes; null for an appended archive
  PlatformFile file;        ///< the program's own file, for an appended archive
  uint64_t entries_offset;  ///< where the entries part starts in the file
  uint64_t entries_size;    ///< bytes of the entries part (the whole built-in archive)
  uint8_t* table;           ///< main-heap copy of the table; null for the built-in archive
  size_t table_size;
  uint32_t count;    ///< entries in the archive
  uint32_t version;  ///< the named archive's version; 1 for the built-in archive
};

/// Whether the source keeps its files' bytes as a content stream of blocks.
inline bool archive_has_content_stream(const ArchiveSource& source) {
  return source.version == kNamedArchiveVersion2;
}

/// What the end of the program's own file holds.
enum class AppendedArchive : uint8_t {
  absent,     ///< no trailer: no archive is appended
  valid,      ///< a sound archive, ready to walk
  damaged,    ///< a trailer, but the archive is not sound (or cannot be read whole)
  cut_short,  ///< no trailer, but bytes follow the program's own: an archive cut short
};

/// Bytes read at a time while the digest of an appended archive is taken.
inline constexpr uint32_t kArchiveReadChunk = 64 * 1024;

/// Looks for a named archive at the end of the file `own_file` and, when its trailer is
/// there, checks the archive as a whole. `valid` fills `*source` (close it with
/// archive_source_close); otherwise `*source` is left without anything open. A file that
/// cannot be opened or is shorter than a trailer has nothing appended.
AppendedArchive appended_archive_open(const char* own_file, ArchiveSource* source);

/// The settings of an appended archive that a run shows: its title, its language, and
/// whether it is an installer.
struct ArchiveSettings {
  bool appended;  ///< a trailer is there (a self-extractor, sound or not)
  uint8_t title[kNamedTitleMaxSize];
  size_t title_size;  ///< 0: no title
  uint8_t language[kNamedLanguageSize];
  size_t language_size;  ///< 0: none given
  bool installer;        ///< a command is set
};

/// Reads the settings of the named archive at the end of `own_file` from its table alone,
/// without checking the archive as a whole: for a run's first lines, its help and its
/// version, before (or without) the check. A setting of the wrong size is passed over.
void appended_archive_settings(const char* own_file, ArchiveSettings* settings);

/// Whether this program knows the setting `tag`, one that changes what is written, and keeps
/// to it. Each program links its own answer: the self-extractor and jcpack know an
/// installer's settings, the built-in program, which runs no command, none.
bool archive_setting_known(uint16_t tag);

/// A source over the built-in archive (`size` bytes at `archive`) of `count` entries.
ArchiveSource builtin_archive_source(const uint8_t* archive, uint32_t size, uint32_t count);

/// Frees the table and closes the file; the source is all zero afterwards.
void archive_source_close(ArchiveSource* source);

/// One entry with its name and attributes.
struct ArchiveItem {
  const uint8_t* name;  ///< UTF-8, not zero-terminated; for the built-in archive its target
  size_t name_size;
  bool named;      ///< from a named archive's table (mtime and flags are meaningful)
  int64_t mtime;   ///< seconds since 1970-01-01 UTC
  uint8_t flags;   ///< kNamedEntryExecutable, kNamedEntryDirectory
  uint64_t size;   ///< the entry's unpacked bytes
  bool in_blocks;  ///< its bytes lie in a content stream's blocks, shared with other entries
  PackEntryHeader header;  ///< its pack entry (a version 2 entry has none: both sizes 0)
  uint64_t data_offset;    ///< where the stored bytes start in the entries part
};

/// A walk over the entries of a source; start it with archive_walk_start.
struct ArchiveWalk {
  uint32_t index;   ///< entries delivered
  uint64_t offset;  ///< where the next entry's header starts in the entries part
  NamedTableWalk names;
  bool failed;  ///< an entry or a record did not fit; the walk delivers nothing more
};

ArchiveWalk archive_walk_start(const ArchiveSource& source);

/// Delivers the next entry into `item`. False at the end and when the entry's header, its
/// data or its record do not fit (the walk is then `failed`).
bool archive_walk_next(const ArchiveSource& source, ArchiveWalk& walk, ArchiveItem* item);

/// Whether every entry fits, a folder's entry is empty, and the entries and records end
/// together exactly at the end of their parts; for a version 2 source, whether every block
/// is within the size rules, the blocks end exactly at the end of the entries part and
/// unpack to the sum of the records' sizes, and every setting that changes what is written
/// is known.
bool archive_structure_sound(const ArchiveSource& source);

/// Reads the header of the version 2 block at `offset` of the entries part into `header`;
/// false unless it lies inside the part, is within the size rules and its stored bytes fit.
bool archive_block_header(const ArchiveSource& source, uint64_t offset, PackEntryHeader* header);

/// Why an entry could not be unpacked.
enum class UnpackResult : uint8_t {
  ok,
  unreadable,  ///< its stored bytes could not be read
  no_memory,   ///< no block for its bytes
  corrupt,     ///< the stored bytes do not unpack to exactly the stated size
};

/// Reads and unpacks the version 2 block at `*offset` of the entries part into a main-heap
/// block at `*bytes` (null on failure), with its header in `*header`, and moves `*offset` to
/// the next block. At the part's end: ok with both sizes 0. A header that cannot be read or
/// breaks the rules gives `unreadable` and moves `*offset` to the end.
UnpackResult archive_block_unpack(const ArchiveSource& source, uint64_t* offset,
                                  PackEntryHeader* header, uint8_t** bytes);

/// Reads and unpacks `item` into a main-heap block at `*data` (its first
/// `item.header.unpacked_size` bytes; free it with main_heap_free). A block that states
/// more than kArchiveUnprovenSize is first walked to see that it makes that size, so that a
/// few bytes that state gigabytes never get their block. On failure `*data` is null. Each
/// program links its own way of doing it, with its decoder (see entry_decoder.h).
UnpackResult archive_unpack(const ArchiveSource& source, const ArchiveItem& item, uint8_t** data);

// ---- Pieces of archive_unpack ------------------------------------------------------------

/// Up to this unpacked size an entry's block is allocated as its header states. A larger
/// one is allocated only once a walk of the block's stream has shown that it writes that
/// much, since a few bytes of stream can state gigabytes. The walk costs about as much as
/// decoding, so it is kept for the sizes where an allocation could hurt.
inline constexpr uint32_t kArchiveUnprovenSize = 16u << 20;

/// Reads `count` bytes at `position` of `file`; false unless all of them were read.
bool archive_file_read_at(PlatformFile file, uint64_t position, uint8_t* out, size_t count);

/// A new main-heap block of `size` bytes; never one of zero bytes, so that an empty entry
/// has a valid pointer too. Null when it cannot be had.
uint8_t* archive_new_block(size_t size);

/// Reads the item's stored bytes into the last of `size` (at least the stored size) bytes
/// of a new main-heap block at `*block`; null on failure.
UnpackResult archive_read_at_end(const ArchiveSource& source, const ArchiveItem& item, size_t size,
                                 uint8_t** block);

/// Whether the item's JC block at `stored` has a header that agrees with the item's and,
/// above kArchiveUnprovenSize, a stream that makes the stated size.
bool archive_block_sound(const ArchiveItem& item, const uint8_t* stored);
