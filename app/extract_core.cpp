#include "app/extract_core.h"

#include <cstring>

#include "app/content_stream.h"
#include "app/entry_decoder.h"
#include "app/target_writer.h"
#include "files/file_queries.h"
#include "platform/file.h"
#include "platform/name_case.h"
#include "runtime/workspace.h"

namespace {

/// Room for a name with its terminating zero.
constexpr size_t kNameTextSize = kEntryNameMaxSize + 1;
/// Where a record of the table keeps its flags.
constexpr size_t kRecordFlagsOffset = 10;

/// The core's state during a run, kept out of the stack.
struct CoreState {
  char path[kNameTextSize];  ///< the entry's name as the system gets it
  OverwriteDecision decision;
  bool asked;  ///< the entry being written was asked about
  bool failed;
  uint64_t taken;               ///< bytes of the entry taken from the content stream so far
  const ExtractReport* report;  ///< the extraction's report, for its progress
  uint64_t done;                ///< bytes of the entries before this one
};

CoreState core_state;

bool is_folder(const ArchiveItem& item) {
  return (item.flags & kNamedEntryDirectory) != 0;
}

/// A failed write by its cause: no space, no permission, or the write as such.
ExtractProblem write_problem() {
  const FileFailure cause = target_failure();
  if (cause == FileFailure::no_space) return ExtractProblem::no_space;
  if (cause == FileFailure::permission) return ExtractProblem::permission;
  return ExtractProblem::write_failed;
}

void report_failure(const ExtractReport& report, const ArchiveItem* item, ExtractProblem problem) {
  if (problem == ExtractProblem::write_failed) problem = write_problem();
  core_state.failed = true;
  report.fail(ExtractFailure{item, problem, EntryNameProblem::ok, nullptr, 0});
}

/// Reports a walk that stopped before its last entry (possible only for the built-in
/// archive, whose entries the walk checks as it goes).
void check_walk_end(const ArchiveSource& source, const ArchiveWalk& walk,
                    const ExtractReport& report) {
  if (walk.failed || walk.index != source.count)
    report_failure(report, nullptr, ExtractProblem::archive_walk);
}

// ---- The names of an archive ---------------------------------------------------------------
//
// An open-addressing set of the table's names, so that a second entry of the same name (under
// fold_case also of a name that differs only in case) and a name below a file are found
// before anything is written. A slot holds the name's offset in the table plus one, 0 when
// empty; the record's path size and flags lie just before the name.

struct NameSet {
  uint32_t* slots;
  uint32_t mask;  ///< slot count - 1 (a power of two, at least twice the entries)
  const uint8_t* table;
  size_t record_header;  ///< bytes of a record before its name
  bool fold_case;
};

/// A hash of the exact bytes of a name.
uint32_t name_hash(const uint8_t* name, size_t size) {
  constexpr uint32_t kOffsetBasis = 2166136261u;
  constexpr uint32_t kPrime = 16777619u;
  uint32_t hash = kOffsetBasis;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ name[i]) * kPrime;
  return hash;
}

bool same_bytes(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  return a_size == b_size && std::memcmp(a, b, a_size) == 0;
}

bool same_name(const NameSet& set, const uint8_t* a, size_t a_size, const uint8_t* b,
               size_t b_size) {
  return set.fold_case ? names_equal_ignoring_case(a, a_size, b, b_size)
                       : same_bytes(a, a_size, b, b_size);
}

/// The name a slot holds, its size and its flags.
const uint8_t* slot_name(const NameSet& set, uint32_t slot, size_t* size, uint8_t* flags) {
  const uint8_t* name = set.table + set.slots[slot] - 1;
  const uint8_t* record = name - set.record_header;
  *size = size_t(record[0]) | size_t(record[1]) << 8;
  *flags = record[kRecordFlagsOffset];
  return name;
}

/// A set for `count` names of `table`; its slots are null when they cannot be had.
NameSet name_set_make(const ArchiveSource& source, bool fold_case) {
  uint32_t slots = 16;
  while (slots < 2 * uint64_t(source.count)) slots *= 2;
  const size_t header = archive_has_content_stream(source) ? kNamedArchiveRecordHeaderSize2
                                                           : kNamedArchiveRecordHeaderSize;
  return NameSet{static_cast<uint32_t*>(main_heap_alloc(slots * sizeof(uint32_t), true)), slots - 1,
                 source.table, header, fold_case};
}

