// The dialogue of a run with arguments and of the self-extractor on their console, in the
// dialogue's language (app/dialogue.h): each entry's announcement, the overwrite question,
// a failure with its reason and the entry's name, the list and the test's lines. The
// extraction core speaks through it (app/extract_core.h).
#pragma once

#include "app/dialogue.h"
#include "app/extract_core.h"

/// What follows the failure word, and the reason, before what comes next.
inline constexpr char kReasonSeparator[] = ": ";

/// The report that prints on the console.
extern const ExtractReport console_report;

/// With `quiet`, only failures (and questions) are printed from now on.
void console_report_set_quiet(bool quiet);

/// Whether only failures are printed.
bool console_report_quiet();

/// Prints `line` unless the run is quiet.
void console_report_line(const char* line);

/// Writes the name (`size` bytes of UTF-8 at `name`) as the console shows it into `out` of
/// `capacity` bytes, zero-terminated.
void console_report_name(const uint8_t* name, size_t size, char* out, size_t capacity);

/// The line builder of the report, for the run's own lines: starts a line with `text`.
void report_line_start(const char* text);

/// Starts a line of the line builder with a failure and its reason: "FAILURE: REASON".
void report_line_start_failure(Text reason);

/// Appends `text` to the line, cut where the line ends.
void report_line_append(const char* text);

/// Appends `value` in decimal, right-aligned in `width` characters.
void report_line_append_number(uint64_t value, size_t width = 0);

/// `value` divided by `divisor` (not 0), without a 64-bit division routine.
uint64_t report_divide(uint64_t value, uint64_t divisor);

/// Appends `bytes` as people read it: "512 bytes", "10.3 MB" (decimal units).
void report_line_append_size(uint64_t bytes);

/// The line built so far.
const char* report_line();
