#include "app/extraction.h"

#include <cstring>

#include "app/archive_modes.h"
#include "app/extraction_steps.h"
#include "app/options.h"
#include "app/overwrite.h"
#include "app/payload_table.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "files/file_data.h"
#include "files/file_queries.h"
#include "files/file_table.h"
#include "files/program_directory.h"
#include "pack/pack_reader.h"
#include "platform/file.h"
#include "platform/process.h"
#include "runtime/workspace.h"

namespace {

constexpr int32_t kArchiveFileNumber = 0;
constexpr int32_t kTargetFileNumber = 0;
/// Removal slots: the temporary archive, and the new file of the entry being written.
constexpr int kArchiveRemovalSlot = 0;
constexpr int kPartRemovalSlot = 1;
/// Room for a name built from a target or the archive's stem, a number and an extension.
constexpr size_t kNameSize = kMaxPathSize;
constexpr size_t kDecimalDigits = 11;

/// The program's variables, all zero before start-up.
struct ProgramState {
  const uint8_t* entry_data;
  int32_t entry_length;
  OverwriteDecision decision;
  bool failed;                      ///< something went wrong: no success message, exit code 1
  char archive_name[kNameSize];     ///< the temporary archive's name in the program directory
  char part_name[kNameSize];        ///< the new file of the entry being written
  char removal_path[kMaxPathSize];  ///< full path handed to the removal at exit
  char part_stem[kNameSize];        ///< what the new file's name starts with
  char own_file[kMaxPathSize];      ///< the program's own file, which may carry an archive
  char usage_line[kMaxPathSize];    ///< a usage error's first line
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

/// Takes the program directory from `program_file`, or from the running program's own
/// file name. False when that name is too long to be kept whole.
bool take_program_directory(const char* program_file) {
  char* own_file = program_state.own_file;
  if (program_file) {
    if (std::strlen(program_file) >= kProgramDirectorySize) return false;
    std::memcpy(own_file, program_file, std::strlen(program_file) + 1);
    program_directory_init(program_file);
    return true;
  }
  const uint32_t length = platform_module_file_name(own_file, kMaxPathSize);
  program_directory_init(own_file);
  return length > 0 && length < kProgramDirectorySize;
}

bool start_up() {
  if (!main_heap_create()) return false;
  if (!object_heap_create() || !file_table_init() || !string_workspace_create()) return false;
  console_open();
  return true;
}

void fail(const char* message) {
  if (message) console_print_line(message);
  program_state.failed = true;
}

/// Appends `text` to the zero-terminated `out` of `size` bytes; false when it does not fit.
bool append(char* out, size_t size, const char* text) {
  const size_t used = std::strlen(out);
  const size_t length = std::strlen(text);
  if (used + length >= size) return false;
  std::memcpy(out + used, text, length + 1);
  return true;
}

/// Appends the decimal digits of `number`.
bool append_number(char* out, size_t size, uint32_t number) {
  char digits[kDecimalDigits];
  char* at = digits + sizeof digits - 1;
  *at = 0;
  do {
    *--at = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  return append(out, size, at);
}

/// Registers the file `name` of the program directory for removal at exit in `slot`.
/// False when its full path cannot be kept.
bool register_removal(int slot, const char* name) {
  char* path = program_state.removal_path;
  path[0] = 0;
  return append(path, kMaxPathSize, program_directory) && append(path, kMaxPathSize, name) &&
         platform_remove_on_exit(slot, path);
}

/// Creates `name` as a new file under `number`, shared with nobody, and registers it for
/// removal at exit. 1 when made; 0 when something of that name exists already; -1 when it
/// cannot be made for another reason (nothing is left behind then).
int create_registered(FileReference number, const char* name, int slot) {
  // An interrupt between the two steps would leave the new file behind.
  platform_hold_interrupts();
  int made = 1;
  if (!file_create_new(number, name)) {
    made = file_name_taken(name) ? 0 : -1;
  } else if (!register_removal(slot, name)) {
    file_close(number);
    file_delete(name);
    made = -1;
  }
  platform_release_interrupts();
  return made;
}

/// Builds `stem`, then `separator` and `number` (both left out when the number is 0), then
/// `extension` into `out`.
bool build_name(char* out, const char* stem, const char* separator, uint32_t number,
                const char* extension) {
  out[0] = 0;
  return append(out, kNameSize, stem) &&
         (number == 0 ||
          (append(out, kNameSize, separator) && append_number(out, kNameSize, number))) &&
         append(out, kNameSize, extension);
}

/// Makes a new file under `file`, registered for removal in `slot`, with the first free of
/// the names built from `stem`, `separator`, a number and `extension` (the plain name
/// without a number first when `plain_first`, then the numbers after it up to
/// kMaxNameNumber), which stays in `out`. A file that has one of these names already, a
/// user's or another run's, is never written to or removed.
bool create_first_free(char* out, const char* stem, const char* separator, const char* extension,
                       bool plain_first, FileReference file, int slot) {
  for (uint32_t number = 1; number <= kMaxNameNumber; ++number) {
    const uint32_t shown = plain_first && number == 1 ? 0 : number;
    if (!build_name(out, stem, separator, shown, extension)) return false;
    const int made = create_registered(file, out, slot);
    if (made != 0) return made == 1;
  }
  return false;
}

/// Removes a file this run made and no longer wants, and forgets its removal at exit.
void remove_own_file(const char* name, int slot) {
  file_delete(name);
  platform_remove_on_exit(slot, nullptr);
}

/// Writes the carried archive whole to a new temporary file in the program directory.
bool write_temporary_archive(const uint8_t* archive, uint32_t size) {
  platform_set_current_directory(program_directory);
  if (!create_first_free(program_state.archive_name, kTemporaryArchiveStem,
                         kTemporaryArchiveSeparator, kTemporaryArchiveExtension, true,
                         kArchiveFileNumber, kArchiveRemovalSlot))
    return false;
  const bool written = size > 0 && current_file_write_block(archive, size) != 0;
  file_close(kArchiveFileNumber);
  if (!written) remove_own_file(program_state.archive_name, kArchiveRemovalSlot);
  return written;
}

void remove_temporary_archive() {
  remove_own_file(program_state.archive_name, kArchiveRemovalSlot);
}

/// Gives the closed new file `name` its attributes (null: none). False when one cannot be set.
bool give_attributes(const char* name, const TargetAttributes* attributes) {
  if (!attributes) return true;
  return (!attributes->executable || platform_set_executable(name)) &&
         (!attributes->set_time || platform_set_file_time(name, attributes->mtime));
}

/// The longest part of a name the systems take, and what a new file's name adds to its
/// target's: the separator, up to kMaxNameNumber and the extension.
constexpr size_t kMaxNamePart = 255;
constexpr size_t kPartNameAddition =
    sizeof kPartFileSeparator - 1 + kDecimalDigits + sizeof kPartFileExtension - 1;
/// The new file's stem in place of a target's own name that leaves no room for the addition.
constexpr char kShortPartStem[] = "entpacker";

/// The start of the new file's name for `target_name`: the target's name, or, when its last
/// part is too long to take the addition, the target's folder followed by kShortPartStem.
const char* part_stem(const char* target_name) {
  const char* last = std::strrchr(target_name, '/');
  last = last ? last + 1 : target_name;
  if (std::strlen(last) + kPartNameAddition <= kMaxNamePart) return target_name;
  char* stem = program_state.part_stem;
  const size_t folder = static_cast<size_t>(last - target_name);
  if (folder + sizeof kShortPartStem > kNameSize) return target_name;
  std::memcpy(stem, target_name, folder);
  std::memcpy(stem + folder, kShortPartStem, sizeof kShortPartStem);
  return stem;
}

/// Writes `length` bytes of `data` to a new file beside `target_name` (flushed when it will
/// replace a file), with its attributes, then puts it in the target's place in one rename. Whatever
/// fails, the target keeps what it held.
bool write_target(const char* target_name, const uint8_t* data, uint32_t length,
                  const TargetAttributes* attributes) {
  if (!file_may_replace(target_name) ||
      !create_first_free(program_state.part_name, part_stem(target_name), kPartFileSeparator,
                         kPartFileExtension, false, kTargetFileNumber, kPartRemovalSlot))
    return false;
  // The data reach the disk before a rename replaces a file that exists, so that a crash
  // can never leave an empty file where the old content was. A new name holds nothing of
  // the user's: its data are left to the system's own writing, which keeps extracting
  // thousands of small files fast.
  const bool replacing = platform_file_kind(target_name) != FileKind::kMissing;
  const bool written = (length == 0 || current_file_write_block(data, length)) &&
                       (!replacing || current_file_flush());
  file_close(kTargetFileNumber);
  const bool replaced = written && give_attributes(program_state.part_name, attributes) &&
                        file_replace(program_state.part_name, target_name);
  if (replaced)
    platform_remove_on_exit(kPartRemovalSlot, nullptr);
  else
    remove_own_file(program_state.part_name, kPartRemovalSlot);
  return replaced;
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
  if (!program_state.entry_data ||
      !write_target(entry.target_name, program_state.entry_data,
                    static_cast<uint32_t>(program_state.entry_length), nullptr))
    fail(kExtractionFailed);
}

/// Opens the temporary archive and checks that it holds exactly the carried bytes; the
/// run stops before any target is touched when it does not.
bool open_temporary_archive(const ArchiveDigest& expected) {
  if (!pack_open(program_state.archive_name)) {
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

void extract_archive(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected) {
  // Damaged carried bytes are never written anywhere.
  if (!archive_digest_equal(archive_digest_of(archive, size), expected) ||
      !write_temporary_archive(archive, size)) {
    fail(kExtractionFailed);
    return;
  }
  program_state.decision = kDecisionNone;
  if (!open_temporary_archive(expected)) {
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

/// Prints a usage error and the usage on standard error.
void report_usage_error(const ProgramOptions& options) {
  char* line = program_state.usage_line;
  line[0] = 0;
  (void)(append(line, kMaxPathSize, "entpacker: ") && append(line, kMaxPathSize, options.problem) &&
         (!options.argument ||
          (append(line, kMaxPathSize, ": ") && append(line, kMaxPathSize, options.argument))));
  platform_error_line(line);
  for (const char* const* usage = kUsageLines; *usage; ++usage) platform_error_line(*usage);
}

/// Makes `folder` with its parents (a user's own path: links in it are followed) and makes
/// it current. False when it cannot be made current.
bool enter_output_folder(const char* folder) {
  char* path = program_state.removal_path;  // free until a file is registered
  const size_t length = std::strlen(folder);
  if (length >= kMaxPathSize) return false;
  std::memcpy(path, folder, length + 1);
  for (size_t i = 1; i < length; ++i) {
    const bool separator = path[i] == '/' || path[i] == kPathSeparator;
    if (!separator || path[i - 1] == ':' || path[i - 1] == '/' || path[i - 1] == kPathSeparator)
      continue;
    path[i] = 0;
    (void)platform_make_directory(path);
    path[i] = folder[i];
  }
  (void)platform_make_directory(path);
  path[0] = 0;
  return platform_set_current_directory(folder);
}

/// Extracts `source` into the output folder of `options` or the program directory.
void extract_source(const ArchiveSource& source, const ProgramOptions& options) {
  const bool entered = options.output ? enter_output_folder(options.output)
                                      : platform_set_current_directory(program_directory);
  if (!entered) return fail(kExtractionFailed);
  // Made current, the folder is named relative to itself from now on, and so is each folder
  // the extraction enters below it: new files are registered for removal by their names
  // there.
  const char here[] = {'.', kPathSeparator, 0};
  program_directory_init(here);
  console_print_line(kArchiveOpened);
  archive_extract(source, options.overwrite);
}

/// Runs the mode of `options` over `source`.
void run_source(const ArchiveSource& source, const ProgramOptions& options) {
  if (options.mode == ProgramMode::list)
    archive_list(source);
  else if (options.mode == ProgramMode::test)
    archive_test(source);
  else
    extract_source(source, options);
}

/// Whether the run ends with the closing prompt and its wait for a key.
bool waits_at_end(const ProgramOptions& options, bool with_arguments) {
  if (!with_arguments) return true;
  return options.wait && options.mode == ProgramMode::extract;
}

/// The run after start-up: the archive appended to the program, or else the built-in one,
/// in the mode the options chose. False when the run ends without its closing prompt.
bool run_program(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected,
                 const ProgramOptions& options, bool with_arguments) {
  if (options.mode == ProgramMode::help) {
    for (const char* const* usage = kUsageLines; *usage; ++usage) console_print_line(*usage);
    return false;
  }
  if (options.mode == ProgramMode::version) {
    console_print_line(kProgramVersion);
    return false;
  }
  ArchiveSource source;
  const AppendedArchive appended = appended_archive_open(program_state.own_file, &source);
  if (appended == AppendedArchive::damaged) {
    fail(kExtractionFailed);
    return waits_at_end(options, with_arguments);
  }
  if (appended == AppendedArchive::absent) {
    if (size == 0) {
      fail(kNoArchive);
      return false;
    }
    if (!with_arguments) {
      extract_archive(archive, size, expected);
      return true;
    }
    if (!archive_digest_equal(archive_digest_of(archive, size), expected)) {
      fail(kExtractionFailed);
      return waits_at_end(options, with_arguments);
    }
    source = builtin_archive_source(archive, size, kPayloadEntryCount);
  }
  run_source(source, options);
  archive_source_close(&source);
  return waits_at_end(options, with_arguments);
}

}  // namespace

void extraction_fail(const char* message) {
  fail(message);
}

bool extraction_has_failed() {
  return program_state.failed;
}

bool extraction_write_file(const char* target_name, const uint8_t* data, uint32_t length,
                           const TargetAttributes* attributes) {
  return write_target(target_name, data, length, attributes);
}

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

int extraction_run(const uint8_t* archive, uint32_t size, const ArchiveDigest& expected,
                   const char* program_file) {
  return extraction_run_with_arguments(archive, size, expected, program_file, 0, nullptr);
}

int extraction_run_with_arguments(const uint8_t* archive, uint32_t size,
                                  const ArchiveDigest& expected, const char* program_file,
                                  int count, const char* const* arguments) {
  const ProgramOptions options = options_parse(count, arguments);
  if (options.mode == ProgramMode::usage_error) {
    report_usage_error(options);
    return kExitUsage;
  }
  reset_records();
  const bool directory_taken = take_program_directory(program_file);
  if (!start_up()) {
    main_heap_destroy();
    return kExitFailure;
  }
  // A program directory that could not be kept whole would send the files elsewhere.
  bool closing_prompt = true;
  if (directory_taken)
    closing_prompt = run_program(archive, size, expected, options, count > 0);
  else
    fail(kExtractionFailed);
  if (closing_prompt) {
    console_print_line("");
    console_print_line(kClosingPrompt);
    wait_for_any_key();
  }
  shut_down();
  return program_state.failed ? kExitFailure : kExitSuccess;
}