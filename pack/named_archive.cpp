#include "pack/named_archive.h"

#include "jc/pack_format.h"
#include "pack/archive_digest.h"

namespace {

constexpr uint64_t kMaxEntrySize = kPackEntryHeaderSize + uint64_t(UINT32_MAX);
constexpr uint64_t kMaxRecordSize = kNamedArchiveRecordHeaderSize + kEntryNameMaxSize;
constexpr uint64_t kMaxRecordSize2 = kNamedArchiveRecordHeaderSize2 + kEntryNameMaxSize;

/// Reads little-endian fields in order from a span of bytes. Every read past the end and
/// every failed `require` marks the cursor failed and reads as 0 from then on, so a parser
/// reads all its fields and asks `ok()` once: any field out of bounds or out of range turns
/// into the failure result.
class Cursor {
 public:
  Cursor(const uint8_t* bytes, size_t size) : bytes_(bytes), left_(size) {}

  /// `size` bytes from here (null, with the cursor failed, when fewer are left).
  const uint8_t* take(size_t size) {
    if (failed_ || size > left_) {
      failed_ = true;
      return nullptr;
    }
    const uint8_t* at = bytes_;
    bytes_ += size;
    left_ -= size;
    return at;
  }

  uint64_t unsigned_field(size_t size) {
    const uint8_t* at = take(size);
    uint64_t value = 0;
    for (size_t i = 0; at != nullptr && i < size; ++i) value |= uint64_t(at[i]) << (8 * i);
    return value;
  }
  uint8_t u8() { return uint8_t(unsigned_field(1)); }
  uint16_t u16() { return uint16_t(unsigned_field(2)); }
  uint32_t u32() { return uint32_t(unsigned_field(4)); }
  uint64_t u64() { return unsigned_field(8); }

  /// Fails the cursor unless `condition` holds.
  void require(bool condition) { failed_ = failed_ || !condition; }

  bool ok() const { return !failed_; }
  size_t left() const { return left_; }

 private:
  const uint8_t* bytes_;
  size_t left_;
  bool failed_ = false;
};

bool has_magic(const uint8_t* bytes) {
  for (size_t i = 0; i < sizeof(kNamedArchiveMagic); ++i) {
    if (bytes[i] != kNamedArchiveMagic[i]) return false;
  }
  return true;
}

/// Whether `size` bytes can hold `count` items of `min_item` to `max_item` bytes each (the
/// products stay below 2^64 for every count up to kNamedArchiveMaxEntries).
bool size_fits_count(uint64_t size, uint64_t count, uint64_t min_item, uint64_t max_item) {
  return size >= count * min_item && size <= count * max_item;
}

}  // namespace

NamedTrailerStatus named_archive_read_trailer(const uint8_t* tail, size_t tail_size,
                                              uint64_t file_size, NamedArchiveTrailer* out) {
  if (tail_size < kNamedArchiveTrailerSize || tail_size > file_size) {
    return NamedTrailerStatus::absent;
  }
  const uint8_t* bytes = tail + tail_size - kNamedArchiveTrailerSize;
  if (!has_magic(bytes)) return NamedTrailerStatus::absent;

  Cursor cursor(bytes, kNamedArchiveTrailerSize);
  cursor.take(sizeof(kNamedArchiveMagic));
  NamedArchiveTrailer t;
  t.version = cursor.u32();
  t.entry_count = cursor.u32();
  t.table_size = cursor.u64();
  t.entries_size = cursor.u64();
  t.parts_crc32 = cursor.u32();
  const uint32_t check = cursor.u32();
  if (check != crc32_update(0, bytes, kNamedArchiveCheckedTrailerSize)) {
    return NamedTrailerStatus::bad_check;
  }
  if (t.version != kNamedArchiveVersion1 && t.version != kNamedArchiveVersion2) {
    return NamedTrailerStatus::bad_version;
  }

  const uint64_t before_trailer = file_size - kNamedArchiveTrailerSize;
  if (t.table_size > before_trailer || t.entries_size > before_trailer - t.table_size) {
    return NamedTrailerStatus::bad_sizes;
  }
  if (t.entry_count > kNamedArchiveMaxEntries) return NamedTrailerStatus::bad_count;
  if (t.version == kNamedArchiveVersion1 &&
      (!size_fits_count(t.table_size, t.entry_count, kNamedArchiveRecordHeaderSize,
                        kMaxRecordSize) ||
       !size_fits_count(t.entries_size, t.entry_count, kPackEntryHeaderSize, kMaxEntrySize))) {
    return NamedTrailerStatus::bad_count;
  }
  // Version 2: the settings record and the records; the blocks are not counted by records.
  if (t.version == kNamedArchiveVersion2 &&
      (t.table_size < kNamedSettingsSizeField ||
       t.table_size - kNamedSettingsSizeField < t.entry_count * kNamedArchiveRecordHeaderSize2 ||
       t.table_size - kNamedSettingsSizeField >
           t.entry_count * kMaxRecordSize2 + kNamedSettingsMaxSize)) {
    return NamedTrailerStatus::bad_count;
  }
  t.table_offset = before_trailer - t.table_size;
  t.entries_offset = t.table_offset - t.entries_size;
  *out = t;
  return NamedTrailerStatus::valid;
}

bool named_archive_digest_matches(const NamedArchiveTrailer& trailer, const uint8_t* parts,
                                  size_t size) {
  return trailer.entries_size + trailer.table_size == size &&
         crc32_update(0, parts, size) == trailer.parts_crc32;
}

