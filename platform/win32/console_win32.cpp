// Console services on Windows: the process's console through the system's console calls.
// A standard input that is not a console (a file or a pipe) gives one key press per byte
// and tells when it has ended; a standard output that is not a console takes plain bytes
// through WriteFile. A memory console installed by a test is served before any of it
// (platform/console_common.cpp). Characters are painted as Windows-1252, as on Linux,
// whatever code page the console itself uses: through the wide calls.
#include <windows.h>

#include <cstdlib>

#include "platform/console_backend.h"
#include "platform/redirected_input.h"
#include "platform/windows_1252.h"

namespace {

/// Records taken from the console's queue with one read at most.
constexpr uint32_t kInputChunk = 16;
/// How long a look at an empty console input queue sleeps for a record to arrive: short
/// enough that a key is handled at once, long enough that a waiting loop rests.
constexpr DWORD kInputWaitMs = 50;
/// Characters converted on the stack for one write; a longer write takes a heap block.
constexpr uint32_t kStackCharacters = 256;

struct Win32Console {
  RedirectedInput redirected;  // keys of a standard input that is not a console
};

Win32Console win32_console{{}};

COORD coord_of(ConsoleCoord c) {
  return COORD{c.x, c.y};
}

SMALL_RECT rect_of(const ConsoleSmallRect& r) {
  return SMALL_RECT{r.left, r.top, r.right, r.bottom};
}

/// The painted character `character` (Windows-1252) in UTF-16. The five bytes without a
/// character stay the C1 controls of their value, as the system's own conversion has them.
wchar_t painted_to_wide(char character) {
  const auto byte = static_cast<uint8_t>(character);
  const uint32_t mapped = windows_1252_to_unicode(byte);
  return static_cast<wchar_t>(mapped ? mapped : byte);
}

/// The `length` painted characters at `characters` in UTF-16 in `wide`.
void painted_to_wide(const char* characters, uint32_t length, wchar_t* wide) {
  for (uint32_t i = 0; i < length; ++i) wide[i] = painted_to_wide(characters[i]);
}

/// True when `input` is a console input buffer (its queue can be counted).
bool is_console_input(ConsoleHandle input) {
  DWORD count = 0;
  return input && GetNumberOfConsoleInputEvents(input, &count) != 0;
}

/// Reads the next byte of a redirected input into the lookahead. A file gives its next
/// byte at once; a pipe waits for its writer's next byte or its end.
void fill_lookahead(ConsoleHandle input) {
  if (!redirected_input_wants_byte(win32_console.redirected)) return;
  unsigned char byte = 0;
  DWORD read = 0;
  const bool got = ReadFile(input, &byte, 1, &read, nullptr) && read == 1;
  redirected_input_take(win32_console.redirected, got ? byte : kRedirectedEnd);
}

/// The console's input record in the platform-neutral form; other kinds than keys keep
/// the key fields 0.
ConsoleInputRecord record_of(const INPUT_RECORD& in) {
  ConsoleInputRecord out{};
  out.event_type = in.EventType;
  if (in.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& key = in.Event.KeyEvent;
    out.key_down = static_cast<uint32_t>(key.bKeyDown);
    out.repeat_count = key.wRepeatCount;
    out.virtual_key_code = key.wVirtualKeyCode;
    out.virtual_scan_code = key.wVirtualScanCode;
    out.ascii_char = key.uChar.AsciiChar;
    out.control_key_state = key.dwControlKeyState;
  }
  return out;
}

}  // namespace

bool console_backend_alloc() {
  return AllocConsole() != 0;
}

bool console_backend_free() {
  return FreeConsole() != 0;
}

ConsoleHandle console_backend_std_handle(int32_t which) {
  if (which != kStdInputHandle && which != kStdOutputHandle) return nullptr;
  HANDLE handle = GetStdHandle(static_cast<DWORD>(which));
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // A console that lives in a Unix terminal (Wine's) takes the terminal's keys over (no
  // echo, no line editing) only once a program waits on its input. A look at once, before
  // anything is shown, keeps a key typed at the first question from being echoed.
  if (which == kStdInputHandle && is_console_input(handle)) WaitForSingleObject(handle, 0);
  return handle;
}

bool console_backend_buffer_info(ConsoleHandle output, ConsoleScreenBufferInfo* info) {
  CONSOLE_SCREEN_BUFFER_INFO system_info;
  if (!output || !GetConsoleScreenBufferInfo(output, &system_info)) return false;
  info->size = {system_info.dwSize.X, system_info.dwSize.Y};
  info->cursor_position = {system_info.dwCursorPosition.X, system_info.dwCursorPosition.Y};
  info->attributes = system_info.wAttributes;
  info->window = {system_info.srWindow.Left, system_info.srWindow.Top, system_info.srWindow.Right,
                  system_info.srWindow.Bottom};
  info->maximum_window_size = {system_info.dwMaximumWindowSize.X,
                               system_info.dwMaximumWindowSize.Y};
  return true;
}

