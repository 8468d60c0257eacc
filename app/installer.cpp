// An installer's run, the self-extractor's part of it (see front_end.h): the licence shown
// and accepted before anything is written, the temporary folder made for the files and
// removed afterwards, and the command run in the folder the files went to.
//
// The temporary folder is registered for removal at the process's end as soon as it is
// made, so that an interrupt during the extraction removes it too. While the command runs,
// an interrupt typed at the terminal reaches the command, and this program waits for it to
// end (platform/run.h); then the folder is removed and the run ends with the command's exit
// code (128 and the signal's number when a signal ended it).
#include <cstring>

#include "app/console_report.h"
#include "app/dialogue.h"
#include "app/extraction.h"
#include "app/front_end.h"
#include "app/installer.h"
#include "console/console.h"
#include "console/keyboard.h"
#include "pack/named_settings.h"
#include "pack/run_command.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/run.h"
#include "platform/temp_folder.h"
#include "runtime/workspace.h"

namespace {

/// What runs a script that has no executable bit.
constexpr char kShell[] = "/bin/sh";
/// Arguments after `--` that are passed on: what a run takes less the command's own words
/// and the script a shell is given.
constexpr int kMaxPassed = kPlatformRunMaxArguments - int(kRunCommandMaxWords) - 1;
/// A command ended by signal N makes the run's exit code this plus N, as shells report it.
constexpr int kSignalExitBase = 128;
/// The widest line of the licence: a longer one is wrapped.
constexpr size_t kLicenseWidthMax = 200;
/// The narrowest terminal the licence is wrapped to; a narrower one is taken as this wide.
constexpr size_t kLicenseWidthMin = 20;
/// Bytes of one line of the licence at most: what one print writes, less the room of a
/// character, so that a character is never cut.
constexpr size_t kLicensePieceMax = kMaxPrintLength - 4;
/// Room for one shown line of the licence.
constexpr size_t kLicenseLineSize = 1024;
constexpr char kEraseToEnd[] = "\r\x1B[K";

/// The installer's state.
struct InstallerState {
  const char* own_file;
  char start_folder[kMaxPathSize];
  char temp_folder[kMaxPathSize];  ///< made for this run; empty: none (or removed)
  char folder[kMaxPathSize];       ///< where the files went: the command's working folder
  char program[kMaxPathSize];
  RunCommandWords words;
  const char* arguments[kPlatformRunMaxArguments];
  uint8_t piece[kLicensePieceMax];
  char line[kLicenseLineSize];
  size_t width;     ///< characters of the licence per line
  size_t page;      ///< licence lines per page; 0: all at once
  size_t shown;     ///< licence lines on the current page
  bool paging_off;  ///< the reader asked for the rest at once
  bool cleanup_registered;
};

InstallerState installer;

bool equal(const char* a, const char* b) {
  return std::strcmp(a, b) == 0;
}

/// The installer's settings of the checked `source`.
NamedInstallerSettings settings_of(const ArchiveSource& source) {
  if (!source.table) return NamedInstallerSettings{};
  return named_archive_installer_settings(source.table, source.table_size);
}

/// Prints "Error: TEXT" and, when given, ": 'NAME'".
void report_failure(Text text, const char* name) {
  report_line_start_failure(text);
  if (name) {
    report_line_append(": '");
    report_line_append(name);
    report_line_append("'");
  }
  console_print_line(report_line());
}

/// Prints LABEL and the text the console shows for the `size` bytes of UTF-8 at `text`.
void print_shown(Text label, const uint8_t* text, size_t size) {
  console_report_name(text, size, installer.line, sizeof installer.line);
  report_line_start(dialogue_text(label));
  report_line_append(installer.line);
  console_print_line(report_line());
}

void print_answer(Text label, bool answer) {
  report_line_start(dialogue_text(label));
  report_line_append(dialogue_text(answer ? Text::yes : Text::no));
  console_print_line(report_line());
}

// ---- the licence ---------------------------------------------------------------------

/// The next key's first character, lower-cased; 0 when none came.
char next_key() {
  char* mark = string_mark();
  console_poll_key();
  char key = *mark;
  string_rewind(mark);
  if (key >= 'A' && key <= 'Z') key = char(key - 'A' + 'a');
  return key;
}

/// Waits for a key under a full page, then takes the prompt off the screen. `q` shows the
/// rest at once.
void wait_for_page() {
  const char* more = dialogue_text(Text::license_more);
  console_print(more);
  char key = 0;
  while (key == 0 && !console_input_ended()) key = next_key();
  if (key == 'q') installer.paging_off = true;
  if (console_state.stream_output) {
    console_print(kEraseToEnd);
  } else {
    console_state.buffer_info.cursor_position.x = 0;
    const size_t length = std::strlen(more);
    std::memset(installer.line, ' ', length);
    console_write_at_cursor(installer.line, uint32_t(length));
  }
  installer.shown = 0;
}

/// Shows one line of the licence, `size` bytes at `text`, its tabs and form feeds as
/// blanks; under a full page on a terminal, first waits for a key.
void show_license_line(const uint8_t* text, size_t size) {
  if (installer.page != 0 && !installer.paging_off && installer.shown == installer.page)
    wait_for_page();
  uint8_t* piece = installer.piece;
  for (size_t i = 0; i < size; ++i) piece[i] = text[i] == '\t' || text[i] == '\f' ? ' ' : text[i];
  console_report_name(piece, size, installer.line, sizeof installer.line);
  console_print_line(installer.line);
  ++installer.shown;
}

/// Bytes of `text` (`size`) that make at most `width` characters and kLicensePieceMax
/// bytes, ending before a character's first byte.
size_t bytes_for_width(const uint8_t* text, size_t size, size_t width) {
  size_t at = 0;
  for (size_t characters = 0; at < size && at < kLicensePieceMax; ++at) {
    if ((text[at] & 0xC0) == 0x80) continue;
    if (characters++ == width || at + 4 > kLicensePieceMax) break;
  }
  return at;
}

/// Shows one line of the licence text, wrapped at the last blank that fits the width.
void show_wrapped(const uint8_t* text, size_t size) {
  if (size == 0) return show_license_line(text, 0);
  while (size > 0) {
    size_t piece = bytes_for_width(text, size, installer.width);
    size_t skip = piece;
    if (piece < size) {
      size_t blank = piece;
      while (blank > 0 && text[blank] != ' ') --blank;
      if (blank > 0) piece = blank, skip = blank + 1;
    }
    show_license_line(text, piece);
    text += skip;
    size -= skip;
  }
}

/// Shows the licence, page by page on a terminal, all at once elsewhere.
void show_license(const uint8_t* text, size_t size, bool terminal) {
  const ConsoleScreenBufferInfo& info = console_state.buffer_info;
  const int rows = info.window.bottom - info.window.top + 1;
  const size_t columns = info.size.x > 1 ? size_t(info.size.x - 1) : kLicenseWidthMax;
  installer.width = terminal && columns < kLicenseWidthMax ? columns : kLicenseWidthMax;
  if (installer.width < kLicenseWidthMin) installer.width = kLicenseWidthMin;
  installer.page = terminal && rows > 2 ? size_t(rows - 1) : 0;
  installer.shown = 0;
  for (size_t at = 0; at < size;) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(text + at, '\n', size - at));
    const size_t next = end ? size_t(end - text) : size;
    size_t length = next - at;
    if (length > 0 && text[at + length - 1] == '\r') --length;
    show_wrapped(text + at, length);
    at = next + 1;
  }
}

