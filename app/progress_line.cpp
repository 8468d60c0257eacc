#include "app/progress_line.h"

#include <cstring>

#include "app/console_report.h"
#include "app/dialogue.h"
#include "console/console.h"
#include "platform/process.h"

namespace {

constexpr char kEraseToEnd[] = "\x1B[K";
/// Room for the line: the widest terminal it is cut to.
constexpr size_t kProgressLineSize = 1024;
constexpr size_t kPercentWidth = 3;

/// The progress line's state.
struct ProgressState {
  bool active;  ///< the run shows a progress line
  bool lines;   ///< the console writes lines (the line is redrawn after a carriage return)
  bool shown;   ///< the line is on the screen now
  uint64_t total;
  uint64_t done;
  uint64_t drawn_at;  ///< clock of the last drawing
  char name[kProgressLineSize];
  char line[kProgressLineSize];
};

ProgressState progress_state;

/// The width the line keeps to: the console's columns less one, within its room.
size_t progress_width() {
  const int16_t columns = console_state.buffer_info.size.x;
  const size_t width = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  return width < kProgressLineSize - 1 ? width : kProgressLineSize - 1;
}

/// Puts progress_state.line on the screen.
void put_line() {
  if (progress_state.lines) {
    console_print("\r");
    console_print(progress_state.line);
    console_print(kEraseToEnd);
    return;
  }
  // Painted: blanks to the width cover what a longer line before left.
  char* painted = progress_state.line;
  size_t length = std::strlen(painted);
  const size_t width = progress_width();
  while (length < width) painted[length++] = ' ';
  console_write_at_cursor(painted, static_cast<uint32_t>(length));
}

/// Cuts `text` after `width` characters (a UTF-8 sequence counted as one).
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

void draw() {
  const uint64_t now = platform_clock_ms();
  if (progress_state.shown && now - progress_state.drawn_at < kProgressIntervalMs) return;
  progress_state.drawn_at = now;
  const uint64_t total = progress_state.total;
  const uint64_t done = progress_state.done < total ? progress_state.done : total;
  report_line_start("");
  report_line_append_number(report_divide(done * 100, total), kPercentWidth);
  report_line_append("% ");
  report_line_append_size(done);
  report_line_append(" ");
  report_line_append(dialogue_text(Text::progress_of));
  report_line_append(" ");
  report_line_append_size(total);
  report_line_append("  ");
  report_line_append(progress_state.name);
  const char* built = report_line();
  const size_t length = std::strlen(built);
  if (length >= kProgressLineSize) return;
  std::memcpy(progress_state.line, built, length + 1);
  cut_to_width(progress_state.line, progress_width());
  put_line();
  progress_state.shown = true;
}

}  // namespace

void progress_line_start(uint64_t total, bool terminal, bool quiet) {
  progress_state = ProgressState{};
  progress_state.active = terminal && !quiet && total >= kProgressMinBytes;
  progress_state.lines = console_state.stream_output != 0;
  progress_state.total = total;
}

bool progress_line_active() {
  return progress_state.active;
}

void progress_line_name(const char* name) {
  const size_t length = std::strlen(name);
  if (length >= sizeof progress_state.name) return;
  std::memcpy(progress_state.name, name, length + 1);
}

void progress_line_to(uint64_t bytes) {
  if (!progress_state.active) return;
  progress_state.done = bytes;
  draw();
}

void progress_line_clear() {
  if (!progress_state.shown) return;
  progress_state.shown = false;
  progress_state.line[0] = 0;
  if (progress_state.lines) {
    console_print("\r");
    console_print(kEraseToEnd);
  } else {
    put_line();
  }
}

void progress_line_end() {
  progress_line_clear();
  progress_state.active = false;
}