bool console_backend_set_title(const char* title) {
  return SetConsoleTitleA(title ? title : "") != 0;
}

bool console_backend_set_cursor_position(ConsoleHandle output, ConsoleCoord position) {
  return output && SetConsoleCursorPosition(output, coord_of(position)) != 0;
}

bool console_backend_set_cursor_info(ConsoleHandle output, const ConsoleCursorInfo* info) {
  const CONSOLE_CURSOR_INFO system_info{info->size, info->visible ? TRUE : FALSE};
  return output && SetConsoleCursorInfo(output, &system_info) != 0;
}

bool console_backend_fill_attribute(ConsoleHandle output, uint16_t attribute, uint32_t length,
                                    ConsoleCoord at, uint32_t* written) {
  DWORD done = 0;
  BOOL ok = output && FillConsoleOutputAttribute(output, attribute, length, coord_of(at), &done);
  *written = done;
  return ok != 0;
}

bool console_backend_fill_character(ConsoleHandle output, char character, uint32_t length,
                                    ConsoleCoord at, uint32_t* written) {
  DWORD done = 0;
  BOOL ok = output && FillConsoleOutputCharacterW(output, painted_to_wide(character), length,
                                                  coord_of(at), &done);
  *written = done;
  return ok != 0;
}

bool console_backend_write_characters(ConsoleHandle output, const char* characters, uint32_t length,
                                      ConsoleCoord at, uint32_t* written) {
  DWORD done = 0;
  wchar_t stack[kStackCharacters];
  wchar_t* wide = length <= kStackCharacters
                      ? stack
                      : static_cast<wchar_t*>(std::malloc(length * sizeof(wchar_t)));
  if (wide) painted_to_wide(characters, length, wide);
  BOOL ok =
      output && wide && WriteConsoleOutputCharacterW(output, wide, length, coord_of(at), &done);
  if (wide != stack) std::free(wide);
  *written = done;
  return ok != 0;
}

bool console_backend_scroll(ConsoleHandle output, const ConsoleSmallRect* rect,
                            const ConsoleSmallRect* clip, ConsoleCoord destination,
                            const ConsoleCharInfo* fill) {
  if (!output) return false;
  const SMALL_RECT scroll = rect_of(*rect);
  SMALL_RECT clip_rect{};
  if (clip) clip_rect = rect_of(*clip);
  CHAR_INFO fill_cell{};
  fill_cell.Char.UnicodeChar = painted_to_wide(static_cast<char>(fill->character));
  fill_cell.Attributes = fill->attributes;
  return ScrollConsoleScreenBufferW(output, &scroll, clip ? &clip_rect : nullptr,
                                    coord_of(destination), &fill_cell) != 0;
}

void console_backend_catch_up() {}

bool console_backend_input_count(ConsoleHandle input, uint32_t* count) {
  DWORD waiting = 0;
  if (input && GetNumberOfConsoleInputEvents(input, &waiting)) {
    // The wait is also what lets a console that lives in a Unix terminal (Wine's) read the
    // terminal: a program that only counts the queue would never see a typed key.
    if (waiting == 0 && WaitForSingleObject(input, kInputWaitMs) == WAIT_OBJECT_0 &&
        !GetNumberOfConsoleInputEvents(input, &waiting))
      waiting = 0;
    *count = waiting;
    return true;
  }
  fill_lookahead(input);
  *count = redirected_input_count(win32_console.redirected);
  return true;
}

bool console_backend_read_input(ConsoleHandle input, ConsoleInputRecord* records, uint32_t length,
                                uint32_t* read) {
  if (is_console_input(input)) {
    INPUT_RECORD buffer[kInputChunk];
    DWORD got = 0;
    if (!ReadConsoleInputA(input, buffer, length < kInputChunk ? length : kInputChunk, &got))
      return false;
    for (DWORD i = 0; i < got; ++i) records[i] = record_of(buffer[i]);
    *read = got;
    return true;
  }
  fill_lookahead(input);
  // Nothing comes only when the input has ended.
  if (redirected_input_next(win32_console.redirected, &records[0])) *read = 1;
  return true;
}

bool console_backend_input_ended(ConsoleHandle input) {
  if (is_console_input(input)) return false;
  fill_lookahead(input);
  return redirected_input_ended(win32_console.redirected);
}

bool console_backend_stream_write(ConsoleHandle output, const char* bytes, uint32_t length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(output, bytes, length, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

const char* platform_stream_line_break() {
  return "\r\n";
}

// The console's input modes are never changed here: there is nothing to lend.
void platform_console_lend(bool /*lend*/) {}