/// The slot of the name equal to the `size` bytes at `name`, or of the empty slot where it
/// would go.
uint32_t name_set_find(const NameSet& set, const uint8_t* name, size_t size) {
  const uint32_t hash = set.fold_case ? name_hash_ignoring_case(name, size) : name_hash(name, size);
  for (uint32_t at = hash & set.mask;; at = (at + 1) & set.mask) {
    if (set.slots[at] == 0) return at;
    size_t other_size = 0;
    uint8_t flags = 0;
    const uint8_t* other = slot_name(set, at, &other_size, &flags);
    if (same_name(set, name, size, other, other_size)) return at;
  }
}

/// An item for a record of the table, for the report.
ArchiveItem record_item(const NamedArchiveRecord& record) {
  ArchiveItem item{};
  item.name = record.path;
  item.name_size = record.path_size;
  item.named = true;
  item.mtime = record.mtime;
  item.flags = record.flags;
  item.size = record.size;
  return item;
}

void report_name(const ExtractReport& report, const NamedArchiveRecord& record,
                 ExtractProblem problem, EntryNameProblem name_problem, const uint8_t* other,
                 size_t other_size) {
  core_state.failed = true;
  const ArchiveItem item = record_item(record);
  report.fail(ExtractFailure{&item, problem, name_problem, other, other_size});
}

/// First pass: every name safe and there once. Safe names go into the set.
bool add_names(NameSet& set, const ArchiveSource& source, const ExtractReport& report) {
  bool sound = true;
  NamedTableWalk walk =
      named_archive_table_start(source.table, source.table_size, source.count, source.version);
  NamedArchiveRecord record;
  while (named_archive_next_name(walk, &record) == NamedTableStep::record) {
    const EntryNameProblem problem = entry_name_check(record.path, record.path_size);
    if (problem != EntryNameProblem::ok) {
      report_name(report, record, ExtractProblem::unsafe_name, problem, nullptr, 0);
      sound = false;
      continue;
    }
    const uint32_t at = name_set_find(set, record.path, record.path_size);
    if (set.slots[at] == 0) {
      set.slots[at] = static_cast<uint32_t>(record.path - source.table) + 1;
      continue;
    }
    size_t other_size = 0;
    uint8_t flags = 0;
    const uint8_t* other = slot_name(set, at, &other_size, &flags);
    const bool exact = same_bytes(record.path, record.path_size, other, other_size);
    report_name(report, record, exact ? ExtractProblem::name_twice : ExtractProblem::case_twin,
                EntryNameProblem::ok, other, other_size);
    sound = false;
  }
  return sound;
}

/// Second pass: no name lies below an entry that is a file.
bool check_folders(const NameSet& set, const ArchiveSource& source, const ExtractReport& report) {
  bool sound = true;
  NamedTableWalk walk =
      named_archive_table_start(source.table, source.table_size, source.count, source.version);
  NamedArchiveRecord record;
  while (named_archive_next_name(walk, &record) == NamedTableStep::record) {
    for (size_t end = 1; end < record.path_size; ++end) {
      if (record.path[end] != kEntryNameSeparator) continue;
      const uint32_t at = name_set_find(set, record.path, end);
      size_t other_size = 0;
      uint8_t flags = 0;
      if (set.slots[at] == 0) continue;
      const uint8_t* other = slot_name(set, at, &other_size, &flags);
      if ((flags & kNamedEntryDirectory) != 0) continue;
      report_name(report, record, ExtractProblem::below_file, EntryNameProblem::ok, other,
                  other_size);
      sound = false;
      break;
    }
  }
  return sound;
}

// ---- Extraction ----------------------------------------------------------------------------

/// How the entry at core_state.path is to be written, by `policy` and, when it asks, by the
/// user's answer; false to keep what is there.
bool choose_placement(const ExtractPolicy& policy, const ExtractReport& report,
                      const ArchiveItem& item, TargetPlacement* placement) {
  const char* path = core_state.path;
  *placement = TargetPlacement::replace;
  if (policy.overwrite == OverwritePolicy::all || core_state.decision == kDecisionAll) return true;
  if (policy.overwrite == OverwritePolicy::never) {
    *placement = TargetPlacement::must_add;
    return !file_name_taken(path);
  }
  if (target_has_content(path)) {
    core_state.decision = report.ask(item);
    core_state.asked = true;
    return core_state.decision != kDecisionSkip;
  }
  // Nothing of the user's is there, or an empty file: a missing target must still be missing
  // when the new file takes its name.
  if (platform_file_kind(path) == FileKind::kMissing) *placement = TargetPlacement::must_add;
  return true;
}

/// Copies the item's name into core_state.path.
void take_path(const ArchiveItem& item) {
  std::memcpy(core_state.path, item.name, item.name_size);
  core_state.path[item.name_size] = 0;
}

