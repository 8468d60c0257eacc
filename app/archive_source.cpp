#include "app/archive_source.h"

#include <cstring>

#include "app/entry_decoder.h"
#include "app/payload_table.h"
#include "jc/jc_stream_count.h"
#include "pack/archive_digest.h"
#include "pack/named_settings.h"
#include "runtime/workspace.h"

namespace {

/// The most bytes one platform read is asked for.
constexpr uint32_t kMaxReadStep = 1u << 30;

/// Reads `count` bytes at `offset` of the source's entries part; false unless they lie
/// inside it and were read whole.
bool source_read(const ArchiveSource& source, uint64_t offset, uint8_t* out, size_t count) {
  if (offset > source.entries_size || count > source.entries_size - offset) return false;
  if (source.memory) {
    if (count > 0) std::memcpy(out, source.memory + offset, count);
    return true;
  }
  return entry_source_read(source, offset, out, count);
}

/// The CRC-32 of `size` bytes of `file` from `position`, read in chunks; false when they
/// cannot be read or no chunk can be had.
bool file_crc32(PlatformFile file, uint64_t position, uint64_t size, uint32_t* crc) {
  auto* chunk = static_cast<uint8_t*>(main_heap_alloc(kArchiveReadChunk));
  bool read = chunk != nullptr && platform_file_seek64(file, position);
  uint32_t value = 0;
  while (read && size > 0) {
    const uint32_t step = size > kArchiveReadChunk ? kArchiveReadChunk : uint32_t(size);
    uint32_t done = 0;
    read = platform_file_read(file, chunk, step, &done) && done == step;
    if (read) value = entry_crc32_update(value, chunk, step);
    size -= step;
  }
  main_heap_free(chunk);
  *crc = value;
  return read;
}

/// Reads the trailer at the end of `file`; `valid` fills `*trailer`.
NamedTrailerStatus read_trailer(PlatformFile file, NamedArchiveTrailer* trailer) {
  const uint64_t size = entry_archive_end(file);
  uint8_t tail[kNamedArchiveTrailerSize];
  if (size == UINT64_MAX || size < kNamedArchiveTrailerSize ||
      !archive_file_read_at(file, size - kNamedArchiveTrailerSize, tail, sizeof tail))
    return NamedTrailerStatus::absent;
  return named_archive_read_trailer(tail, sizeof tail, size, trailer);
}

/// Checks the archive behind a valid trailer and fills `*source`; false when it is not
/// sound (the table, if taken, is then freed).
bool take_archive(PlatformFile file, const NamedArchiveTrailer& trailer, ArchiveSource* source) {
  uint32_t crc = 0;
  if (!file_crc32(file, trailer.entries_offset, trailer.entries_size + trailer.table_size, &crc) ||
      crc != trailer.parts_crc32 || trailer.table_size > SIZE_MAX)
    return false;
  const auto table_size = static_cast<size_t>(trailer.table_size);
  auto* table = static_cast<uint8_t*>(main_heap_alloc(table_size > 0 ? table_size : 1));
  if (!table || !archive_file_read_at(file, trailer.table_offset, table, table_size)) {
    main_heap_free(table);
    return false;
  }
  *source = ArchiveSource{nullptr, file,       trailer.entries_offset, trailer.entries_size,
                          table,   table_size, trailer.entry_count,    trailer.version};
  if (archive_structure_sound(*source)) return true;
  entry_source_closed();
  main_heap_free(table);
  *source = ArchiveSource{};
  return false;
}

/// Whether bytes follow the program's own in `file` (which has no trailer): what is left of
/// an archive whose end was cut off.
bool bytes_appended(PlatformFile file) {
  const uint64_t end = entry_archive_end(file);
  return end != UINT64_MAX && entry_bytes_appended(file, end);
}

/// Whether `item` is a folder entry.
bool is_folder(const ArchiveItem& item) {
  return (item.flags & kNamedEntryDirectory) != 0;
}

}  // namespace

AppendedArchive appended_archive_open(const char* own_file, ArchiveSource* source) {
  *source = ArchiveSource{};
  PlatformFile file =
      platform_file_open(own_file, kFileAccessRead, kFileShareRead, FileDisposition::kOpenExisting);
  if (file == kPlatformInvalidFile) return AppendedArchive::absent;
  NamedArchiveTrailer trailer;
  const NamedTrailerStatus status = read_trailer(file, &trailer);
  if (status == NamedTrailerStatus::valid && take_archive(file, trailer, source))
    return AppendedArchive::valid;
  const bool cut = status == NamedTrailerStatus::absent && bytes_appended(file);
  platform_file_close(file);
  if (cut) return AppendedArchive::cut_short;
  return status == NamedTrailerStatus::absent ? AppendedArchive::absent : AppendedArchive::damaged;
}

