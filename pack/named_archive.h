// Named archives: files and folders with a table of names, found through a trailer at the
// very end of a file, so that a program can carry one behind its own code (`cat stub
// archive > out`). Every position is counted back from the trailer; nothing depends on what
// comes before the archive. Two versions are read; jcpack writes version 2.
//
// Layout (all fields little-endian, packed):
//
//   entries part   version 1: one pack entry per record, in the table's order: u32
//                  unpacked_size, u32 stored_size, then stored_size bytes (the bytes as they
//                  are when both sizes are equal, one JC block otherwise); a folder's entry
//                  has both sizes 0.
//                  version 2: blocks, back to back, each a pack entry of 1 to
//                  kNamedBlockMaxSize unpacked bytes and 1 to unpacked_size stored bytes.
//                  The files' bytes, in the table's order and back to back, make one stream,
//                  the content; each block holds the next unpacked_size bytes of it. Where a
//                  file starts and ends is told by the sizes in the table alone, so one block
//                  may hold many small files (packed together, so that the encoder's window
//                  spans them) and a large file spans many blocks (each decoded alone, in
//                  bounded memory). The unpacked sizes add up to the sum of the files' sizes.
//   table part     version 2 only: first the settings record, u32 settings_size (at most
//                  kNamedSettingsMaxSize) and that many bytes of fields, back to back:
//                    offset 0   u16   tag; a tag with kNamedSettingRequired set changes what
//                                     is written, and a reader that does not know it
//                                     refuses the archive; others it may pass over
//                    offset 2   u32   size of the value
//                    offset 6   the value
//                  then, in both versions, entry_count records, back to back, nothing
//                  between or after:
//                    offset 0   u16   path_size: 1 to kEntryNameMaxSize
//                    offset 2   i64   modification time, seconds since 1970-01-01 UTC
//                    offset 10  u8    flags: kNamedEntryExecutable (the POSIX execute
//                                     bit), kNamedEntryDirectory; other bits are 0
//                    version 1:
//                    offset 11  path_size bytes: the relative path, UTF-8, `/` between
//                                     folders, no terminating zero (see entry_names.h)
//                    version 2:
//                    offset 11  u64   size: the file's bytes in the content; 0 for a folder
//                    offset 19  path_size bytes: the path, as in version 1
//   trailer        kNamedArchiveTrailerSize bytes, the file's last:
//                    offset 0   8 bytes  magic kNamedArchiveMagic
//                    offset 8   u32      format version, 1 or 2
//                    offset 12  u32      entry_count: records in the table (and, version 1,
//                                        entries in the entries part); at most
//                                        kNamedArchiveMaxEntries
//                    offset 16  u64      table_size: the table ends where the trailer starts
//                    offset 24  u64      entries_size: the entries end where the table starts
//                    offset 32  u32      CRC-32 of the entries part and the table part, in
//                                        that order (their length is the sum of the sizes),
//                                        so the settings are covered too
//                    offset 36  u32      CRC-32 of the trailer's bytes 0-35
//
// A trailer is absent when the file's last bytes do not start with the magic. A trailer
// with the magic is damaged when its own check fails, its version is unknown, the two parts
// do not fit in the file before it, or the sizes cannot hold entry_count records (and, in
// version 1, entries: each record takes 11 to 11 + kEntryNameMaxSize bytes, each entry 8 to
// 8 + 0xFFFFFFFF bytes).
//
// The reader works on bytes in memory and uses nothing of the standard library beyond
// fixed-size integers; the writer is in named_archive_writer.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pack/entry_names.h"

inline constexpr uint8_t kNamedArchiveMagic[8] = {'E', 'P', 'N', 'A', 'M', 'E', 0x0D, 0x1A};
inline constexpr uint32_t kNamedArchiveVersion1 = 1;  ///< one pack entry per record
inline constexpr uint32_t kNamedArchiveVersion2 = 2;  ///< blocks, settings, sizes in the table
inline constexpr uint32_t kNamedArchiveVersion = kNamedArchiveVersion2;  ///< what is written
inline constexpr size_t kNamedArchiveTrailerSize = 40;
inline constexpr size_t kNamedArchiveCheckedTrailerSize = 36;  ///< bytes under the check
inline constexpr size_t kNamedArchiveRecordHeaderSize = 11;  ///< a version 1 record before its path
inline constexpr size_t kNamedArchiveRecordHeaderSize2 =
    19;  ///< a version 2 record before its path
