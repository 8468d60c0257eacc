// Reads arbitrary bytes as a file that may end with a named archive: the trailer, the walk
// over its table (the settings record first in version 2), the pairing of records and
// entries or blocks, the digest and the name check.
//
// The first input byte steers: when its low bit is set, the magic and the trailer's own
// check are written over the file's last bytes, so that the checks behind them are reached;
// when no valid trailer results, the rest of the file is walked as a table of (first byte
// >> 1) records, in both versions. Aborts when a walk ends with a record count other than
// the one it was given, when a setting, a record or a name lies outside the table, when
// entries and records are said to pair while the table does not walk to its end, when an
// accepted name holds a part `..` or `.`, a `\`, a `:`, a control byte, an empty part or a
// leading `/`, or when the case-blind comparison is not an equivalence or gives different
// hashes for names it finds equal (a name with the case of its ASCII letters turned among
// them).
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "pack/archive_digest.h"
#include "pack/entry_names.h"
#include "pack/named_archive.h"
#include "platform/name_case.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check_accepted_name(const std::vector<uint8_t>& name) {
  require(!name.empty() && name.front() != '/' && name.back() != '/');
  const std::string_view text(reinterpret_cast<const char*>(name.data()), name.size());
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(start, end - start);
    require(!part.empty() && part != "." && part != "..");
    start = end + 1;
  }
  for (const uint8_t c : name) require(c >= 32 && c != 127 && c != '\\' && c != ':');
  require(names_equal_ignoring_case(name.data(), name.size(), name.data(), name.size()));
}

/// Checks the name (held in a vector of its exact size, so that a read past it is caught)
/// and compares it with the one before it both ways.
void check_name(const std::vector<uint8_t>& name, const std::vector<uint8_t>& previous) {
  if (entry_name_is_safe(name.data(), name.size())) check_accepted_name(name);
  const bool equal =
      names_equal_ignoring_case(name.data(), name.size(), previous.data(), previous.size());
  require(equal ==
          names_equal_ignoring_case(previous.data(), previous.size(), name.data(), name.size()));
  require(!equal || name_hash_ignoring_case(name.data(), name.size()) ==
                        name_hash_ignoring_case(previous.data(), previous.size()));
  // The name with the case of its ASCII letters turned is its twin (a longer name than the
  // rule folds is equal only to its own bytes).
  if (name.size() > kNameCaseMaxSize) return;
  std::vector<uint8_t> turned(name);
  for (uint8_t& c : turned)
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
  require(names_equal_ignoring_case(name.data(), name.size(), turned.data(), turned.size()) &&
          name_hash_ignoring_case(name.data(), name.size()) ==
              name_hash_ignoring_case(turned.data(), turned.size()));
}

/// Whether the `size` bytes at `at` lie inside the `table_size` bytes of `table`.
bool inside(const uint8_t* at, size_t size, const uint8_t* table, size_t table_size) {
  if (at < table) return false;
  const auto offset = size_t(at - table);
  return offset <= table_size && size <= table_size - offset;
}

/// Walks the settings record of a version 2 table; false when the record does not fit the
/// table, otherwise true with where the records start in `*records` (also when a field runs
/// past the record: the records still start after it).
bool walk_settings(const std::vector<uint8_t>& table, size_t* records) {
  NamedSettingsWalk walk = named_archive_settings_start(table.data(), table.size());
  if (walk.failed) return false;
  require(walk.fields == table.data() + kNamedSettingsSizeField &&
          walk.size <= kNamedSettingsMaxSize &&
          inside(walk.fields, walk.size, table.data(), table.size()));
  NamedSetting setting;
  size_t end = 0;  // where the field before ended, from the first field
  while (named_archive_next_setting(walk, &setting)) {
    // Each field starts where the one before ended, its value right after its header, and
    // all of it lies inside the record.
    require(setting.value == walk.fields + end + kNamedSettingHeaderSize);
    require(inside(setting.value, setting.size, walk.fields, walk.size));
    end = size_t(setting.value - walk.fields) + setting.size;
    require(walk.offset == end);
  }
  require(walk.failed ? walk.size > end : walk.offset == walk.size);
  *records = kNamedSettingsSizeField + walk.size;
  return true;
}

