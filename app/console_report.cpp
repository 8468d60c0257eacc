#include "app/console_report.h"

#include <cstring>

#include "app/dialogue.h"
#include "app/display_name.h"
#include "app/progress_line.h"
#include "console/console.h"

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

/// Prints `text` as a line of its own, after the progress line is cleared away.
void print_line(const char* text) {
  progress_line_clear();
  console_print_line(text);
}

/// The announcement of `item`: "extracting 'NAME'".
void announcement(const ArchiveItem& item) {
  line_start(dialogue_text(Text::announce));
  console_report_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_append(report_state.shown);
  line_append("'");
}

void announce(const ArchiveItem& item) {
  if (progress_line_active()) {
    console_report_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
    progress_line_name(report_state.shown);
    return;
  }
  announcement(item);
  console_report_line(report_state.line);
}

/// The question, after the entry's announcement when a quiet run or the progress line has
/// not printed it.
OverwriteDecision ask(const ArchiveItem& item) {
  if (report_state.quiet || progress_line_active()) {
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
  const char* rule =
      failure.name_problem == EntryNameProblem::ok
          ? ""
          : dialogue_text_at(Text::rule_empty, static_cast<size_t>(failure.name_problem) - 1);
  if (failure.problem == ExtractProblem::unsafe_name && *rule) {
    line_append(" (");
    line_append(rule);
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

const ExtractReport console_report = {announce,        ask, fail, listed, tested, totals,
                                      progress_line_to};

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
  dialogue_show_name(name, size, out, capacity);
}

void report_line_start(const char* text) {
  line_start(text);
}

void report_line_start_failure(Text reason) {
  line_start(dialogue_text(Text::failed));
  line_append(kReasonSeparator);
  line_append(dialogue_text(reason));
}

void report_line_append(const char* text) {
  line_append(text);
}

void report_line_append_number(uint64_t value, size_t width) {
  line_append_number(value, width);
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

// By shifts and subtractions: a 32-bit program then needs no 64-bit division routine.
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