/// The most bytes a version 2 block unpacks to: what a reader holds of the content at once.
inline constexpr uint32_t kNamedBlockMaxSize = 8u << 20;
/// The settings record: its size field, the most bytes of fields, and a field's header.
inline constexpr size_t kNamedSettingsSizeField = 4;
inline constexpr uint32_t kNamedSettingsMaxSize = 1u << 20;
inline constexpr size_t kNamedSettingHeaderSize = 6;
/// Set in the tag of a setting that a reader must know to extract the archive as meant.
inline constexpr uint16_t kNamedSettingRequired = 0x8000;
/// The settings defined so far. Neither is required: a reader that does not know them
/// extracts the same files, only its dialogue differs.
///   kNamedSettingTitle     the publisher's title, UTF-8, 1 to kNamedTitleMaxSize bytes, no
///                          control characters; the first line of the self-extractor's runs
///   kNamedSettingLanguage  the dialogue's language, two lower-case ASCII letters
///                          (kNamedLanguageEnglish, kNamedLanguageGerman); other codes are
///                          taken for English
inline constexpr uint16_t kNamedSettingTitle = 1;
inline constexpr uint16_t kNamedSettingLanguage = 2;
/// The settings of an installer. Each changes what a run does, so each is required: a
/// reader that does not know them refuses the archive rather than extract it without them.
///   kNamedSettingRun      the command run after a complete extraction, split by the rule
///                         of pack/run_command.h; its program is a file of the archive
///   kNamedSettingTemp     no value: extract into a new private folder, removed after the
///                         command has ended
///   kNamedSettingLicense  a UTF-8 text shown, and accepted, before anything is written
inline constexpr uint16_t kNamedSettingRun = kNamedSettingRequired | 3;
inline constexpr uint16_t kNamedSettingTemp = kNamedSettingRequired | 4;
inline constexpr uint16_t kNamedSettingLicense = kNamedSettingRequired | 5;
inline constexpr size_t kNamedTitleMaxSize = 200;
inline constexpr size_t kNamedLanguageSize = 2;
inline constexpr char kNamedLanguageEnglish[] = "en";
inline constexpr char kNamedLanguageGerman[] = "de";
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
  uint64_t size;  ///< version 2: the file's bytes in the content; version 1: 0 (see its entry)
};

/// A walk over a table in memory; start it with named_archive_table_start.
struct NamedTableWalk {
  const uint8_t* table;
  size_t size;
  size_t offset;          ///< where the next record starts
  uint32_t record_count;  ///< records the table must hold
  uint32_t records_read;
  bool failed;  ///< a malformed record was met; the walk stays there
  bool sized;   ///< version 2 records, with a size
};

enum class NamedTableStep : uint8_t {
  record,     ///< a record was delivered
  end,        ///< all record_count records were read and the table ended exactly after them
  malformed,  ///< a record is cut short or out of range, or the count does not match
};

/// A walk over the records of the `size` bytes of `table` of a `version` archive, which
/// must hold exactly `record_count` records (after the settings record in version 2; a
/// settings record that does not fit makes the walk malformed from the start).
NamedTableWalk named_archive_table_start(const uint8_t* table, size_t size, uint32_t record_count,
                                         uint32_t version);

/// One field of the settings record. `value` points into the table.
struct NamedSetting {
  uint16_t tag;
  const uint8_t* value;
  uint32_t size;
};

/// A walk over the settings record of a version 2 table.
struct NamedSettingsWalk {
  const uint8_t* fields;
  size_t size;    ///< bytes of fields
  size_t offset;  ///< where the next field starts
  bool failed;    ///< the record does not fit the table, or a field runs past it
};

/// A walk over the settings of the `size` bytes of a version 2 `table`; failed at once
/// when its size field does not fit the table or is above kNamedSettingsMaxSize.
NamedSettingsWalk named_archive_settings_start(const uint8_t* table, size_t size);

/// Delivers the next field into `setting`: true for a field, false at the end and when a
/// field runs past the record (the walk is then `failed`).
bool named_archive_next_setting(NamedSettingsWalk& walk, NamedSetting* setting);

/// Delivers the next record into `record`. `malformed` for a record that runs past the
/// table, a path size of 0 or above kEntryNameMaxSize, unknown flag bits, bytes left after
/// the last counted record, or a table that ends before record_count records; never reads
/// outside the table. After `end` or `malformed` the walk stays there.
NamedTableStep named_archive_next_name(NamedTableWalk& walk, NamedArchiveRecord* record);

/// Copies the record's path into `buffer` (capacity bytes) with a terminating zero. False,
/// with nothing written, when it does not fit or the path holds a zero byte.
bool named_archive_copy_path(const NamedArchiveRecord& record, char* buffer, size_t capacity);

/// Whether the entries part (`entries_size` bytes) pairs with the table's `record_count`
/// records (table_size bytes) of a `version` archive: version 1, exactly one pack entry per
/// record, a folder's with both sizes 0; version 2, blocks of 1 to kNamedBlockMaxSize
/// unpacked and 1 to that many stored bytes, back to back to the part's end, unpacking to
/// as many bytes as the records' sizes add up to, a folder's size 0, and a settings record
/// that walks to its end. Nothing is unpacked; false also when the table is malformed.
bool named_archive_entries_match(const uint8_t* entries, size_t entries_size, const uint8_t* table,
                                 size_t table_size, uint32_t record_count, uint32_t version);

/// Whether the header of a version 2 block (its two sizes) is within the rules.
bool named_block_sizes_valid(uint32_t unpacked_size, uint32_t stored_size);