/// Finds the named item's folder again from the output folder and makes it current.
bool enter_folder_again(const ArchiveItem& item) {
  if (!item.named) return true;
  take_path(item);
  return entry_folders_make(core_state.path, false);
}

/// The problem behind a failed unpack.
ExtractProblem unpack_problem(UnpackResult result) {
  if (result == UnpackResult::unreadable) return ExtractProblem::unreadable;
  if (result == UnpackResult::no_memory) return ExtractProblem::no_memory;
  return ExtractProblem::damaged;
}

/// Tells the report how far the extraction has come.
void tell_progress(uint64_t bytes) {
  if (core_state.report && core_state.report->progress) core_state.report->progress(bytes);
}

/// Takes the item's bytes from the content stream, from core_state.taken on, and appends
/// each piece to the new file when `write`. False with the problem when a piece cannot be
/// had or written.
bool take_content(const ArchiveItem& item, bool write, ExtractProblem* problem) {
  while (core_state.taken < item.size) {
    const uint8_t* piece = nullptr;
    size_t size = 0;
    const UnpackResult got = content_next(item.size - core_state.taken, &piece, &size);
    *problem = unpack_problem(got);
    if (got != UnpackResult::ok) return false;
    core_state.taken += size;
    *problem = ExtractProblem::write_failed;
    if (write && !target_append(piece, size)) return false;
    if (write) tell_progress(core_state.done + core_state.taken);
  }
  return true;
}

/// Takes the item's bytes and appends them to the new file: an entry of its own unpacked
/// whole, or the pieces of the content stream. False with the problem when they cannot be
/// had or written.
bool copy_item_bytes(const ArchiveSource& source, const ArchiveItem& item,
                     ExtractProblem* problem) {
  if (archive_has_content_stream(source)) return take_content(item, true, problem);
  uint8_t* data = nullptr;
  const UnpackResult unpacked = archive_unpack(source, item, &data);
  *problem = unpack_problem(unpacked);
  const bool copied = unpacked == UnpackResult::ok && target_append(data, item.size);
  if (unpacked == UnpackResult::ok) *problem = ExtractProblem::write_failed;
  main_heap_free(data);
  return copied;
}

/// Puts the finished new file in place of core_state.path, asking again (or keeping, under
/// `never`) when a target appears while the entry is written.
TargetWrite place_item(const ArchiveItem& item, const ExtractPolicy& policy,
                       const ExtractReport& report, TargetPlacement placement) {
  const TargetAttributes attributes{true, item.mtime, (item.flags & kNamedEntryExecutable) != 0};
  TargetWrite written =
      target_finish(core_state.path, item.named ? &attributes : nullptr, placement);
  while (written == TargetWrite::taken) {
    core_state.asked = false;
    if (!choose_placement(policy, report, item, &placement)) {
      target_abandon();
      return TargetWrite::written;  // kept, as the policy or the answer says
    }
    if (core_state.asked && !enter_folder_again(item)) {
      target_abandon();
      return TargetWrite::failed;
    }
    written = target_place(core_state.path, placement);
  }
  return written;
}

/// Writes the item in place of core_state.path.
void write_item(const ArchiveSource& source, const ArchiveItem& item, const ExtractPolicy& policy,
                const ExtractReport& report) {
  TargetPlacement placement;
  core_state.asked = false;
  if (!choose_placement(policy, report, item, &placement)) return;
  // While the question waited, the entry's folder may have been moved or replaced: it is
  // found again from the output folder.
  if (core_state.asked && !enter_folder_again(item))
    return report_failure(report, &item, ExtractProblem::folder_blocked);
  const TargetBegin begun = target_begin(core_state.path);
  if (begun != TargetBegin::begun)
    return report_failure(report, &item,
                          begun == TargetBegin::blocked ? ExtractProblem::target_blocked
                                                        : ExtractProblem::write_failed);
  ExtractProblem problem = ExtractProblem::write_failed;
  if (!copy_item_bytes(source, item, &problem)) {
    target_abandon();
    return report_failure(report, &item, problem);
  }
  if (place_item(item, policy, report, placement) == TargetWrite::failed)
    report_failure(report, &item, ExtractProblem::write_failed);
}

void extract_item(const ArchiveSource& source, const ArchiveItem& item, const ExtractPolicy& policy,
                  const ExtractReport& report) {
  core_state.taken = 0;
  report.announce(item);
  take_path(item);
  if (item.named && !entry_folders_make(core_state.path, is_folder(item)))
    return report_failure(report, &item,
                          platform_file_last_failure() == FileFailure::permission
                              ? ExtractProblem::permission
                              : ExtractProblem::folder_blocked);
  if (!is_folder(item)) write_item(source, item, policy, report);
}