/// Walks `count` records of the table of a `version` archive and checks each name; true when
/// the walk ended exactly after them.
bool walk_table(const uint8_t* bytes, size_t size, uint32_t count, uint32_t version) {
  const std::vector<uint8_t> table(bytes, bytes + size);
  size_t start = 0;
  const bool settings = version != kNamedArchiveVersion2 || walk_settings(table, &start);
  NamedTableWalk walk = named_archive_table_start(table.data(), table.size(), count, version);
  NamedArchiveRecord record;
  NamedTableStep step;
  uint32_t records = 0;
  size_t end = start;  // where the record before ended
  std::vector<uint8_t> previous;
  while ((step = named_archive_next_name(walk, &record)) == NamedTableStep::record) {
    ++records;
    require(record.path_size >= 1 && record.path_size <= kEntryNameMaxSize);
    const size_t header = version == kNamedArchiveVersion2 ? kNamedArchiveRecordHeaderSize2
                                                           : kNamedArchiveRecordHeaderSize;
    require(record.path == table.data() + end + header &&
            inside(record.path, record.path_size, table.data(), table.size()));
    end = size_t(record.path - table.data()) + record.path_size;
    require(walk.offset == end);
    require((record.flags & ~kNamedEntryKnownFlags) == 0);
    require(version == kNamedArchiveVersion2
                ? (record.flags & kNamedEntryDirectory) == 0 || record.size == 0
                : record.size == 0);
    std::vector<uint8_t> name(record.path, record.path + record.path_size);
    check_name(name, previous);
    char copy[kEntryNameMaxSize + 1];
    if (named_archive_copy_path(record, copy, sizeof(copy))) {
      require(std::memcmp(copy, name.data(), name.size()) == 0 && copy[name.size()] == '\0');
    }
    previous = std::move(name);
  }
  // A settings record that does not fit leaves no record to walk.
  require(settings || records == 0);
  if (step == NamedTableStep::end) require(records == count && walk.offset == size);
  return step == NamedTableStep::end;
}

/// Writes the magic and a matching check over the last trailer-sized bytes.
void forge_trailer(std::vector<uint8_t>& file) {
  uint8_t* trailer = file.data() + file.size() - kNamedArchiveTrailerSize;
  std::memcpy(trailer, kNamedArchiveMagic, sizeof(kNamedArchiveMagic));
  const uint32_t check = crc32_update(0, trailer, kNamedArchiveCheckedTrailerSize);
  for (size_t i = 0; i < 4; ++i) {
    trailer[kNamedArchiveCheckedTrailerSize + i] = uint8_t(check >> (8 * i));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t steer = data[0];
  std::vector<uint8_t> file(data + 1, data + size);
  if ((steer & 1) != 0 && file.size() >= kNamedArchiveTrailerSize) forge_trailer(file);

  NamedArchiveTrailer trailer;
  const NamedTrailerStatus status =
      named_archive_read_trailer(file.data(), file.size(), file.size(), &trailer);
  if (status == NamedTrailerStatus::valid) {
    require(trailer.entries_offset + trailer.entries_size == trailer.table_offset);
    require(trailer.table_offset + trailer.table_size + kNamedArchiveTrailerSize == file.size());
    const uint8_t* entries = file.data() + trailer.entries_offset;
    const uint8_t* table = file.data() + trailer.table_offset;
    const bool walked =
        walk_table(table, size_t(trailer.table_size), trailer.entry_count, trailer.version);
    const bool match = named_archive_entries_match(entries, size_t(trailer.entries_size), table,
                                                   size_t(trailer.table_size), trailer.entry_count,
                                                   trailer.version);
    require(!match || walked);
    named_archive_digest_matches(trailer, entries,
                                 size_t(trailer.entries_size + trailer.table_size));
  } else {
    walk_table(file.data(), file.size(), steer >> 1, kNamedArchiveVersion1);
    walk_table(file.data(), file.size(), steer >> 1, kNamedArchiveVersion2);
  }
  check_name(file, std::vector<uint8_t>());
  return 0;
}
