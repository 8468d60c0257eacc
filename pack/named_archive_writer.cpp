#include "pack/named_archive_writer.h"

#include <algorithm>
#include <string_view>

#include "jc/pack_format.h"
#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"

namespace {

using Bytes = std::vector<uint8_t>;

/// Appends `size` bytes of `value`, least significant first.
void put_le(Bytes& out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

/// Whether `item` may be stored: known flags and a safe path.
bool item_is_valid(const NamedArchiveItem& item) {
  return (item.flags & ~kNamedEntryKnownFlags) == 0 &&
         entry_name_is_safe(bytes_of(item.path), item.path.size());
}

/// Whether the `size` bytes at `entry` are one whole pack entry, with both sizes 0 for a
/// folder's.
bool entry_is_valid(const uint8_t* entry, size_t size, bool folder) {
  PackWalk walk = pack_walk_start(entry, size);
  PackEntryView view;
  if (pack_walk_next(walk, &view) != PackWalkStep::entry) return false;
  if (folder && (view.header.unpacked_size != 0 || view.header.stored_size != 0)) return false;
  PackEntryView after;
  return pack_walk_next(walk, &after) == PackWalkStep::end;
}

/// Whether two records of `table` (`count` of them, without a settings record) have the same
/// path.
bool table_has_duplicate(const Bytes& table, uint32_t count, uint32_t version) {
  std::vector<std::string_view> paths;
  paths.reserve(count);
  Bytes with_settings;
  const Bytes* walked = &table;
  if (version == kNamedArchiveVersion2) {
    with_settings.assign(kNamedSettingsSizeField, 0);
    with_settings.insert(with_settings.end(), table.begin(), table.end());
    walked = &with_settings;
  }
  NamedTableWalk walk = named_archive_table_start(walked->data(), walked->size(), count, version);
  NamedArchiveRecord record;
  while (named_archive_next_name(walk, &record) == NamedTableStep::record) {
    paths.emplace_back(reinterpret_cast<const char*>(record.path), record.path_size);
  }
  std::sort(paths.begin(), paths.end());
  return std::adjacent_find(paths.begin(), paths.end()) != paths.end();
}

/// Passes `size` bytes to the sink. False, with the status set, when it refuses them.
bool pass_on(NamedArchiveWriter* w, const uint8_t* data, size_t size) {
  if (w->sink(w->context, data, size)) return true;
  w->status = NamedWriterStatus::sink_failed;
  return false;
}

/// Fails the writer with `status`; false.
bool refuse(NamedArchiveWriter* w, NamedWriterStatus status) {
  w->status = status;
  return false;
}

/// A sink that appends to the vector `context`.
bool append_to_vector(void* context, const uint8_t* data, size_t size) {
  Bytes& out = *static_cast<Bytes*>(context);
  out.insert(out.end(), data, data + size);
  return true;
}

}  // namespace

void named_archive_writer_start(NamedArchiveWriter* w, NamedArchiveSink sink, void* context,
                                uint32_t version) {
  *w = NamedArchiveWriter();
  w->sink = sink;
  w->context = context;
  w->version = version;
}

bool named_archive_writer_setting(NamedArchiveWriter* w, uint16_t tag, const uint8_t* value,
                                  size_t size) {
  if (w->status != NamedWriterStatus::ok) return false;
  if (w->version != kNamedArchiveVersion2) return refuse(w, NamedWriterStatus::wrong_call);
  if (size > kNamedSettingsMaxSize ||
      w->settings.size() + kNamedSettingHeaderSize + size > kNamedSettingsMaxSize) {
    return refuse(w, NamedWriterStatus::bad_setting);
  }
  put_le(w->settings, tag, 2);
  put_le(w->settings, size, 4);
  w->settings.insert(w->settings.end(), value, value + size);
  return true;
}

bool named_archive_writer_block(NamedArchiveWriter* w, const uint8_t* entry, size_t entry_size) {
  if (w->status != NamedWriterStatus::ok) return false;
  if (w->version != kNamedArchiveVersion2) return refuse(w, NamedWriterStatus::wrong_call);
  PackWalk walk = pack_walk_start(entry, entry_size);
  PackEntryView view;
  PackEntryView after;
  if (pack_walk_next(walk, &view) != PackWalkStep::entry ||
      pack_walk_next(walk, &after) != PackWalkStep::end ||
      !named_block_sizes_valid(view.header.unpacked_size, view.header.stored_size)) {
    return refuse(w, NamedWriterStatus::bad_block);
  }
  if (!pass_on(w, entry, entry_size)) return false;
  w->entries_size += entry_size;
  w->entries_crc32 = crc32_update_sliced(w->entries_crc32, entry, entry_size);
  w->content_blocks += view.header.unpacked_size;
  return true;
}

bool named_archive_writer_item(NamedArchiveWriter* w, const NamedArchiveItem& item) {
  if (w->status != NamedWriterStatus::ok) return false;
  if (w->version != kNamedArchiveVersion2) return refuse(w, NamedWriterStatus::wrong_call);
  if (w->count == kNamedArchiveMaxEntries) return refuse(w, NamedWriterStatus::too_many);
  const bool folder = (item.flags & kNamedEntryDirectory) != 0;
  if (!item_is_valid(item) || (folder && item.size != 0)) {
    return refuse(w, NamedWriterStatus::bad_item);
  }
  put_le(w->table, item.path.size(), 2);
  put_le(w->table, uint64_t(item.mtime), 8);
  put_le(w->table, item.flags, 1);
  put_le(w->table, item.size, 8);
  w->table.insert(w->table.end(), item.path.begin(), item.path.end());
  w->content_items += item.size;
  ++w->count;
  return true;
}

bool named_archive_writer_add(NamedArchiveWriter* w, const NamedArchiveItem& item,
                              const uint8_t* entry, size_t entry_size) {
  if (w->status != NamedWriterStatus::ok) return false;
  if (w->version != kNamedArchiveVersion1) return refuse(w, NamedWriterStatus::wrong_call);
  if (w->count == kNamedArchiveMaxEntries) return refuse(w, NamedWriterStatus::too_many);
  if (!item_is_valid(item)) return refuse(w, NamedWriterStatus::bad_item);
  if (!entry_is_valid(entry, entry_size, (item.flags & kNamedEntryDirectory) != 0)) {
    return refuse(w, NamedWriterStatus::bad_entry);
  }
  if (!pass_on(w, entry, entry_size)) return false;
  w->entries_size += entry_size;
  w->entries_crc32 = crc32_update_sliced(w->entries_crc32, entry, entry_size);
  put_le(w->table, item.path.size(), 2);
  put_le(w->table, uint64_t(item.mtime), 8);
  put_le(w->table, item.flags, 1);
  w->table.insert(w->table.end(), item.path.begin(), item.path.end());
  ++w->count;
  return true;
}

bool named_archive_writer_finish(NamedArchiveWriter* w) {
  if (w->status != NamedWriterStatus::ok) return false;
  if (table_has_duplicate(w->table, w->count, w->version)) {
    return refuse(w, NamedWriterStatus::duplicate);
  }
  if (w->version == kNamedArchiveVersion2) {
    if (w->content_blocks != w->content_items) return refuse(w, NamedWriterStatus::bad_content);
    Bytes table;
    put_le(table, w->settings.size(), 4);
    table.insert(table.end(), w->settings.begin(), w->settings.end());
    table.insert(table.end(), w->table.begin(), w->table.end());
    w->table.swap(table);
  }
  Bytes trailer(kNamedArchiveMagic, kNamedArchiveMagic + sizeof kNamedArchiveMagic);
  put_le(trailer, w->version, 4);
  put_le(trailer, w->count, 4);
  put_le(trailer, w->table.size(), 8);
  put_le(trailer, w->entries_size, 8);
  put_le(trailer, crc32_update_sliced(w->entries_crc32, w->table.data(), w->table.size()), 4);
  put_le(trailer, crc32_update(0, trailer.data(), trailer.size()), 4);
  return pass_on(w, w->table.data(), w->table.size()) && pass_on(w, trailer.data(), trailer.size());
}

const char* named_writer_status_text(NamedWriterStatus status) {
  switch (status) {
    case NamedWriterStatus::ok:
      return "ok";
    case NamedWriterStatus::too_many:
      return "too many entries";
    case NamedWriterStatus::bad_item:
      return "an unsafe name or unknown flags";
    case NamedWriterStatus::bad_entry:
      return "not one whole entry, or a folder's entry with data";
    case NamedWriterStatus::duplicate:
      return "a name given twice";
    case NamedWriterStatus::sink_failed:
      return "cannot write";
    case NamedWriterStatus::bad_block:
      return "a block outside the size rules";
    case NamedWriterStatus::bad_content:
      return "blocks that do not hold the files' bytes";
    case NamedWriterStatus::bad_setting:
      return "too many settings";
    case NamedWriterStatus::wrong_call:
      return "a call for another version";
  }
  return "unknown";
}

bool named_archive_finish(std::vector<uint8_t>& archive, size_t entries_start,
                          const std::vector<NamedArchiveItem>& items) {
  if (entries_start > archive.size()) return false;
  const uint8_t* entries = archive.data() + entries_start;
  Bytes out(archive.begin(), archive.begin() + ptrdiff_t(entries_start));
  NamedArchiveWriter w;
  named_archive_writer_start(&w, append_to_vector, &out, kNamedArchiveVersion1);
  PackWalk walk = pack_walk_start(entries, archive.size() - entries_start);
  PackEntryView entry;
  for (const NamedArchiveItem& item : items) {
    if (pack_walk_next(walk, &entry) != PackWalkStep::entry) return false;
    const size_t size = kPackEntryHeaderSize + entry.header.stored_size;
    if (!named_archive_writer_add(&w, item, entries + entry.header_offset, size)) return false;
  }
  if (pack_walk_next(walk, &entry) != PackWalkStep::end) return false;
  if (!named_archive_writer_finish(&w)) return false;
  archive.swap(out);
  return true;
}
