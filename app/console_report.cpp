#include "app/console_report.h"

#include <cstring>

#include "app/dialogue.h"
#include "app/display_name.h"
#include "console/console.h"
#include "platform/process.h"

namespace {

/// Room for a name with its terminating zero, and for a line around two of them.
constexpr size_t kNameTextSize = kEntryNameMaxSize + 1;
constexpr size_t kLineSize = 2 * kNameTextSize + 64;
/// Width of the list's number columns.
constexpr size_t kNumberWidth = 12;
constexpr size_t kMaxDecimalDigits = 20;

/// The line being built, kept out of the stack.
struct ReportState {
  char shown[kNameTextSize];  ///< a name as the console shows it
  char line[kLineSize];
  bool quiet;  ///< failures only
};

ReportState report_state;

/// `value` divided by `divisor` (not 0), by shifts and subtractions: a 32-bit program then
/// needs no 64-bit division routine.
uint64_t report_divide(uint64_t value, uint64_t divisor) {
  uint64_t quotient = 0;
  uint64_t remainder = 0;
  for (int bit = 63; bit >= 0; --bit) {
    remainder = (remainder << 1) | ((value >> bit) & 1);
    if (remainder >= divisor) {
      remainder -= divisor;
      quotient |= uint64_t{1} << bit;
    }
  }
  return quotient;
}

/// The stored size shown for an entry whose bytes share blocks with other entries.
constexpr char kSharedStoredSize[] = "-";

/// Appends `text` to the zero-terminated line, cut where the line ends.
void line_append(const char* text) {
  const size_t used = std::strlen(report_state.line);
  size_t length = std::strlen(text);
  if (length > kLineSize - 1 - used) length = kLineSize - 1 - used;
  std::memcpy(report_state.line + used, text, length);
  report_state.line[used + length] = 0;
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

/// Appends `text` right-aligned in `width` characters.
void line_append_padded(const char* text, size_t width) {
  for (size_t length = std::strlen(text); length < width; ++length) line_append(" ");
  line_append(text);
}

/// Starts a line with `text`.
void line_start(const char* text) {
  report_state.line[0] = 0;
  line_append(text);
}

/// Appends the name (`size` bytes at `name`) as the console shows it, in quotes.
void line_append_name(const uint8_t* name, size_t size) {
  console_report_name(name, size, report_state.shown, sizeof report_state.shown);
  line_append("'");
  line_append(report_state.shown);
  line_append("'");
}

// ---- The progress line ---------------------------------------------------------------------
//
// On a terminal, an extraction of at least kProgressMinBytes shows one line in place of the
// entries' announcements: "42% 10.3 MB of 24.5 MB  NAME", redrawn at most every
// kProgressIntervalMs. A console that writes lines gets it after a carriage return, ended by
// an erase to the line's end; a painted console gets it painted at the cursor, which stays
// where it is. Any other line clears it first, and it is drawn again at the next progress.

constexpr uint64_t kProgressIntervalMs = 100;
constexpr char kEraseToEnd[] = "\x1B[K";

/// The progress line's state.
struct ProgressState {
  bool active;  ///< the run shows a progress line
  bool lines;   ///< the console writes lines (the line is redrawn after a carriage return)
  bool shown;   ///< the line is on the screen now
  uint64_t total;
  uint64_t done;
  uint64_t drawn_at;  ///< clock of the last drawing
  char name[kNameTextSize];
  char line[kLineSize];
};

ProgressState progress_state;

/// The width the progress line keeps to: the console's columns less one.
size_t progress_width() {
  const int16_t columns = console_state.buffer_info.size.x;
  return columns > 1 ? static_cast<size_t>(columns - 1) : 0;
}

/// Puts `text` on the progress line, or blanks it for an empty `text`.
void progress_put(const char* text) {
  const size_t width = progress_width();
  if (progress_state.lines) {
    console_print("\r");
    if (*text) console_print(text);
    console_print(kEraseToEnd);
    return;
  }
  char* painted = progress_state.line;
  size_t length = std::strlen(text);
  if (painted != text) std::memcpy(painted, text, length + 1);
  while (length < width && length + 1 < kLineSize) painted[length++] = ' ';
  console_write_at_cursor(painted, static_cast<uint32_t>(length));
}

/// Removes the progress line from the screen.
void progress_clear() {
  if (!progress_state.shown) return;
  progress_state.shown = false;
  progress_put("");
}

/// Prints `text` as a line of its own, below nothing but what was there before.
void print_line(const char* text) {
  progress_clear();
  console_print_line(text);
}

/// Cuts `text` after `width` characters (UTF-8 sequences counted as one).
void cut_to_width(char* text, size_t width) {
  size_t characters = 0;
  for (size_t i = 0; text[i]; ++i) {
    if ((static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == width) {
      text[i] = 0;
      return;
    }
  }
}

void draw_progress() {
  const uint64_t now = platform_clock_ms();
  if (progress_state.shown && now - progress_state.drawn_at < kProgressIntervalMs) return;
  progress_state.drawn_at = now;
  const uint64_t done =
      progress_state.done < progress_state.total ? progress_state.done : progress_state.total;
  line_start("");
  line_append_number(report_divide(done * 100, progress_state.total), 3);
  line_append("% ");
  report_line_append_size(done);
  line_append(" ");
  line_append(dialogue_text(Text::progress_of));
  line_append(" ");
  report_line_append_size(progress_state.total);
  line_append("  ");
  line_append(progress_state.name);
  cut_to_width(report_state.line, progress_width());
  std::memcpy(progress_state.line, report_state.line, std::strlen(report_state.line) + 1);
  progress_put(progress_state.line);
  progress_state.shown = true;
}

void progress(uint64_t bytes) {
  if (!progress_state.active) return;
  progress_state.done = bytes;
  draw_progress();
}

/// The announcement of `item`: "extracting 'NAME'".
void announcement(const ArchiveItem& item) {
  line_start(dialogue_text(Text::announce));
  console_report_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_append(report_state.shown);
  line_append("'");
}

void announce(const ArchiveItem& item) {
  if (progress_state.active) {
    console_report_name(item.name, item.name_size, progress_state.name, sizeof progress_state.name);
    return;
  }
  announcement(item);
  console_report_line(report_state.line);
}

/// The question, after the entry's announcement when a quiet run or the progress line has
/// not printed it.
OverwriteDecision ask(const ArchiveItem& item) {
  if (report_state.quiet || progress_state.active) {
    announcement(item);
    print_line(report_state.line);
  }
  return ask_overwrite_with(dialogue_text(Text::overwrite_question), true);
}

/// "FAILURE: REASON: 'NAME'": a refused name with the rule it breaks (and the other
/// entry's name where two are concerned).
void fail(const ExtractFailure& failure) {
  line_start(dialogue_text(Text::failed));
  line_append(kReasonSeparator);
  line_append(dialogue_text_at(Text::reason_unsafe_name, static_cast<size_t>(failure.problem)));
  if (failure.problem == ExtractProblem::unsafe_name &&
      failure.name_problem != EntryNameProblem::ok) {
    line_append(" (");
    line_append(dialogue_text_at(Text::rule_empty, static_cast<size_t>(failure.name_problem) - 1));
    line_append(")");
  }
  if (failure.item) {
    line_append(kReasonSeparator);
    line_append_name(failure.item->name, failure.item->name_size);
    if (failure.other_name) {
      line_append(" / ");
      line_append_name(failure.other_name, failure.other_name_size);
    }
  }
  print_line(report_state.line);
}

void listed(const ArchiveItem& item) {
  console_report_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_start("");
  line_append_number(item.size, kNumberWidth);
  // An entry that shares its blocks with others has no stored size of its own.
  if (item.in_blocks)
    line_append_padded(kSharedStoredSize, kNumberWidth + 1);
  else
    line_append_number(item.header.stored_size, kNumberWidth + 1);
  line_append("  ");
  line_append(report_state.shown);
  if ((item.flags & kNamedEntryDirectory) != 0) line_append("/");
  print_line(report_state.line);
}

void tested(const ArchiveItem& item, bool sound, ExtractProblem /*problem*/) {
  console_report_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_start(dialogue_text(sound ? Text::test_ok : Text::test_failed));
  line_append(report_state.shown);
  if (sound)
    console_report_line(report_state.line);
  else
    print_line(report_state.line);
}

void totals(uint64_t unpacked, uint64_t stored, uint32_t count) {
  line_start("");
  line_append_number(unpacked, kNumberWidth);
  line_append_number(stored, kNumberWidth + 1);
  line_append("  ");
  line_append_number(count, 0);
  line_append(" ");
  line_append(dialogue_text(Text::list_total));
  print_line(report_state.line);
}

}  // namespace

const ExtractReport console_report = {announce, ask, fail, listed, tested, totals, progress};

void console_report_progress_start(uint64_t total, bool terminal) {
  progress_state = ProgressState{};
  progress_state.active = terminal && !report_state.quiet && total >= kProgressMinBytes;
  progress_state.lines = console_state.stream_output != 0;
  progress_state.total = total;
}

void console_report_progress_end() {
  progress_clear();
  progress_state.active = false;
}

void console_report_set_quiet(bool quiet) {
  report_state.quiet = quiet;
}

bool console_report_quiet() {
  return report_state.quiet;
}

void console_report_line(const char* line) {
  if (!report_state.quiet) print_line(line);
}

void console_report_name(const uint8_t* name, size_t size, char* out, size_t capacity) {
  display_name(name, size, out, capacity, dialogue_utf8_names());
}

void report_line_start(const char* text) {
  line_start(text);
}

void report_line_append(const char* text) {
  line_append(text);
}

void report_line_append_number(uint64_t value) {
  line_append_number(value, 0);
}

void report_line_append_size(uint64_t bytes) {
  // Decimal units, one decimal place (rounded) from kB on: "512 bytes", "10.3 MB" (in
  // German "512 Bytes", "10,3 MB").
  constexpr const char* kUnits[] = {" kB", " MB", " GB", " TB", " PB"};
  constexpr uint64_t kStep = 1000;
  if (bytes < kStep) {
    line_append_number(bytes, 0);
    line_append(" ");
    line_append(dialogue_text(Text::bytes));
    return;
  }
  uint64_t unit = kStep;
  size_t index = 0;
  while (index + 1 < sizeof kUnits / sizeof kUnits[0] && report_divide(bytes, unit) >= kStep) {
    unit *= kStep;
    ++index;
  }
  const uint64_t tenths = report_divide(bytes + report_divide(unit, 20), report_divide(unit, 10));
  const uint64_t whole = report_divide(tenths, 10);
  line_append_number(whole, 0);
  line_append(dialogue_text(Text::decimal_point));
  line_append_number(tenths - whole * 10, 0);
  line_append(kUnits[index]);
}

const char* report_line() {
  return report_state.line;
}
