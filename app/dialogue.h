// The words of a run with arguments and of every self-extractor, in the dialogue's language.
// The built-in program's run without arguments speaks German with texts of its own
// (app/extraction.h, app/overwrite.h) and never comes here.
//
// Each program links one set (as it links one decoder set, see entry_decoder.h): the
// built-in program the German set alone (dialogue_program.cpp), which keeps its own bytes
// small; the self-extractor stub both languages (dialogue_stub.cpp), English unless its
// archive's settings ask for German.
#pragma once

#include <cstddef>
#include <cstdint>

/// The languages of the dialogue.
enum class Language : uint8_t { english, german };

/// Every text of the dialogue. The reasons follow ExtractProblem's order, the name rules
/// EntryNameProblem's, the usage lines their printed order.
enum class Text : uint8_t {
  failed,              ///< before a failure's reason
  run_failed,          ///< the last line of a run that failed
  done,                ///< the last line of a sound extraction
  test_done,           ///< the last line of a sound test
  closing_prompt,      ///< before the wait for a key
  no_archive,          ///< nothing is appended and nothing is built in
  archive_damaged,     ///< the archive's digest or structure fails
  overwrite_question,  ///< asked before a file with content is replaced
  list_header,         ///< over the list's columns
  list_total,          ///< after the number of entries under the list
  test_ok,             ///< before a sound entry's name
  test_failed,         ///< before a damaged entry's name
  announce,            ///< before the name of the entry being extracted
  output_folder,       ///< the output folder cannot be made or entered
  unknown_option,
  missing_value,
  given_twice,
  conflict,
  usage,  ///< "Usage:" before the file's name
  usage_options,
  usage_yes,
  usage_no_overwrite,
  usage_output,
  usage_list,
  usage_test,
  usage_quiet,
  usage_no_wait,
  usage_help,
  usage_version,
  usage_last = usage_version,
  reason_unsafe_name,
  reason_name_twice,
  reason_case_twin,
  reason_below_file,
  reason_archive_walk,
  reason_unreadable,
  reason_no_memory,
  reason_damaged,
  reason_folder_blocked,
  reason_target_blocked,
  reason_write_failed,
  reason_folder_time,
  reason_no_space,
  reason_permission,
  /// The self-extractor's own texts: the built-in program's set has none of them.
  stub_first,
  cut_short = stub_first,  ///< bytes follow the program, but no whole archive
  file,                    ///< after the number 1 in the run's first line
  files,                   ///< after any other number of files in the run's first line
  into,                    ///< before the output folder in the run's first line
  extracting,              ///< the run's first line without a title
  no_space,                ///< the free-space check refuses
  needed,                  ///< after the bytes the run writes
  available,               ///< after the bytes free
  no_space_hint,           ///< how to skip the check
  progress_of,             ///< between the bytes done and all bytes
  bytes,                   ///< the unit of a size below a kilobyte
  decimal_point,           ///< between a size's whole and tenth
  made_with,               ///< the version line of a self-extractor
  rule_empty,
  rule_too_long,
  rule_invalid_utf8,
  rule_absolute,
  rule_empty_part,
  rule_part_too_long,
  rule_dot_part,
  rule_control_character,
  rule_forbidden_character,
  rule_trailing_dot_or_space,
  rule_device_name,
  usage_no_space_check,  ///< the usage lines of the self-extractor's own options
  usage_info,
  usage_no_run,
  usage_keep,
  usage_accept,
  usage_passed,
  info_title,        ///< --info: before the title
  info_files,        ///< --info: before the number of files
  info_packed,       ///< --info: after the archive's own size
  info_command,      ///< --info: before the command
  info_temp,         ///< --info: before whether a temporary folder is used
  info_license,      ///< --info: before whether a licence is shown
  yes,               ///< --info's answer
  no,                ///< --info's answer
  none,              ///< --info: no command
  license_more,      ///< under a page of the licence, until a key is pressed
  license_question,  ///< after the licence
  license_declined,  ///< the licence was not accepted
  temp_failed,       ///< no temporary folder could be made
  kept,              ///< before the folder a run leaves behind
  not_removed,       ///< the temporary folder could not be removed whole
  command_missing,   ///< the command's program is not a file of the archive
  command_failed,    ///< the command could not be run, before its reason
  run_not_found,     ///< reasons by PlatformRunOutcome: the program or its interpreter
  run_not_executable,
  run_folder,
  run_refused,
  run_other,
  command_signal,  ///< the command was ended by a signal
  count,
};

/// The German text of `text`, which comes before Text::stub_first.
const char* german_text(Text text);

/// The text in the dialogue's language.
const char* dialogue_text(Text text);

/// The text `offset` places after `first` (a reason or a name rule by its enum's value).
inline const char* dialogue_text_at(Text first, size_t offset) {
  return dialogue_text(static_cast<Text>(static_cast<size_t>(first) + offset));
}

/// Speaks `language` from now on (the built-in program's set stays German).
void dialogue_set_language(Language language);

/// The language spoken now.
Language dialogue_language();

/// Takes the language an archive's setting names (`size` bytes at `code`): German for
/// "de", English for anything else.
Language dialogue_language_of(const uint8_t* code, size_t size);

/// Whether names and titles reach the console as UTF-8 (the self-extractor on Linux, whose
/// console writes lines, for terminals and pipes alike); otherwise as Windows-1252.
bool dialogue_utf8_names();

/// Writes the UTF-8 name (`size` bytes at `name`) as the console shows it into `out` of
/// `capacity` bytes, zero-terminated (see display_name.h).
void dialogue_show_name(const uint8_t* name, size_t size, char* out, size_t capacity);
