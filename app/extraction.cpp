// The program's front end. The run without arguments is the small, size-budgeted front end
// of its own that writes the carried archive to a temporary file and extracts its six
// entries (the i686 program's own bytes are held to 48 KiB by scripts/check-size); a run
// with arguments, and every run of a self-extractor, goes through the extraction core
// (app/extract_core.h) with the console's report.
#include "app/extraction.h"

#include <cstring>

#include "app/console_report.h"
#include "app/dialogue.h"
#include "app/extract_core.h"
#include "app/front_end.h"
#include "app/options.h"
#include "app/payload_table.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "files/file_table.h"
#include "files/program_directory.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/process.h"
#include "runtime/workspace.h"

namespace {

/// The program's variables, all zero before start-up.
struct ProgramState {
  bool failed;                     ///< something went wrong: no success message, exit code 1
  char folder_path[kMaxPathSize];  ///< the output folder as its parents are made
  char own_file[kMaxPathSize];     ///< the program's own file, which may carry an archive
  char usage_line[kMaxPathSize];   ///< a usage error's first line
  RunSettings settings;            ///< the appended archive's title
  bool terminal;                   ///< the output is a console, not a file or a pipe
  int command_exit;                ///< an installer's command ran: the run's exit code
  bool command_ran;
};

ProgramState program_state;

/// Sets every library record to its state before start-up.
void reset_records() {
  program_state = ProgramState{};
  runtime_memory = RuntimeMemory{};
  console_state = ConsoleState{};
  file_table = FileTable{};
  carried_run_reset();
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
  program_state.terminal = console_state.stream_output == 0;
  // A console that takes UTF-8 gets lines, on a terminal as in a pipe.
  if (dialogue_utf8_names() && !platform_console_is_memory(console_state.output_handle))
    console_state.stream_output = 1;
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

void shut_down() {
  console_close();
  runtime_release();
  main_heap_destroy();
}

/// The name the program's file has, without its folder.
const char* own_name() {
  const char* name = program_state.own_file;
  for (const char* at = name; *at; ++at)
    if (*at == '/' || *at == kPathSeparator) name = at + 1;
  return *name ? name : "entpacker";
}

/// Prints the usage, one line at a time, through `print`.
void print_usage(void (*print)(const char*)) {
  char* line = program_state.usage_line;
  line[0] = 0;
  (void)(append(line, kMaxPathSize, dialogue_text(Text::usage)) &&
         append(line, kMaxPathSize, " ") && append(line, kMaxPathSize, own_name()) &&
         append(line, kMaxPathSize, " ") &&
         append(line, kMaxPathSize, dialogue_text(Text::usage_options)));
  print(line);
  for (size_t text = size_t(Text::usage_yes); text <= size_t(Text::usage_last); ++text)
    print(dialogue_text(static_cast<Text>(text)));
  front_end_usage(program_state.settings, print);
}

/// Prints a usage error and the usage on standard error.
void report_usage_error(const ProgramOptions& options) {
  char* line = program_state.usage_line;
  line[0] = 0;
  (void)(append(line, kMaxPathSize, own_name()) && append(line, kMaxPathSize, ": ") &&
         append(line, kMaxPathSize, dialogue_text(options.problem)) &&
         (!options.argument ||
          (append(line, kMaxPathSize, ": ") && append(line, kMaxPathSize, options.argument))));
  platform_error_line(line);
  print_usage(platform_error_line);
}

/// Prints the title, when the archive has one, as the first line of help and version.
void print_title() {
  if (program_state.settings.title[0] != 0) console_print_line(program_state.settings.title);
}

/// Prints "FAILURE: TEXT" for the archive as a whole.
void fail_archive(Text text) {
  report_line_start_failure(text);
  fail(report_line());
}

/// Makes `folder` with its parents (a user's own path: links in it are followed) and makes
/// it current. False when it cannot be made current.
bool enter_output_folder(const char* folder) {
  char* path = program_state.folder_path;
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

/// Named archives made for Windows are extracted there by the system's case rule: names
/// equal ignoring case are one name.
#if defined(_WIN32)
constexpr bool kNamesFoldCase = true;
#else
constexpr bool kNamesFoldCase = false;
#endif

/// Extracts `source` into the output folder of `options` or the program directory.
bool extract_source(const ArchiveSource& source, const ExtractPolicy& policy,
                    const ProgramOptions& options) {
  // A refused archive makes nothing, not even the output folder.
  if (!extract_check_names(source, policy, console_report)) return false;
  const bool entered = options.output ? enter_output_folder(options.output)
                                      : platform_set_current_directory(program_directory);
  if (!entered) {
    report_line_start_failure(Text::output_folder);
    report_line_append(": '");
    report_line_append(options.output ? options.output : program_directory);
    report_line_append("'");
    fail(report_line());
    return false;
  }
  if (!front_end_begin(source, program_state.settings, options.space_check, program_state.terminal,
                       options.quiet))
    return false;
  // Made current, the folder is named relative to itself from now on, and so is each folder
  // the extraction enters below it: new files are registered for removal by their names
  // there.
  const char here[] = {'.', kPathSeparator, 0};
  program_directory_init(here);
  const bool sound = extract_all(source, policy, console_report);
  front_end_end();
  return sound;
}

/// Ends an extraction with an installer's command, when it has one.
void end_install(const ArchiveSource& source, bool sound, const ProgramOptions& options) {
  const int exit_code = front_end_install_end(source, sound, options);
  if (exit_code < 0) return;
  program_state.command_ran = true;
  program_state.command_exit = exit_code;
}

/// Runs the mode of `given` over `source` through the extraction core, then its last line.
void run_source(const ArchiveSource& source, const ProgramOptions& given) {
  ProgramOptions options = given;
  const ExtractPolicy policy{options.overwrite, kNamesFoldCase};
  bool sound;
  if (options.mode == ProgramMode::list) {
    console_print_line(dialogue_text(Text::list_header));
    if (!extract_list(source, policy, console_report)) fail(nullptr);
    return;
  }
  if (options.mode == ProgramMode::info) return front_end_info(source, program_state.settings);
  if (options.mode == ProgramMode::test) {
    sound = extract_test(source, policy, console_report);
  } else if (!front_end_install_begin(source, &options, program_state.terminal)) {
    return fail(nullptr);
  } else {
    sound = extract_source(source, policy, options);
  }
  if (!sound) fail(nullptr);
  if (!sound) {
    console_print_line("");
    console_print_line(dialogue_text(Text::run_failed));
  } else {
    console_report_line("");
    console_report_line(
        dialogue_text(options.mode == ProgramMode::test ? Text::test_done : Text::done));
  }
  if (options.mode == ProgramMode::extract) end_install(source, sound, options);
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
    print_title();
    print_usage(console_print_line);
    return false;
  }
  if (options.mode == ProgramMode::version) {
    print_title();
    if (!program_state.settings.appended) {
      console_print_line(kProgramVersion);
      return false;
    }
    report_line_start(own_name());
    report_line_append(": ");
    report_line_append(dialogue_text(Text::made_with));
    report_line_append(" " ENTPACKER_VERSION);
    console_print_line(report_line());
    return false;
  }
  ArchiveSource source;
  AppendedArchive appended = appended_archive_open(program_state.own_file, &source);
  // Bytes after a program that carries its own archive are left alone: its run is the same
  // whatever follows it.
  if (appended == AppendedArchive::cut_short && size > 0) appended = AppendedArchive::absent;
  if (appended != AppendedArchive::valid && appended != AppendedArchive::absent) {
    fail_archive(appended == AppendedArchive::cut_short ? Text::cut_short : Text::archive_damaged);
    return waits_at_end(options, with_arguments);
  }
  if (appended == AppendedArchive::absent) {
    if (size == 0) {
      fail(dialogue_text(Text::no_archive));
      return false;
    }
    if (!with_arguments) {
      if (!carried_run(archive, size, expected)) fail(nullptr);
      return true;
    }
    if (!archive_digest_equal(archive_digest_of(archive, size), expected)) {
      fail_archive(Text::archive_damaged);
      return waits_at_end(options, with_arguments);
    }
    source = builtin_archive_source(archive, size, kPayloadEntryCount);
  }
  run_source(source, options);
  archive_source_close(&source);
  return waits_at_end(options, with_arguments);
}

}  // namespace

void runtime_release() {
  carried_run_release();
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
  reset_records();
  const bool directory_taken = take_program_directory(program_file);
  if (!start_up()) {
    main_heap_destroy();
    return kExitFailure;
  }
  front_end_settings(program_state.own_file, &program_state.settings);
  if (options.mode == ProgramMode::usage_error) {
    report_usage_error(options);
    shut_down();
    return kExitUsage;
  }
  console_report_set_quiet(options.quiet);
  // A program directory that could not be kept whole would send the files elsewhere.
  bool closing_prompt = waits_at_end(options, count > 0);
  if (directory_taken)
    closing_prompt = run_program(archive, size, expected, options, count > 0);
  else
    fail(dialogue_text(Text::run_failed));
  // An installer's command has had the console; its end is the run's.
  if (closing_prompt && !program_state.command_ran) {
    console_print_line("");
    // The built-in run's own words; a self-extractor's in its language.
    console_print_line(count > 0 || size == 0 || program_state.settings.appended
                           ? dialogue_text(Text::closing_prompt)
                           : kClosingPrompt);
    wait_for_any_key();
  }
  shut_down();
  if (program_state.command_ran) return program_state.command_exit;
  return program_state.failed ? kExitFailure : kExitSuccess;
}