namespace {

/// Takes the title and the language from the settings record in `table` (`size` bytes); a
/// title or a language that breaks the rules is taken for none.
void take_settings(const uint8_t* table, size_t size, ArchiveSettings* settings) {
  const NamedDialogueSettings found = named_archive_dialogue_settings(table, size);
  if (found.title && found.title_valid) {
    std::memcpy(settings->title, found.title, found.title_size);
    settings->title_size = found.title_size;
  }
  if (found.language && found.language_valid) {
    std::memcpy(settings->language, found.language, kNamedLanguageSize);
    settings->language_size = kNamedLanguageSize;
  }
  settings->installer = found.installer;
}

/// Reads the settings record of the version 2 archive behind `trailer` and takes its
/// title and language.
void read_settings(PlatformFile file, const NamedArchiveTrailer& trailer,
                   ArchiveSettings* settings) {
  uint8_t size_field[kNamedSettingsSizeField];
  if (trailer.version != kNamedArchiveVersion2 || trailer.table_size < sizeof size_field ||
      !archive_file_read_at(file, trailer.table_offset, size_field, sizeof size_field))
    return;
  const uint32_t size = uint32_t(size_field[0]) | uint32_t(size_field[1]) << 8 |
                        uint32_t(size_field[2]) << 16 | uint32_t(size_field[3]) << 24;
  if (size > kNamedSettingsMaxSize || size > trailer.table_size - sizeof size_field) return;
  const size_t record_size = sizeof size_field + size;
  auto* record = static_cast<uint8_t*>(main_heap_alloc(record_size));
  if (record && archive_file_read_at(file, trailer.table_offset, record, record_size))
    take_settings(record, record_size, settings);
  main_heap_free(record);
}

}  // namespace

void appended_archive_settings(const char* own_file, ArchiveSettings* settings) {
  *settings = ArchiveSettings{};
  PlatformFile file =
      platform_file_open(own_file, kFileAccessRead, kFileShareRead, FileDisposition::kOpenExisting);
  if (file == kPlatformInvalidFile) return;
  NamedArchiveTrailer trailer;
  const NamedTrailerStatus status = read_trailer(file, &trailer);
  settings->appended = status != NamedTrailerStatus::absent;
  if (status == NamedTrailerStatus::valid) read_settings(file, trailer, settings);
  platform_file_close(file);
}

ArchiveSource builtin_archive_source(const uint8_t* archive, uint32_t size, uint32_t count) {
  return ArchiveSource{archive, nullptr, 0, size, nullptr, 0, count, kNamedArchiveVersion1};
}

void archive_source_close(ArchiveSource* source) {
  entry_source_closed();
  main_heap_free(source->table);
  if (source->file) platform_file_close(source->file);
  *source = ArchiveSource{};
}

ArchiveWalk archive_walk_start(const ArchiveSource& source) {
  return ArchiveWalk{
      0, 0,
      named_archive_table_start(source.table, source.table_size, source.count, source.version),
      false};
}

bool archive_walk_next(const ArchiveSource& source, ArchiveWalk& walk, ArchiveItem* item) {
  if (walk.failed || walk.index >= source.count) return false;
  ArchiveItem next{};
  if (source.table) {
    NamedArchiveRecord record;
    if (named_archive_next_name(walk.names, &record) != NamedTableStep::record) {
      walk.failed = true;
      return false;
    }
    next.name = record.path;
    next.name_size = record.path_size;
    next.named = true;
    next.mtime = record.mtime;
    next.flags = record.flags;
    next.size = record.size;
    if (archive_has_content_stream(source)) {
      next.in_blocks = true;
      ++walk.index;
      *item = next;
      return true;
    }
  } else {
    const char* name = payload_entries[walk.index % kPayloadEntryCount].target_name;
    next.name = reinterpret_cast<const uint8_t*>(name);
    next.name_size = std::strlen(name);
  }
  uint8_t header[kPackEntryHeaderSize];
  if (!source_read(source, walk.offset, header, sizeof header)) {
    walk.failed = true;
    return false;
  }
  next.header = pack_read_entry_header(header);
  next.size = next.header.unpacked_size;
  next.data_offset = walk.offset + kPackEntryHeaderSize;
  if (next.header.stored_size > source.entries_size - next.data_offset) {
    walk.failed = true;
    return false;
  }
  walk.offset = next.data_offset + next.header.stored_size;
  ++walk.index;
  *item = next;
  return true;
}

