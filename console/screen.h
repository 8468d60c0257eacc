// Screen control: clearing the buffer, placing and shaping the cursor, choosing colours.
#pragma once

#include <cstdint>

/// Number of console colours (4 bits: blue, green, red, intensity).
inline constexpr uint32_t kConsoleColours = 16;
/// Largest cursor size step; the height is size x 10 percent.
inline constexpr uint32_t kMaxCursorSize = 10;

/// Paints every cell of the buffer blank in the current colours; cursor to (0, 0).
void console_clear();

/// Places the cursor at (column, row) when both lie inside the largest window; 0 when out
/// of bounds (nothing changes), else the platform's success value.
int console_locate(uint16_t column, uint16_t row);

/// Chooses the colours of everything painted from now on. 1 when set, 0 when either
/// colour is 16 or more.
int console_set_color(uint32_t foreground, uint32_t background);

/// Size 0 hides the cursor; 1 to 10 shows it at size x 10 percent; above 10 gives 0.
int console_set_cursor_shape(uint32_t size);
