#include "console/screen.h"

#include "console/console.h"

void console_clear() {
  const auto& size = console_state.buffer_info.size;
  const uint32_t cells =
      static_cast<uint32_t>(static_cast<uint16_t>(size.x)) * static_cast<uint16_t>(size.y);
  const ConsoleCoord origin{0, 0};
  platform_console_fill_attribute(console_state.output_handle,
                                  static_cast<uint16_t>(console_state.attribute), cells, origin,
                                  &console_state.events_count);
  platform_console_fill_character(console_state.output_handle, ' ', cells, origin,
                                  &console_state.events_count);
  console_state.buffer_info.cursor_position = origin;
  platform_console_set_cursor_position(console_state.output_handle, origin);
}

int console_locate(uint16_t column, uint16_t row) {
  const auto& maximum = console_state.buffer_info.maximum_window_size;
  if (column >= static_cast<uint16_t>(maximum.x)) return 0;
  if (row >= static_cast<uint16_t>(maximum.y)) return 0;
  console_state.buffer_info.cursor_position = {static_cast<int16_t>(column),
                                               static_cast<int16_t>(row)};
  return platform_console_set_cursor_position(console_state.output_handle,
                                              console_state.buffer_info.cursor_position)
             ? 1
             : 0;
}

int console_set_color(uint32_t foreground, uint32_t background) {
  if (foreground >= kConsoleColours) return 0;
  if (background >= kConsoleColours) return 0;
  console_state.attribute = foreground + kConsoleColours * background;
  return 1;
}

int console_set_cursor_shape(uint32_t size) {
  if (size > kMaxCursorSize) return 0;
  console_state.cursor_info = size == 0 ? ConsoleCursorInfo{1, 0} : ConsoleCursorInfo{size * 10, 1};
  return platform_console_set_cursor_info(console_state.output_handle, &console_state.cursor_info)
             ? 1
             : 0;
}
