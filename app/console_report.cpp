#include "app/console_report.h"

#include <cstring>

#include "app/display_name.h"
#include "app/extraction.h"
#include "console/console.h"

namespace {

/// Room for a name with its terminating zero, and for a line around two of them.
constexpr size_t kNameTextSize = kEntryNameMaxSize + 1;
constexpr size_t kLineSize = 2 * kNameTextSize + 64;
/// Width of the list's number columns.
constexpr size_t kNumberWidth = 12;
constexpr size_t kMaxDecimalDigits = 20;

/// Why an entry failed, by ExtractProblem.
constexpr const char* kReasons[] = {
    "unsicherer Name",     "Name doppelt",        "Name doppelt (Gross-/Kleinschreibung)",
    "unter einer Datei",   "Archiv beschaedigt",  "nicht lesbar",
    "kein Speicher",       "Eintrag beschaedigt", "Ordner nicht anlegbar",
    "keine normale Datei", "nicht geschrieben",   "Ordnerzeit nicht gesetzt",
};

/// The line being built, kept out of the stack.
struct ReportState {
  char shown[kNameTextSize];  ///< a name as the console shows it
  char line[kLineSize];
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
  display_name(name, size, report_state.shown, sizeof report_state.shown);
  line_append("'");
  line_append(report_state.shown);
  line_append("'");
}

void announce(const ArchiveItem& item) {
  display_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_start(kAnnouncementStart);
  line_append(report_state.shown);
  line_append("'");
  console_print_line(report_state.line);
}

OverwriteDecision ask(const ArchiveItem& /*item*/) {
  return ask_overwrite();
}

/// "FEHLER Entpacken: REASON", and for a name refused before anything is written the
/// name (and the other entry's where two are concerned); an entry that failed while it
/// was extracted was named by its announcement just before.
void fail(const ExtractFailure& failure) {
  line_start(kExtractionFailed);
  line_append(kReasonSeparator);
  line_append(kReasons[static_cast<int>(failure.problem)]);
  if (failure.item && failure.problem <= ExtractProblem::below_file) {
    line_append(kReasonSeparator);
    line_append_name(failure.item->name, failure.item->name_size);
    if (failure.other_name) {
      line_append(" / ");
      line_append_name(failure.other_name, failure.other_name_size);
    }
  }
  console_print_line(report_state.line);
}

void listed(const ArchiveItem& item) {
  display_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
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
  console_print_line(report_state.line);
}

void tested(const ArchiveItem& item, bool sound, ExtractProblem /*problem*/) {
  display_name(item.name, item.name_size, report_state.shown, sizeof report_state.shown);
  line_start(sound ? kTestOk : kTestFailed);
  line_append(report_state.shown);
  console_print_line(report_state.line);
}

void totals(uint64_t unpacked, uint64_t stored, uint32_t count) {
  line_start("");
  line_append_number(unpacked, kNumberWidth);
  line_append_number(stored, kNumberWidth + 1);
  line_append("  ");
  line_append_number(count, 0);
  line_append(" ");
  line_append(kListTotal);
  console_print_line(report_state.line);
}

}  // namespace

const ExtractReport console_report = {announce, ask, fail, listed, tested, totals};
