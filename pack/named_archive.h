// Named archives: pack entries with a table of names, found through a trailer at the very
// end of a file, so that a program can carry one behind its own code (`cat stub archive >
// out`). Every position is counted back from the trailer; nothing depends on what comes
// before the archive.
//
// Layout (all fields little-endian, packed):
//
//   entries part   one pack entry per record, in the table's order: u32 unpacked_size,
//                  u32 stored_size, then stored_size bytes (the bytes as they are when both
//                  sizes are equal, one JC block otherwise); a folder's entry has both
//                  sizes 0
//   table part     entry_count records, back to back, nothing before, between or after:
//                    offset 0   u16   path_size: 1 to kEntryNameMaxSize
//                    offset 2   i64   modification time, seconds since 1970-01-01 UTC
//                    offset 10  u8    flags: kNamedEntryExecutable (the POSIX execute
//                                     bit), kNamedEntryDirectory; other bits are 0
//                    offset 11  path_size bytes: the relative path, UTF-8, `/` between
//                                     folders, no terminating zero (see entry_names.h)
//   trailer        kNamedArchiveTrailerSize bytes, the file's last:
//                    offset 0   8 bytes  magic kNamedArchiveMagic
//                    offset 8   u32      format version, kNamedArchiveVersion
//                    offset 12  u32      entry_count: records in the table, entries in the
//                                        entries part; at most kNamedArchiveMaxEntries
//                    offset 16  u64      table_size: the table ends where the trailer starts
//                    offset 24  u64      entries_size: the entries end where the table starts
//                    offset 32  u32      CRC-32 of the entries part and the table part, in
//                                        that order (their length is the sum of the sizes)
//                    offset 36  u32      CRC-32 of the trailer's bytes 0-35
//
// A trailer is absent when the file's last bytes do not start with the magic. A trailer
// with the magic is damaged when its own check fails, its version is unknown, the two parts
// do not fit in the file before it, or the sizes cannot hold entry_count records and
// entries (each record takes 11 to 11 + kEntryNameMaxSize bytes, each entry 8 to
// 8 + 0xFFFFFFFF bytes).
//
// The reader works on bytes in memory and uses nothing of the standard library beyond
// fixed-size integers; the writer is in named_archive_writer.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pack/entry_names.h"

inline constexpr uint8_t kNamedArchiveMagic[8] = {'E', 'P', 'N', 'A', 'M', 'E', 0x0D, 0x1A};
inline constexpr uint32_t kNamedArchiveVersion = 1;
inline constexpr size_t kNamedArchiveTrailerSize = 40;
inline constexpr size_t kNamedArchiveCheckedTrailerSize = 36;  ///< bytes under the check
inline constexpr size_t kNamedArchiveRecordHeaderSize = 11;    ///< a record before its path
inline constexpr uint32_t kNamedArchiveMaxEntries = 1000000;

inline constexpr uint8_t kNamedEntryExecutable = 0x01;
inline constexpr uint8_t kNamedEntryDirectory = 0x02;
inline constexpr uint8_t kNamedEntryKnownFlags = kNamedEntryExecutable | kNamedEntryDirectory;

/// What the last bytes of a file hold.
enum class NamedTrailerStatus : uint8_t {
  absent,       ///< no magic where the trailer would start: not a named archive
  valid,        ///< a trailer that passed every check
  bad_check,    ///< damaged: the trailer's own CRC-32 does not match
  bad_version,  ///< damaged: a format version this reader does not know
  bad_sizes,    ///< damaged: the parts do not fit in the file before the trailer
  bad_count,    ///< damaged: too many entries, or sizes that cannot hold entry_count
};

/// Whether a trailer is there but unusable.
inline bool named_trailer_damaged(NamedTrailerStatus status) {
  return status != NamedTrailerStatus::absent && status != NamedTrailerStatus::valid;
}

/// A trailer's fields and where the two parts start in the file.
struct NamedArchiveTrailer {
  uint32_t version;
  uint32_t entry_count;
  uint64_t table_size;
  uint64_t entries_size;
  uint32_t parts_crc32;     ///< CRC-32 of the entries part followed by the table part
  uint64_t entries_offset;  ///< file offset of the entries part
  uint64_t table_offset;    ///< file offset of the table part
};

/// Reads the trailer of a file of `file_size` bytes from `tail`, its last `tail_size`
/// bytes (tail_size at most file_size). `absent` when tail_size is smaller than a trailer or
/// the magic is not where the trailer starts; `valid` with `*out` filled, or the reason why
/// the trailer is damaged (`*out` is then left unspecified).
NamedTrailerStatus named_archive_read_trailer(const uint8_t* tail, size_t tail_size,
                                              uint64_t file_size, NamedArchiveTrailer* out);

/// Whether `parts` (`size` bytes: the entries part followed by the table part, as they lie
/// in the file) have the length and CRC-32 that `trailer` records.
bool named_archive_digest_matches(const NamedArchiveTrailer& trailer, const uint8_t* parts,
                                  size_t size);

/// One record of the table. `path` points into the table and is not zero-terminated.
struct NamedArchiveRecord {
  const uint8_t* path;
  size_t path_size;
  int64_t mtime;  ///< seconds since 1970-01-01 UTC
  uint8_t flags;  ///< kNamedEntryExecutable, kNamedEntryDirectory
};

/// A walk over a table in memory; start it with named_archive_table_start.
struct NamedTableWalk {
  const uint8_t* table;
  size_t size;
  size_t offset;          ///< where the next record starts
  uint32_t record_count;  ///< records the table must hold
  uint32_t records_read;
  bool failed;  ///< a malformed record was met; the walk stays there
};

enum class NamedTableStep : uint8_t {
  record,     ///< a record was delivered
  end,        ///< all record_count records were read and the table ended exactly after them
  malformed,  ///< a record is cut short or out of range, or the count does not match
};

/// A walk over the `size` bytes of `table`, which must hold exactly `record_count` records.
NamedTableWalk named_archive_table_start(const uint8_t* table, size_t size, uint32_t record_count);

/// Delivers the next record into `record`. `malformed` for a record that runs past the
/// table, a path size of 0 or above kEntryNameMaxSize, unknown flag bits, bytes left after
/// the last counted record, or a table that ends before record_count records; never reads
/// outside the table. After `end` or `malformed` the walk stays there.
NamedTableStep named_archive_next_name(NamedTableWalk& walk, NamedArchiveRecord* record);

/// Copies the record's path into `buffer` (capacity bytes) with a terminating zero. False,
/// with nothing written, when it does not fit or the path holds a zero byte.
bool named_archive_copy_path(const NamedArchiveRecord& record, char* buffer, size_t capacity);

/// Whether the entries part (`entries_size` bytes) holds exactly one pack entry for each of
/// the table's `record_count` records (table_size bytes) and a folder's entry has both sizes
/// 0. Neither is unpacked; false also when the table is malformed.
bool named_archive_entries_match(const uint8_t* entries, size_t entries_size, const uint8_t* table,
                                 size_t table_size, uint32_t record_count);
