// The console services of both back ends: a call on the memory console a test has
// installed is served by that console here; every other call goes to the back end.
#include "platform/console_backend.h"

namespace {

/// The memory console a test has installed, or null.
MemoryConsole* installed_console = nullptr;

/// The installed console when `handle` is its handle, else null.
MemoryConsole* installed_of(ConsoleHandle handle) {
  if (handle && handle == installed_console) return installed_console;
  return nullptr;
}

}  // namespace

MemoryConsole* console_installed() {
  return installed_console;
}

void platform_console_install(MemoryConsole* console) {
  installed_console = console;
}

bool platform_console_alloc() {
  if (installed_console) {
    ++installed_console->alloc_calls;
    return true;
  }
  return console_backend_alloc();
}

bool platform_console_free() {
  if (installed_console) {
    ++installed_console->free_calls;
    return true;
  }
  return console_backend_free();
}

ConsoleHandle platform_std_handle(int32_t which) {
  if (installed_console) return installed_console;
  return console_backend_std_handle(which);
}

bool platform_console_buffer_info(ConsoleHandle output, ConsoleScreenBufferInfo* info) {
  if (MemoryConsole* console = installed_of(output)) {
    *info = console->info;
    return true;
  }
  return console_backend_buffer_info(output, info);
}

bool platform_console_set_title(const char* title) {
  if (installed_console) {
    installed_console->title = title ? title : "";
    return true;
  }
  return console_backend_set_title(title);
}

bool platform_console_set_cursor_position(ConsoleHandle output, ConsoleCoord position) {
  if (MemoryConsole* console = installed_of(output))
    return memory_console_set_cursor_position(console, position);
  return console_backend_set_cursor_position(output, position);
}

bool platform_console_set_cursor_info(ConsoleHandle output, const ConsoleCursorInfo* info) {
  if (MemoryConsole* console = installed_of(output)) {
    if (info->size < 1 || info->size > 100) return false;
    console->cursor_info = *info;
    return true;
  }
  return console_backend_set_cursor_info(output, info);
}

bool platform_console_fill_attribute(ConsoleHandle output, uint16_t attribute, uint32_t length,
                                     ConsoleCoord at, uint32_t* written) {
  if (MemoryConsole* console = installed_of(output))
    return memory_console_fill_attribute(console, attribute, length, at, written);
  return console_backend_fill_attribute(output, attribute, length, at, written);
}

bool platform_console_fill_character(ConsoleHandle output, char character, uint32_t length,
                                     ConsoleCoord at, uint32_t* written) {
  if (MemoryConsole* console = installed_of(output))
    return memory_console_fill_character(console, character, length, at, written);
  return console_backend_fill_character(output, character, length, at, written);
}

bool platform_console_write_characters(ConsoleHandle output, const char* characters,
                                       uint32_t length, ConsoleCoord at, uint32_t* written) {
  if (MemoryConsole* console = installed_of(output))
    return memory_console_write_characters(console, characters, length, at, written);
  return console_backend_write_characters(output, characters, length, at, written);
}

bool platform_console_scroll(ConsoleHandle output, const ConsoleSmallRect* rect,
                             const ConsoleSmallRect* clip, ConsoleCoord destination,
                             const ConsoleCharInfo* fill) {
  if (MemoryConsole* console = installed_of(output))
    return memory_console_scroll(console, rect, clip, destination, fill);
  return console_backend_scroll(output, rect, clip, destination, fill);
}

bool platform_console_input_count(ConsoleHandle input, uint32_t* count) {
  console_backend_catch_up();
  *count = 0;
  if (MemoryConsole* console = installed_of(input)) {
    *count = static_cast<uint32_t>(console->input.size());
    return true;
  }
  return console_backend_input_count(input, count);
}

bool platform_console_read_input(ConsoleHandle input, ConsoleInputRecord* records, uint32_t length,
                                 uint32_t* read) {
  *read = 0;
  if (length == 0) return true;
  if (MemoryConsole* console = installed_of(input))
    return memory_console_read_input(console, records, length, read);
  return console_backend_read_input(input, records, length, read);
}

bool platform_console_input_ended(ConsoleHandle input) {
  console_backend_catch_up();
  if (MemoryConsole* console = installed_of(input))
    return console->input_closed && console->input.empty();
  return console_backend_input_ended(input);
}

bool platform_stream_write(ConsoleHandle output, const char* bytes, uint32_t length) {
  if (!output || installed_of(output)) return false;
  return console_backend_stream_write(output, bytes, length);
}

bool platform_console_is_memory(ConsoleHandle handle) {
  return installed_of(handle) != nullptr;
}
