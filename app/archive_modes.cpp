#include "app/archive_modes.h"

#include <cstring>

#include "app/display_name.h"
#include "app/entry_decoder.h"
#include "app/extraction.h"
#include "app/extraction_steps.h"
#include "app/overwrite.h"
#include "console/console.h"
#include "files/file_queries.h"
#include "pack/entry_names.h"
#include "runtime/workspace.h"

namespace {

/// Room for a name with its terminating zero, and for a line of the list around it.
constexpr size_t kNameTextSize = kEntryNameMaxSize + 1;
constexpr size_t kLineSize = kNameTextSize + 64;
/// Width of the list's number columns.
constexpr size_t kNumberWidth = 12;
constexpr size_t kMaxDecimalDigits = 20;

/// The text buffers of the modes, kept out of the stack.
struct ModeState {
  char path[kNameTextSize];   ///< the entry's name as the system gets it
  char shown[kNameTextSize];  ///< the entry's name as the console shows it
  char line[kLineSize];
  OverwriteDecision decision;
};

ModeState mode_state;

/// Appends `text` to the zero-terminated line, cut where the line ends.
void line_append(const char* text) {
  const size_t used = std::strlen(mode_state.line);
  size_t length = std::strlen(text);
  if (length > kLineSize - 1 - used) length = kLineSize - 1 - used;
  std::memcpy(mode_state.line + used, text, length);
  mode_state.line[used + length] = 0;
}

/// The power of ten below `power` (a power of ten above 1), without a division.
uint64_t lower_power(uint64_t power) {
  uint64_t lower = 1;
  while (lower * 10 < power) lower *= 10;
  return lower;
}

/// Appends `value` in decimal, right-aligned in `width` characters. Digits are found by
/// subtracting powers of ten: a 32-bit program then needs no 64-bit division routine.
void line_append_number(uint64_t value, size_t width) {
  constexpr uint64_t kLargestPower = 10000000000000000000u;  // 10^19, the highest digit's
  char digits[kMaxDecimalDigits + 1];
  size_t length = 0;
  for (uint64_t power = kLargestPower; power != 0; power = power == 1 ? 0 : lower_power(power)) {
    char digit = '0';
    while (value >= power) {
      value -= power;
      ++digit;
    }
    if (digit != '0' || length > 0 || power == 1) digits[length++] = digit;
  }
  digits[length] = 0;
  for (; length < width; ++length) line_append(" ");
  line_append(digits);
}

/// Starts a line with `text`.
void line_start(const char* text) {
  mode_state.line[0] = 0;
  line_append(text);
}

/// Puts the item's name, as the console shows it, in mode_state.shown.
void show_name(const ArchiveItem& item) {
  display_name(item.name, item.name_size, mode_state.shown, sizeof mode_state.shown);
}

bool is_folder(const ArchiveItem& item) {
  return (item.flags & kNamedEntryDirectory) != 0;
}

/// Reports a walk that stopped before its last entry (possible only for the built-in
/// archive, whose entries the walk checks as it goes).
void check_walk_end(const ArchiveSource& source, const ArchiveWalk& walk) {
  if (walk.failed || walk.index != source.count) extraction_fail(kExtractionFailed);
}

// ---- Names seen in this run --------------------------------------------------------------
//
// An open-addressing set of the names already extracted, so that a second entry of the
// same name (on Windows also of a name that differs only in case) is refused instead of
// replacing the first. A slot holds the name's offset in the table plus one, 0 when empty.

struct NameSet {
  uint32_t* slots;
  uint32_t mask;  ///< slot count - 1 (a power of two, at least twice the entries)
};

/// A hash that is the same for names that compare equal ignoring the case of ASCII and
/// Latin-1 letters (a wider equality than the one used off Windows, which is fine).
uint32_t name_hash(const uint8_t* name, size_t size) {
  constexpr uint32_t kOffsetBasis = 2166136261u;
  constexpr uint32_t kPrime = 16777619u;
  uint32_t hash = kOffsetBasis;
  for (size_t i = 0; i < size; ++i) {
    uint8_t byte = name[i];
    if (byte >= 'A' && byte <= 'Z') byte = uint8_t(byte + 0x20);
    if (i > 0 && name[i - 1] == 0xC3 && byte >= 0x80 && byte <= 0x9E) byte = uint8_t(byte + 0x20);
    hash = (hash ^ byte) * kPrime;
  }
  return hash;
}

bool same_name(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
#if defined(_WIN32)
  return entry_names_equal_ignoring_case(a, a_size, b, b_size);
#else
  return a_size == b_size && std::memcmp(a, b, a_size) == 0;
#endif
}

/// A set for `count` names; its slots are null when they cannot be had.
NameSet name_set_make(uint32_t count) {
  uint32_t slots = 16;
  while (slots < 2 * uint64_t(count)) slots *= 2;
  return NameSet{static_cast<uint32_t*>(main_heap_alloc(slots * sizeof(uint32_t), true)),
                 slots - 1};
}

/// Adds the named item's name; false when the set holds it (or an equal one) already.
bool name_set_add(NameSet& set, const ArchiveSource& source, const ArchiveItem& item) {
  const auto offset = static_cast<uint32_t>(item.name - source.table);
  for (uint32_t at = name_hash(item.name, item.name_size) & set.mask;; at = (at + 1) & set.mask) {
    if (set.slots[at] == 0) {
      set.slots[at] = offset + 1;
      return true;
    }
    const uint8_t* other = source.table + set.slots[at] - 1;
    const size_t other_size = size_t(other[-int(kNamedArchiveRecordHeaderSize)]) |
                              size_t(other[1 - int(kNamedArchiveRecordHeaderSize)]) << 8;
    if (same_name(item.name, item.name_size, other, other_size)) return false;
  }
}

// ---- Extraction --------------------------------------------------------------------------

/// Whether the entry at mode_state.path is to be written, by `policy` and, when it asks,
/// by the user's answer.
bool may_write(OverwritePolicy policy) {
  const char* path = mode_state.path;
  if (policy == OverwritePolicy::all) return true;
  if (policy == OverwritePolicy::never) return !file_name_taken(path);
  if (mode_state.decision == kDecisionAll || !target_has_content(path)) return true;
  mode_state.decision = ask_overwrite();
  return mode_state.decision != kDecisionSkip;
}

/// Checks a named item's name and makes its folders (for a folder entry, the folder too);
/// mode_state.path names the entry from the current folder then.
bool prepare_named(const ArchiveSource& source, const ArchiveItem& item, NameSet& seen) {
  if (!entry_name_is_safe(item.name, item.name_size)) return false;
  std::memcpy(mode_state.path, item.name, item.name_size);
  mode_state.path[item.name_size] = 0;
  return seen.slots && name_set_add(seen, source, item) &&
         entry_folders_make(mode_state.path, is_folder(item));
}

/// Unpacks the item and writes it in place of mode_state.path.
bool write_item(const ArchiveSource& source, const ArchiveItem& item) {
  uint8_t* data = nullptr;
  if (archive_unpack(source, item, &data) != UnpackResult::ok) return false;
  const TargetAttributes attributes{true, item.mtime, (item.flags & kNamedEntryExecutable) != 0};
  const bool written = extraction_write_file(mode_state.path, data, item.header.unpacked_size,
                                             item.named ? &attributes : nullptr);
  main_heap_free(data);
  return written;
}

void extract_item(const ArchiveSource& source, const ArchiveItem& item, OverwritePolicy policy,
                  NameSet& seen) {
  show_name(item);
  line_start(kAnnouncementStart);
  line_append(mode_state.shown);
  line_append("'");
  console_print_line(mode_state.line);
  if (item.named) {
    if (!prepare_named(source, item, seen)) return extraction_fail(kExtractionFailed);
    if (is_folder(item)) return;
  } else {
    std::memcpy(mode_state.path, item.name, item.name_size);
    mode_state.path[item.name_size] = 0;
  }
  if (!may_write(policy)) return;
  if (!write_item(source, item)) extraction_fail(kExtractionFailed);
}

/// Gives every folder entry its modification time, once nothing more is written into it,
/// from the output folder.
void set_folder_times(const ArchiveSource& source) {
  if (!entry_folders_leave()) return extraction_fail(kExtractionFailed);
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    if (!item.named || !is_folder(item) || !entry_name_is_safe(item.name, item.name_size)) continue;
    std::memcpy(mode_state.path, item.name, item.name_size);
    mode_state.path[item.name_size] = 0;
    if (platform_file_kind(mode_state.path) == FileKind::kDirectory &&
        !platform_set_file_time(mode_state.path, item.mtime))
      extraction_fail(kExtractionFailed);
  }
}

}  // namespace