/// Gives every folder entry its modification time, once nothing more is written into it,
/// through a handle of the folder found beneath the output folder held since the run began.
void set_folder_times(const ArchiveSource& source, PlatformFolder output,
                      const ExtractReport& report) {
  if (!entry_folders_leave()) return report_failure(report, nullptr, ExtractProblem::folder_time);
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    if (!item.named || !is_folder(item)) continue;
    take_path(item);
    if (!output || !platform_folder_set_time(output, core_state.path, item.mtime))
      report_failure(report, &item, ExtractProblem::folder_time);
  }
}

/// Unpacks the item, an entry of its own or its pieces of the content stream, and lets the
/// bytes go; false with the problem when they cannot be had.
bool test_item(const ArchiveSource& source, const ArchiveItem& item, ExtractProblem* problem) {
  if (archive_has_content_stream(source)) {
    core_state.taken = 0;
    const bool sound = take_content(item, false, problem);
    content_skip(item.size - core_state.taken);
    return sound;
  }
  uint8_t* data = nullptr;
  const UnpackResult unpacked = archive_unpack(source, item, &data);
  main_heap_free(data);
  *problem = unpack_problem(unpacked);
  return unpacked == UnpackResult::ok;
}

}  // namespace

bool extract_check_names(const ArchiveSource& source, const ExtractPolicy& policy,
                         const ExtractReport& report) {
  if (!source.table) return true;
  NameSet set = name_set_make(source, policy.fold_case);
  if (!set.slots) {
    report_failure(report, nullptr, ExtractProblem::no_memory);
    return false;
  }
  const bool sound = add_names(set, source, report) && check_folders(set, source, report);
  main_heap_free(set.slots);
  return sound;
}

bool extract_list(const ArchiveSource& source, const ExtractPolicy& policy,
                  const ExtractReport& report) {
  core_state.failed = !extract_check_names(source, policy, report);
  uint64_t unpacked = 0;
  uint64_t stored = 0;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    report.listed(item);
    unpacked += item.size;
    stored += item.header.stored_size;
  }
  // The files of a content stream share its blocks: what is stored is the blocks' sum.
  if (archive_has_content_stream(source)) stored = source.entries_size;
  report.totals(unpacked, stored, walk.index);
  check_walk_end(source, walk, report);
  return !core_state.failed;
}

bool extract_test(const ArchiveSource& source, const ExtractPolicy& policy,
                  const ExtractReport& report) {
  core_state.failed = !extract_check_names(source, policy, report);
  const bool stream = archive_has_content_stream(source);
  if (stream && !content_start(source)) {
    report_failure(report, nullptr, ExtractProblem::no_memory);
    return false;
  }
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    ExtractProblem problem = ExtractProblem::damaged;
    const bool sound = test_item(source, item, &problem);
    report.tested(item, sound, problem);
    if (!sound) core_state.failed = true;
  }
  if (stream) content_stop();
  check_walk_end(source, walk, report);
  return !core_state.failed;
}

bool extract_all(const ArchiveSource& source, const ExtractPolicy& policy,
                 const ExtractReport& report) {
  core_state.failed = false;
  core_state.decision = kDecisionNone;
  const bool stream = archive_has_content_stream(source);
  if (stream && !content_start(source)) {
    report_failure(report, nullptr, ExtractProblem::no_memory);
    return false;
  }
  PlatformFolder output = source.table ? platform_folder_hold(".") : nullptr;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  core_state.report = &report;
  core_state.done = 0;
  while (archive_walk_next(source, walk, &item)) {
    extract_item(source, item, policy, report);
    // Whatever of the entry was not written (kept, refused, failed) is passed over.
    if (stream) content_skip(item.size - core_state.taken);
    core_state.done += item.size;
    tell_progress(core_state.done);
  }
  core_state.report = nullptr;
  if (stream) content_stop();
  check_walk_end(source, walk, report);
  set_folder_times(source, output, report);
  platform_folder_release(output);
  return !core_state.failed;
}

bool target_has_content(const char* name) {
  const FileKind kind = platform_file_kind(name);
  if (kind != FileKind::kRegular && kind != FileKind::kReadOnly) return false;
  PlatformFile file = platform_file_open(name, kFileAccessRead, kFileShareRead | kFileShareWrite,
                                         FileDisposition::kOpenExisting);
  // A file that cannot even be read is asked about: it may well have content.
  if (file == kPlatformInvalidFile) return true;
  const uint64_t size = platform_file_size64(file);
  platform_file_close(file);
  return size != 0;
}