bool archive_block_header(const ArchiveSource& source, uint64_t offset, PackEntryHeader* header) {
  uint8_t bytes[kPackEntryHeaderSize];
  if (!source_read(source, offset, bytes, sizeof bytes)) return false;
  *header = pack_read_entry_header(bytes);
  return named_block_sizes_valid(header->unpacked_size, header->stored_size) &&
         header->stored_size <= source.entries_size - offset - kPackEntryHeaderSize;
}

UnpackResult archive_block_unpack(const ArchiveSource& source, uint64_t* offset,
                                  PackEntryHeader* header, uint8_t** bytes) {
  *bytes = nullptr;
  *header = PackEntryHeader{};
  if (*offset >= source.entries_size) return UnpackResult::ok;
  if (!archive_block_header(source, *offset, header)) {
    *header = PackEntryHeader{};
    *offset = source.entries_size;
    return UnpackResult::unreadable;
  }
  ArchiveItem block{};
  block.header = *header;
  block.size = header->unpacked_size;
  block.data_offset = *offset + kPackEntryHeaderSize;
  *offset = block.data_offset + header->stored_size;
  return archive_unpack(source, block, bytes);
}

namespace {

/// Whether every setting of a version 2 table that changes what is written is one this
/// program knows, and the record walks to its end.
bool settings_known(const ArchiveSource& source) {
  NamedSettingsWalk walk = named_archive_settings_start(source.table, source.table_size);
  NamedSetting setting;
  while (named_archive_next_setting(walk, &setting)) {
    if ((setting.tag & kNamedSettingRequired) != 0 && !archive_setting_known(setting.tag))
      return false;
  }
  return !walk.failed;
}

/// The version 2 structure: settings, records, and blocks that unpack to the records' sizes.
bool content_structure_sound(const ArchiveSource& source) {
  if (!source.table || !settings_known(source)) return false;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  uint64_t content = 0;
  while (archive_walk_next(source, walk, &item)) {
    if (item.size > UINT64_MAX - content) return false;
    content += item.size;
  }
  NamedArchiveRecord record;
  if (walk.failed || walk.index != source.count ||
      named_archive_next_name(walk.names, &record) != NamedTableStep::end)
    return false;
  uint64_t offset = 0;
  while (offset < source.entries_size) {
    PackEntryHeader header;
    if (!archive_block_header(source, offset, &header) || header.unpacked_size > content)
      return false;
    content -= header.unpacked_size;
    offset += kPackEntryHeaderSize + header.stored_size;
  }
  return content == 0;
}

}  // namespace

bool archive_structure_sound(const ArchiveSource& source) {
  if (archive_has_content_stream(source)) return content_structure_sound(source);
  if (!source.memory && source.count > 0 && !source.table) return false;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    if (is_folder(item) && (item.header.unpacked_size != 0 || item.header.stored_size != 0))
      return false;
  }
  if (walk.failed || walk.index != source.count || walk.offset != source.entries_size) return false;
  // Every record was read: the table must end right after the last one.
  NamedArchiveRecord record;
  return !source.table || named_archive_next_name(walk.names, &record) == NamedTableStep::end;
}

uint8_t* archive_new_block(size_t size) {
  return static_cast<uint8_t*>(main_heap_alloc(size > 0 ? size : 1));
}

UnpackResult archive_read_at_end(const ArchiveSource& source, const ArchiveItem& item, size_t size,
                                 uint8_t** block) {
  *block = archive_new_block(size);
  if (!*block) return UnpackResult::no_memory;
  const uint32_t stored_size = item.header.stored_size;
  if (source_read(source, item.data_offset, *block + size - stored_size, stored_size))
    return UnpackResult::ok;
  main_heap_free(*block);
  *block = nullptr;
  return UnpackResult::unreadable;
}

bool archive_block_sound(const ArchiveItem& item, const uint8_t* stored) {
  const uint32_t stored_size = item.header.stored_size;
  const uint32_t unpacked_size = item.header.unpacked_size;
  JcBlock header;
  return jc_read_header(stored, stored_size, &header) && header.unpacked_size == unpacked_size &&
         (unpacked_size <= kArchiveUnprovenSize ||
          jc_stream_reaches(stored, stored_size, unpacked_size) == JcStatus::ok);
}

bool archive_file_read_at(PlatformFile file, uint64_t position, uint8_t* out, size_t count) {
  if (!platform_file_seek64(file, position)) return false;
  while (count > 0) {
    const uint32_t step = count > kMaxReadStep ? kMaxReadStep : static_cast<uint32_t>(count);
    uint32_t done = 0;
    if (!platform_file_read(file, out, step, &done) || done != step) return false;
    out += step;
    count -= step;
  }
  return true;
}