/// Asks whether the licence is accepted: y or j for yes, n for no; no more input is no.
bool license_accepted() {
  console_print_line(dialogue_text(Text::license_question));
  for (;;) {
    const char key = next_key();
    if (key == 'y' || key == 'j') return true;
    if (key == 'n' || (key == 0 && console_input_ended())) return false;
  }
}

// ---- the temporary folder ---------------------------------------------------------------

/// Leaves the temporary folder (a folder in use cannot be removed everywhere) and removes
/// it with everything in it; false when something stayed.
bool remove_temp_folder() {
  if (!platform_set_current_directory(installer.start_folder)) {
    const char root[] = {kPathSeparator, 0};
    (void)platform_set_current_directory(root);
  }
  return platform_tree_remove(installer.temp_folder);
}

/// At the process's end, after an interrupt too: the temporary folder a run still has.
void remove_temp_folder_at_exit() {
  if (installer.temp_folder[0] != 0) (void)remove_temp_folder();
}

/// Makes the temporary folder the files go to, registered for removal at the end.
bool make_temp_folder(ProgramOptions* options) {
  if (!platform_temp_folder_make(installer.temp_folder, kMaxPathSize, true)) {
    installer.temp_folder[0] = 0;
    report_failure(Text::temp_failed, nullptr);
    return false;
  }
  if (!installer.cleanup_registered)
    installer.cleanup_registered = platform_at_exit(remove_temp_folder_at_exit);
  options->output = installer.temp_folder;
  return true;
}

