#include "console/console.h"

#include <cstring>

ConsoleState console_state;

namespace {

/// Tells the console where the tracked cursor stands.
void show_cursor() {
  platform_console_set_cursor_position(console_state.output_handle,
                                       console_state.buffer_info.cursor_position);
}

/// Number of window cells after the cursor cell up to the window's bottom-right cell. The
/// differences wrap as 16-bit values, so a cursor outside the window never scrolls.
uint32_t room_after_cursor(uint16_t x, uint16_t y) {
  const auto& info = console_state.buffer_info;
  const uint16_t right = static_cast<uint16_t>(info.window.right);
  const uint16_t bottom = static_cast<uint16_t>(info.window.bottom);
  const uint32_t width = static_cast<uint32_t>(right) + 1;
  return static_cast<uint16_t>(bottom - y) * width + static_cast<uint16_t>(right - x);
}

/// Prints to an output that is not a screen buffer.
void stream_print(const char* text, uint32_t length) {
  platform_stream_write(console_state.output_handle, text, length);
}

}  // namespace

int console_open() {
  if (kConsoleProgram == 1) console_state.existing_console = 1;
  if (console_state.is_open) return 0;
  if (console_state.existing_console != 1 && !platform_console_alloc()) return 0;
  console_state.input_handle = platform_std_handle(kStdInputHandle);
  console_state.output_handle = platform_std_handle(kStdOutputHandle);
  console_state.stream_output =
      platform_console_buffer_info(console_state.output_handle, &console_state.buffer_info) ? 0 : 1;
  console_state.attribute = console_state.buffer_info.attributes;
  console_state.is_open = 1;
  return 1;
}

void console_close() {
  if (console_state.is_open && console_state.existing_console != 1) platform_console_free();
  console_state.is_open = 0;
  console_state.output_handle = nullptr;
}

int console_set_title(const char* title) {
  return platform_console_set_title(title) ? 1 : 0;
}

void console_write_at_cursor(const char* characters, uint32_t length) {
  if (console_state.stream_output) return stream_print(characters, length);
  const ConsoleCoord at = console_state.buffer_info.cursor_position;
  platform_console_fill_attribute(console_state.output_handle,
                                  static_cast<uint16_t>(console_state.attribute), length, at,
                                  &console_state.written_count);
  platform_console_write_characters(console_state.output_handle, characters, length, at,
                                    &console_state.written_count);
}

void console_print(const char* text) {
  if (!text) return;
  uint32_t length = static_cast<uint32_t>(std::strlen(text));
  if (length == 0) return;
  if (length > kMaxPrintLength) length = kMaxPrintLength;
  if (console_state.stream_output) return stream_print(text, length);

  auto& info = console_state.buffer_info;
  const uint32_t buffer_width = static_cast<uint16_t>(info.size.x);
  if (buffer_width == 0) return;
  uint16_t x = static_cast<uint16_t>(info.cursor_position.x);
  uint16_t y = static_cast<uint16_t>(info.cursor_position.y);
  const uint16_t right = static_cast<uint16_t>(info.window.right);

  // Scroll until the text and the cell after it fit in the window. When the text needs
  // more rows than the window has, its beginning is what scrolls out of the buffer: the
  // cursor never goes above row 0, the characters that would land there are dropped.
  if (static_cast<uint16_t>(right - x) < length) {
    while (room_after_cursor(x, y) < length) {
      console_scroll_up();
      if (y > 0) {
        --y;
        continue;
      }
      const uint32_t lost = buffer_width - x < length ? buffer_width - x : length;
      text += lost;
      length -= lost;
      x = 0;
    }
  }
  info.cursor_position = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
  if (length > 0) console_write_at_cursor(text, length);

  const uint32_t position = y * buffer_width + x + length;
  info.cursor_position.x = static_cast<int16_t>(position % buffer_width);
  info.cursor_position.y = static_cast<int16_t>(position / buffer_width);
  show_cursor();
}

void console_newline() {
  if (console_state.stream_output) {
    const char* line_break = platform_stream_line_break();
    return stream_print(line_break, static_cast<uint32_t>(std::strlen(line_break)));
  }
  auto& cursor = console_state.buffer_info.cursor_position;
  cursor.x = 0;
  if (static_cast<uint16_t>(cursor.y) <
      static_cast<uint16_t>(console_state.buffer_info.window.bottom))
    ++cursor.y;
  else
    console_scroll_up();
  show_cursor();
}

void console_print_line(const char* text) {
  console_print(text);
  console_newline();
}

void console_scroll_up() {
  const auto& size = console_state.buffer_info.size;
  console_state.scroll_rect = {0, 1, size.x, size.y};
  console_state.fill_cell = {' ', static_cast<uint16_t>(console_state.attribute)};
  platform_console_scroll(console_state.output_handle, &console_state.scroll_rect, nullptr,
                          ConsoleCoord{0, 0}, &console_state.fill_cell);
}