void archive_list(const ArchiveSource& source) {
  console_print_line(kListHeader);
  uint64_t unpacked = 0;
  uint64_t stored = 0;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    show_name(item);
    line_start("");
    line_append_number(item.header.unpacked_size, kNumberWidth);
    line_append_number(item.header.stored_size, kNumberWidth + 1);
    line_append("  ");
    line_append(mode_state.shown);
    if (is_folder(item)) line_append("/");
    console_print_line(mode_state.line);
    unpacked += item.header.unpacked_size;
    stored += item.header.stored_size;
  }
  line_start("");
  line_append_number(unpacked, kNumberWidth);
  line_append_number(stored, kNumberWidth + 1);
  line_append("  ");
  line_append_number(walk.index, 0);
  line_append(" ");
  line_append(kListTotal);
  console_print_line(mode_state.line);
  check_walk_end(source, walk);
}

void archive_test(const ArchiveSource& source) {
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    uint8_t* data = nullptr;
    const bool sound = archive_unpack(source, item, &data) == UnpackResult::ok &&
                       (!item.named || entry_name_is_safe(item.name, item.name_size));
    main_heap_free(data);
    show_name(item);
    line_start(sound ? kTestOk : kTestFailed);
    line_append(mode_state.shown);
    console_print_line(mode_state.line);
    if (!sound) extraction_fail(nullptr);
  }
  check_walk_end(source, walk);
  console_print_line("");
  console_print_line(extraction_has_failed() ? kExtractionFailed : kTestDone);
}

void archive_extract(const ArchiveSource& source, OverwritePolicy policy) {
  mode_state.decision = kDecisionNone;
  NameSet seen = name_set_make(source.count);
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) extract_item(source, item, policy, seen);
  check_walk_end(source, walk);
  main_heap_free(seen.slots);
  set_folder_times(source);
  console_print_line("");
  console_print_line(extraction_has_failed() ? kExtractionFailed : kExtractionDone);
}
