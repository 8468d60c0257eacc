#include "console/keyboard.h"

#include "console/console.h"
#include "runtime/workspace.h"

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kBackspace = 8;
constexpr uint8_t kFirstPrintable = 32;
constexpr char kEraseBlank[] = " ";
constexpr size_t kKeyStringSize = 3;  // character, scan code, zero

void show_cursor() {
  platform_console_set_cursor_position(console_state.output_handle,
                                       console_state.buffer_info.cursor_position);
}

/// Writes the empty string at the cursor, which stays.
char* empty_result(char* at) {
  if (string_room(at) > 0) *at = 0;
  return at;
}

}  // namespace

uint32_t console_read_key_event() {
  platform_console_read_input(console_state.input_handle, &console_state.key_record, 1,
                              &console_state.events_count);
  const ConsoleInputRecord& record = console_state.key_record;
  if (console_state.events_count == 0 || record.event_type != kKeyEvent ||
      (record.key_down & 0xFF) != 1)
    return 0;
  return static_cast<uint8_t>(record.ascii_char) + 256u * (record.virtual_scan_code & 0xFF);
}

char* console_poll_key() {
  char* start = runtime_memory.string_cursor;
  console_state.events_count = 0;
  platform_console_input_count(console_state.input_handle, &console_state.events_count);
  if (console_state.events_count == 0) return empty_result(start);
  const uint32_t key = console_read_key_event();
  if (key == 0 || string_room(start) < kKeyStringSize) return empty_result(start);
  const uint8_t character = static_cast<uint8_t>(key & 0xFF);
  start[0] = static_cast<char>(character == 0 ? kNoCharacter : character);
  start[1] = static_cast<char>(key >> 8);
  start[2] = 0;
  runtime_memory.string_cursor = start + 2;
  return start;
}

char* console_input_line() {
  char* start = runtime_memory.string_cursor;
  if (string_room(start) == 0) return start;
  char* const last = string_limit(start);  // kept for the line's zero
  char* pos = start;
  auto& cursor = console_state.buffer_info.cursor_position;
  for (;;) {
    const uint8_t ch = static_cast<uint8_t>(console_read_key_event() & 0xFF);
    if (ch == 0 && console_input_ended()) break;
    if (ch == kEnter) break;
    if (ch == kBackspace) {
      if (pos == start) continue;
      --pos;
      --cursor.x;
      console_write_at_cursor(kEraseBlank, 1);
      show_cursor();
    } else if (ch >= kFirstPrintable) {
      if (cursor.x >= console_state.buffer_info.size.x || pos == last) continue;
      *pos++ = static_cast<char>(ch);
      console_write_at_cursor(reinterpret_cast<const char*>(&ch), 1);
      ++cursor.x;
      show_cursor();
    }
  }
  *pos = 0;
  runtime_memory.string_cursor = pos;
  return start;
}

bool console_input_ended() {
  return platform_console_input_ended(console_state.input_handle);
}