NamedTableWalk named_archive_table_start(const uint8_t* table, size_t size, uint32_t record_count,
                                         uint32_t version) {
  if (version != kNamedArchiveVersion2) return {table, size, 0, record_count, 0, false, false};
  const NamedSettingsWalk settings = named_archive_settings_start(table, size);
  const size_t start = kNamedSettingsSizeField + settings.size;
  return {table, size, settings.failed ? size : start, record_count, 0, settings.failed, true};
}

NamedSettingsWalk named_archive_settings_start(const uint8_t* table, size_t size) {
  Cursor cursor(table, size);
  const uint32_t fields = cursor.u32();
  cursor.require(fields <= kNamedSettingsMaxSize && fields <= cursor.left());
  if (!cursor.ok()) return {table, 0, 0, true};
  return {table + kNamedSettingsSizeField, fields, 0, false};
}

bool named_archive_next_setting(NamedSettingsWalk& walk, NamedSetting* setting) {
  if (walk.failed || walk.offset == walk.size) return false;
  Cursor cursor(walk.fields + walk.offset, walk.size - walk.offset);
  const uint16_t tag = cursor.u16();
  const uint32_t size = cursor.u32();
  const uint8_t* value = cursor.take(size);
  if (!cursor.ok()) {
    walk.failed = true;
    return false;
  }
  *setting = {tag, value, size};
  walk.offset = walk.size - cursor.left();
  return true;
}

NamedTableStep named_archive_next_name(NamedTableWalk& walk, NamedArchiveRecord* record) {
  if (walk.failed) return NamedTableStep::malformed;
  if (walk.records_read == walk.record_count) {
    // Bytes after the last counted record mean the count and the table disagree.
    if (walk.offset == walk.size) return NamedTableStep::end;
    walk.failed = true;
    return NamedTableStep::malformed;
  }
  Cursor cursor(walk.table + walk.offset, walk.size - walk.offset);
  const size_t path_size = cursor.u16();
  const int64_t mtime = int64_t(cursor.u64());
  const uint8_t flags = cursor.u8();
  const uint64_t size = walk.sized ? cursor.u64() : 0;
  const uint8_t* path = cursor.take(path_size);
  cursor.require(path_size >= 1 && path_size <= kEntryNameMaxSize);
  cursor.require((flags & ~kNamedEntryKnownFlags) == 0);
  cursor.require((flags & kNamedEntryDirectory) == 0 || size == 0);
  if (!cursor.ok()) {
    walk.failed = true;
    return NamedTableStep::malformed;
  }
  *record = {path, path_size, mtime, flags, size};
  walk.offset = walk.size - cursor.left();
  ++walk.records_read;
  return NamedTableStep::record;
}

bool named_archive_copy_path(const NamedArchiveRecord& record, char* buffer, size_t capacity) {
  if (record.path_size >= capacity) return false;
  for (size_t i = 0; i < record.path_size; ++i) {
    if (record.path[i] == 0) return false;
  }
  for (size_t i = 0; i < record.path_size; ++i) buffer[i] = char(record.path[i]);
  buffer[record.path_size] = '\0';
  return true;
}

bool named_block_sizes_valid(uint32_t unpacked_size, uint32_t stored_size) {
  return unpacked_size >= 1 && unpacked_size <= kNamedBlockMaxSize && stored_size >= 1 &&
         stored_size <= unpacked_size;
}

namespace {

/// Version 1: one pack entry per record, a folder's empty.
bool entries_pair_with_records(const uint8_t* entries, size_t entries_size, NamedTableWalk names) {
  PackWalk walk = pack_walk_start(entries, entries_size);
  NamedArchiveRecord record;
  PackEntryView entry;
  NamedTableStep step;
  while ((step = named_archive_next_name(names, &record)) == NamedTableStep::record) {
    if (pack_walk_next(walk, &entry) != PackWalkStep::entry) return false;
    const bool directory = (record.flags & kNamedEntryDirectory) != 0;
    if (directory && (entry.header.unpacked_size != 0 || entry.header.stored_size != 0)) {
      return false;
    }
  }
  return step == NamedTableStep::end && pack_walk_next(walk, &entry) == PackWalkStep::end;
}

/// Version 2: blocks within the rules that unpack to the records' sizes, and settings that
/// walk to their end.
bool blocks_pair_with_records(const uint8_t* entries, size_t entries_size, const uint8_t* table,
                              size_t table_size, NamedTableWalk names) {
  NamedSettingsWalk settings = named_archive_settings_start(table, table_size);
  NamedSetting setting;
  while (named_archive_next_setting(settings, &setting)) {
  }
  if (settings.failed) return false;
  uint64_t content = 0;
  NamedArchiveRecord record;
  NamedTableStep step;
  while ((step = named_archive_next_name(names, &record)) == NamedTableStep::record) {
    if (record.size > UINT64_MAX - content) return false;
    content += record.size;
  }
  if (step != NamedTableStep::end) return false;
  PackWalk walk = pack_walk_start(entries, entries_size);
  PackEntryView block;
  PackWalkStep next;
  while ((next = pack_walk_next(walk, &block)) == PackWalkStep::entry) {
    if (!named_block_sizes_valid(block.header.unpacked_size, block.header.stored_size) ||
        block.header.unpacked_size > content) {
      return false;
    }
    content -= block.header.unpacked_size;
  }
  return next == PackWalkStep::end && content == 0;
}

}  // namespace

bool named_archive_entries_match(const uint8_t* entries, size_t entries_size, const uint8_t* table,
                                 size_t table_size, uint32_t record_count, uint32_t version) {
  NamedTableWalk names = named_archive_table_start(table, table_size, record_count, version);
  if (version == kNamedArchiveVersion2) {
    return blocks_pair_with_records(entries, entries_size, table, table_size, names);
  }
  return entries_pair_with_records(entries, entries_size, names);
}