/// After the run: the temporary folder is kept (and where it is said) or removed.
void finish_temp_folder(bool keep) {
  if (installer.temp_folder[0] == 0) return;
  if (keep) {
    report_line_start(dialogue_text(Text::kept));
    report_line_append(": ");
    report_line_append(installer.temp_folder);
    console_print_line(report_line());
  } else if (!remove_temp_folder()) {
    report_failure(Text::not_removed, installer.temp_folder);
  }
  installer.temp_folder[0] = 0;
}

// ---- the command ------------------------------------------------------------------------

/// The flags of the file entry `name` of `source`; false when no file has that name.
bool find_file(const ArchiveSource& source, const char* name, uint8_t* flags) {
  const size_t size = std::strlen(name);
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    if (item.name_size != size || std::memcmp(item.name, name, size) != 0) continue;
    *flags = item.flags;
    return (item.flags & kNamedEntryDirectory) == 0;
  }
  return false;
}

/// The program's path in the output folder, in the system's spelling.
bool program_path(const char* name) {
  char* path = installer.program;
  const size_t folder = std::strlen(installer.folder);
  const size_t length = std::strlen(name);
  if (folder + 1 + length >= kMaxPathSize) return false;
  std::memcpy(path, installer.folder, folder);
  path[folder] = kPathSeparator;
  for (size_t i = 0; i <= length; ++i)
    path[folder + 1 + i] = name[i] == '/' ? kPathSeparator : name[i];
  return true;
}

/// The command's arguments: its own words after the program, then the passed ones; a
/// script without an executable bit goes to the shell, its path first.
int take_arguments(const ProgramOptions& options, bool through_shell) {
  int count = 0;
  if (through_shell) installer.arguments[count++] = installer.program;
  for (size_t i = 1; i < installer.words.count; ++i)
    installer.arguments[count++] = installer.words.words[i];
  const int passed = options.passed_count < kMaxPassed ? options.passed_count : kMaxPassed;
  for (int i = 0; i < passed; ++i) installer.arguments[count++] = options.passed[i];
  return count;
}

/// The run's exit code from how the command ended, after saying why it did not run.
int exit_code_of(const PlatformRunResult& result) {
  if (result.outcome == PlatformRunOutcome::kExited) return int(result.exit_code);
  if (result.outcome == PlatformRunOutcome::kSignalled) {
    report_line_start_failure(Text::command_signal);
    report_line_append(" ");
    report_line_append_number(uint64_t(result.signal));
    console_print_line(report_line());
    return kSignalExitBase + result.signal;
  }
  const size_t reason = size_t(result.outcome) - size_t(PlatformRunOutcome::kNotFound);
  report_line_start_failure(Text::command_failed);
  report_line_append(kReasonSeparator);
  report_line_append(dialogue_text_at(Text::run_not_found, reason));
  report_line_append(": '");
  report_line_append(installer.words.words[0]);
  report_line_append("'");
  console_print_line(report_line());
  return kExitFailure;
}

