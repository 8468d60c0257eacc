#include "app/extraction.h"

#include <cstring>

#include "app/overwrite.h"
#include "app/payload_table.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "files/file_data.h"
#include "files/file_queries.h"
#include "files/file_table.h"
#include "files/program_directory.h"
#include "pack/pack_reader.h"
#include "platform/process.h"
#include "runtime/workspace.h"

namespace {

constexpr char kExtractionFailed[] = "FEHLER Entpacken";
constexpr char kArchiveOpened[] = "pac datei erfolgreich geoeffnet";
constexpr char kArchiveNotOpened[] = "Fehler beim oeffnen der pac datei";
constexpr char kExtractionDone[] = "Entpacken erfolgreich beendet!";
constexpr char kClosingPrompt[] = "Beliebige Taste zum beenden...";
constexpr int32_t kArchiveFileNumber = 0;
constexpr int32_t kTargetFileNumber = 0;

/// The program's variables, all zero before start-up.
struct ProgramState {
  const uint8_t* entry_data;
  int32_t entry_length;
  OverwriteDecision decision;
  bool failed;  ///< something went wrong: no success message, exit code 1
};

ProgramState program_state;

/// Sets every library record to its state before start-up.
void reset_records() {
  program_state = ProgramState{};
  runtime_memory = RuntimeMemory{};
  console_state = ConsoleState{};
  file_table = FileTable{};
  pack_reader = PackReader{};
  program_directory[0] = 0;
}

bool start_up(const char* program_file) {
  if (!main_heap_create()) return false;
  if (program_file)
    program_directory_init(program_file);
  else {
    platform_module_file_name(program_directory, kProgramDirectorySize);
    program_directory_init(program_directory);
  }
  if (!object_heap_create() || !file_table_init() || !string_workspace_create()) return false;
  console_open();
  return true;
}

void fail(const char* message) {
  console_print_line(message);
  program_state.failed = true;
}

/// Registers the temporary archive in the program directory for removal should the
/// process end before the run removes it itself.
void guard_temporary_archive() {
  char path[kMaxRemoveOnExitPath];
  const size_t directory = std::strlen(program_directory);
  if (directory + sizeof kTemporaryArchive > sizeof path) return;
  std::memcpy(path, program_directory, directory);
  std::memcpy(path + directory, kTemporaryArchive, sizeof kTemporaryArchive);
  platform_remove_on_exit(0, path);
}

/// Writes the carried archive whole to the temporary file in the program directory.
bool write_temporary_archive(const uint8_t* archive, uint32_t size) {
  platform_set_current_directory(program_directory);
  guard_temporary_archive();
  if (!file_open_for_update(kArchiveFileNumber, kTemporaryArchive)) {
    platform_remove_on_exit(0, nullptr);  // nothing was created
    return false;
  }
  const bool written = size > 0 && current_file_write_block(archive, size) != 0;
  file_close(kArchiveFileNumber);
  if (!written) file_delete(kTemporaryArchive);
  return written;
}

void remove_temporary_archive() {
  file_delete(kTemporaryArchive);
  platform_remove_on_exit(0, nullptr);
}

/// Writes the delivered entry to `target_name`, created or emptied first.
bool write_target(const char* target_name) {
  if (!file_create_for_writing(kTargetFileNumber, target_name)) return false;
  const bool written = program_state.entry_length == 0 ||
                       current_file_write_block(program_state.entry_data,
                                                static_cast<uint32_t>(program_state.entry_length));
  file_close(kTargetFileNumber);
  return written;
}

/// Announces one entry, asks when its target has content, reads the entry and writes it.
/// The entry is read and checked before its target is touched.
void extract_entry(const PayloadEntry& entry) {
  console_print_line(entry.announcement);
  if (program_state.decision != kDecisionAll)
    program_state.decision = confirm_overwrite(entry.target_name);
  program_state.entry_data = pack_next_entry();
  program_state.entry_length = pack_entry_size();
  if (program_state.decision == kDecisionSkip) return;
  if (!program_state.entry_data || !write_target(entry.target_name)) fail(kExtractionFailed);
}

void extract_archive(const uint8_t* archive, uint32_t size) {
  if (!write_temporary_archive(archive, size)) {
    fail(kExtractionFailed);
    return;
  }
  program_state.decision = kDecisionNone;
  if (!pack_open(kTemporaryArchive)) {
    fail(kArchiveNotOpened);
    remove_temporary_archive();
    return;
  }
  console_print_line(kArchiveOpened);
  for (const PayloadEntry& entry : payload_entries) extract_entry(entry);
  pack_close();
  remove_temporary_archive();
  console_print_line("");
  console_print_line(program_state.failed ? kExtractionFailed : kExtractionDone);
}

void shut_down() {
  console_close();
  runtime_release();
  main_heap_destroy();
}

}  // namespace

void runtime_release() {
  pack_release();
  file_close_all();
  object_heap_destroy();
}

void wait_for_any_key() {
  for (;;) {
    char* mark = string_mark();
    console_poll_key();
    string_rewind(mark);
    if (*mark != 0 || console_input_ended()) return;
  }
}

int extraction_run(const uint8_t* archive, uint32_t size, const char* program_file) {
  reset_records();
  if (!start_up(program_file)) {
    main_heap_destroy();
    return kExitFailure;
  }
  extract_archive(archive, size);
  console_print_line("");
  console_print_line(kClosingPrompt);
  wait_for_any_key();
  shut_down();
  return program_state.failed ? kExitFailure : kExitSuccess;
}
