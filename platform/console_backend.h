// What a console back end does behind the console services of platform/console.h.
// platform/console_common.cpp implements the services: a call on the memory console a test
// has installed is served by that console, every other call by the back end through the
// functions below. Each back end (platform/posix, platform/win32) defines all of them.
#pragma once

#include <cstdint>

#include "platform/console.h"
#include "platform/memory_console.h"

/// The memory console a test has installed, or null.
MemoryConsole* console_installed();

/// Gives the process a new console (no console installed). True on success.
bool console_backend_alloc();

/// Detaches the process from its console (no console installed).
bool console_backend_free();

/// The standard input or output handle, or null for another `which` (no console
/// installed).
ConsoleHandle console_backend_std_handle(int32_t which);

/// The buffer's geometry, cursor and colours of `output`, which is not the installed
/// console; false (info untouched) when it is not a screen buffer.
bool console_backend_buffer_info(ConsoleHandle output, ConsoleScreenBufferInfo* info);

/// Sets the console window's title (no console installed).
bool console_backend_set_title(const char* title);

/// Moves the cursor of `output`, which is not the installed console.
bool console_backend_set_cursor_position(ConsoleHandle output, ConsoleCoord position);

/// Sets the cursor's height and visibility on `output`, which is not the installed console.
bool console_backend_set_cursor_info(ConsoleHandle output, const ConsoleCursorInfo* info);

/// Paints `attribute` over cells of `output`, which is not the installed console; stores the
/// count painted (0 on failure).
bool console_backend_fill_attribute(ConsoleHandle output, uint16_t attribute, uint32_t length,
                                    ConsoleCoord at, uint32_t* written);

/// Writes `character` into cells of `output`, which is not the installed console; stores the
/// count written (0 on failure).
bool console_backend_fill_character(ConsoleHandle output, char character, uint32_t length,
                                    ConsoleCoord at, uint32_t* written);

/// Writes `characters` into cells of `output`, which is not the installed console; stores
/// the count written (0 on failure).
bool console_backend_write_characters(ConsoleHandle output, const char* characters, uint32_t length,
                                      ConsoleCoord at, uint32_t* written);

/// Scrolls the contents of `output`, which is not the installed console.
bool console_backend_scroll(ConsoleHandle output, const ConsoleSmallRect* rect,
                            const ConsoleSmallRect* clip, ConsoleCoord destination,
                            const ConsoleCharInfo* fill);

/// Called first by the services that count the input queue or ask whether input has
/// ended, before the installed console is looked at: brings the back end's own screen up
/// to date (after the program was stopped and continued, for one).
void console_backend_catch_up();

/// Stores the number of records waiting at `input`, which is not the installed console
/// (`*count` is already 0); sleeps a short while first when none is waiting.
bool console_backend_input_count(ConsoleHandle input, uint32_t* count);

/// Removes up to `length` (at least 1) records from `input`, which is not the installed
/// console, waiting until one is there (`*read` is already 0).
bool console_backend_read_input(ConsoleHandle input, ConsoleInputRecord* records, uint32_t length,
                                uint32_t* read);

/// True when `input`, which is not the installed console, is not a console and all of it
/// has been read.
bool console_backend_input_ended(ConsoleHandle input);

/// Writes bytes to `output`, which is neither null nor the installed console, when it is
/// not a console.
bool console_backend_stream_write(ConsoleHandle output, const char* bytes, uint32_t length);