/// Runs the command of `settings` in the current folder and waits for it.
int run_command(const ArchiveSource& source, const NamedInstallerSettings& settings,
                const ProgramOptions& options) {
  uint8_t flags = 0;
  const bool split = run_command_split(reinterpret_cast<const char*>(settings.run),
                                       settings.run_size, &installer.words) == RunCommandStatus::ok;
  const char* name = split ? installer.words.words[0] : "";
  if (!split || !find_file(source, name, &flags)) {
    report_failure(Text::command_missing, name);
    return kExitFailure;
  }
  if (!platform_current_directory(installer.folder, kMaxPathSize) || !program_path(name)) {
    report_failure(Text::command_failed, name);
    return kExitFailure;
  }
  const bool through_shell = kPathSeparator == '/' && (flags & kNamedEntryExecutable) == 0;
  const int count = take_arguments(options, through_shell);
  const PlatformRunEnvironment added = {{{kSelfVariable, installer.own_file},
                                         {kFolderVariable, installer.folder},
                                         {kStartVariable, installer.start_folder}},
                                        3};
  PlatformRunResult result{};
  platform_console_lend(true);
  (void)platform_run(through_shell ? kShell : installer.program, installer.arguments, count,
                     installer.folder, &added, &result);
  platform_console_lend(false);
  return exit_code_of(result);
}

}  // namespace

void installer_start(const char* own_file) {
  installer.own_file = own_file;
  if (!platform_current_directory(installer.start_folder, kMaxPathSize))
    installer.start_folder[0] = 0;
}

bool front_end_option(OptionParser& parser, const char* argument) {
  ProgramOptions& options = parser.options;
  if (equal(argument, "--info")) {
    options_set_mode(parser, ProgramMode::info, argument);
  } else if (equal(argument, "--no-run")) {
    options.run = false;
  } else if (equal(argument, "--keep")) {
    options.keep = true;
  } else if (equal(argument, "--accept")) {
    options.accept = true;
  } else if (equal(argument, "--")) {
    options.passed = parser.arguments + parser.next;
    options.passed_count = parser.count - parser.next;
    parser.next = parser.count;
  } else {
    return false;
  }
  return true;
}

void front_end_usage(const RunSettings& settings, void (*print)(const char*)) {
  print(dialogue_text(Text::usage_no_space_check));
  if (!settings.installer) return;
  for (size_t text = size_t(Text::usage_info); text <= size_t(Text::usage_passed); ++text)
    print(dialogue_text(static_cast<Text>(text)));
}

void front_end_info(const ArchiveSource& source, const RunSettings& settings) {
  const NamedInstallerSettings installer_settings = settings_of(source);
  if (settings.title[0] != 0) {
    report_line_start(dialogue_text(Text::info_title));
    report_line_append(settings.title);
    console_print_line(report_line());
  }
  uint32_t files = 0;
  uint64_t bytes = 0;
  front_end_count(source, &files, &bytes);
  report_line_start(dialogue_text(Text::info_files));
  report_line_append_number(files);
  report_line_append(", ");
  report_line_append_size(bytes);
  report_line_append(" (");
  report_line_append_size(source.entries_size + source.table_size);
  report_line_append(" ");
  report_line_append(dialogue_text(Text::info_packed));
  report_line_append(")");
  console_print_line(report_line());
  const char* none = dialogue_text(Text::none);
  if (installer_settings.run)
    print_shown(Text::info_command, installer_settings.run, installer_settings.run_size);
  else
    print_shown(Text::info_command, reinterpret_cast<const uint8_t*>(none), std::strlen(none));
  print_answer(Text::info_temp, installer_settings.run && installer_settings.temp);
  print_answer(Text::info_license, installer_settings.license != nullptr);
}

bool front_end_install_begin(const ArchiveSource& source, ProgramOptions* options, bool terminal) {
  const NamedInstallerSettings settings = settings_of(source);
  if (settings.license && !options->accept) {
    show_license(settings.license, settings.license_size, terminal);
    if (!license_accepted()) {
      console_print_line(dialogue_text(Text::license_declined));
      return false;
    }
  }
  if (settings.run && settings.temp && !options->output) return make_temp_folder(options);
  return true;
}

int front_end_install_end(const ArchiveSource& source, bool sound, const ProgramOptions& options) {
  const NamedInstallerSettings settings = settings_of(source);
  const bool runs = sound && settings.run && options.run;
  const int exit_code = runs ? run_command(source, settings, options) : -1;
  // Files extracted and not run are the user's to take: the folder stays, and says where.
  finish_temp_folder(options.keep || (sound && !runs));
  return exit_code;
}
