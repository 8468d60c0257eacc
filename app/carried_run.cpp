// The built-in program's run without arguments (see front_end.h): the carried archive
// written whole to a temporary file beside the program, checked, and its six entries
// extracted beside it with the overwrite question, in the program's own German words.
#include <cstring>

#include "app/extraction.h"
#include "app/front_end.h"
#include "app/overwrite.h"
#include "app/payload_table.h"
#include "app/target_writer.h"
#include "console/console.h"
#include "files/file_data.h"
#include "files/file_table.h"
#include "files/program_directory.h"
#include "pack/pack_reader.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

constexpr int32_t kArchiveFileNumber = 0;

/// The carried run's variables, all zero before it starts.
struct CarriedRunState {
  const uint8_t* entry_data;
  int32_t entry_length;
  OverwriteDecision decision;
  bool failed;                      ///< something went wrong: no success message
  char archive_name[kMaxPathSize];  ///< the temporary archive's name in the program directory
};

CarriedRunState carried;

void fail(const char* message) {
  console_print_line(message);
  carried.failed = true;
}

/// Writes the carried archive whole to a new temporary file in the program directory.
bool write_temporary_archive(const uint8_t* archive, uint32_t size) {
  platform_set_current_directory(program_directory);
  if (!target_create_first_free(carried.archive_name, kTemporaryArchiveStem,
                                kTemporaryArchiveSeparator, kTemporaryArchiveExtension, true,
                                kArchiveFileNumber, kArchiveRemovalSlot))
    return false;
  const bool written = size > 0 && current_file_write_block(archive, size) != 0;
  file_close(kArchiveFileNumber);
  if (!written) target_remove_own_file(carried.archive_name, kArchiveRemovalSlot);
  return written;
}

void remove_temporary_archive() {
  target_remove_own_file(carried.archive_name, kArchiveRemovalSlot);
}

/// Announces one entry, asks when its target has content, reads the entry and writes it.
/// The entry is read and checked before its target is touched.
void extract_entry(const PayloadEntry& entry) {
  console_print_line(entry.announcement);
  if (carried.decision != kDecisionAll) carried.decision = confirm_overwrite(entry.target_name);
  carried.entry_data = pack_next_entry();
  carried.entry_length = pack_entry_size();
  if (carried.decision == kDecisionSkip) return;
  if (!carried.entry_data || target_write(entry.target_name, carried.entry_data,
                                          static_cast<uint32_t>(carried.entry_length), nullptr,
                                          TargetPlacement::replace) != TargetWrite::written)
    fail(kExtractionFailed);
}

/// Opens the temporary archive and checks that it holds exactly the carried bytes; the
/// run stops before any target is touched when it does not.
bool open_temporary_archive(const ArchiveDigest& expected) {
  if (!pack_open(carried.archive_name)) {
    fail(kArchiveNotOpened);
    return false;
  }
  if (!pack_verify(expected)) {
    fail(kExtractionFailed);
    pack_close();
    return false;
  }
  return true;
}

}  // namespace

bool carried_run(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected) {
  carried = CarriedRunState{};
  // Damaged carried bytes are never written anywhere.
  if (!archive_digest_equal(archive_digest_of(archive, size), expected) ||
      !write_temporary_archive(archive, size)) {
    fail(kExtractionFailed);
    return false;
  }
  carried.decision = kDecisionNone;
  if (!open_temporary_archive(expected)) {
    remove_temporary_archive();
    return false;
  }
  console_print_line(kArchiveOpened);
  for (const PayloadEntry& entry : payload_entries) extract_entry(entry);
  pack_close();
  remove_temporary_archive();
  console_print_line("");
  console_print_line(carried.failed ? kExtractionFailed : kExtractionDone);
  return !carried.failed;
}

void carried_run_reset() {
  pack_reader = PackReader{};
}

void carried_run_release() {
  pack_release();
}
