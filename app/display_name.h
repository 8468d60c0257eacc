// Entry names on the console. Names are UTF-8; the console paints 8-bit characters of
// Windows-1252. A name is shown with each of its characters that Windows-1252 has as that
// byte and every other one (a CJK letter, a control character, a byte that is not valid
// UTF-8) as kDisplayPlaceholder. A console that writes UTF-8 lines gets every valid
// character but the controls as it is.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr char kDisplayPlaceholder = '?';

/// Writes the Windows-1252 form of the UTF-8 name (`size` bytes at `name`) into `out`
/// (`capacity` bytes, at least 1) with a terminating zero, cut to what fits.
void display_name(const uint8_t* name, size_t size, char* out, size_t capacity);

/// Writes the name as display_name does, for a console that takes UTF-8: every valid
/// character but the controls and the marks that turn the text's direction as it is, cut to
/// what fits at a character's end.
void display_name_utf8(const uint8_t* name, size_t size, char* out, size_t capacity);
