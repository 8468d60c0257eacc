// The program's arguments on Windows: the wide command line, split and converted to UTF-8
// once, at the first question, into one block that lives as long as the process.
#include <windows.h>

#include <cstdlib>

#include "platform/process.h"
#include "platform/win32/command_line.h"
#include "platform/win32/utf16.h"

namespace {

/// What an argument that is not valid UTF-16 becomes: a byte that is not UTF-8 either,
/// so that no name or option takes it for anything.
constexpr char kUnconvertible[] = "\xFF";

struct Arguments {
  bool split;
  int count;
  const char** items;
};

Arguments arguments;

bool is_blank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

/// Moves past the program's name at the start of `p`.
const wchar_t* skip_program_name(const wchar_t* p) {
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    return *p ? p + 1 : p;
  }
  while (*p && !is_blank(*p)) ++p;
  return p;
}

/// Copies the backslashes at `*p` to `*out`, and the quote after an odd number of them as
/// a plain character; moves both on.
void copy_backslashes(const wchar_t** p, wchar_t** out) {
  int count = 0;
  while (**p == L'\\') ++count, ++*p;
  const bool before_quote = **p == L'"';
  for (int i = before_quote ? count / 2 : count; i > 0; --i) *(*out)++ = L'\\';
  if (before_quote && count % 2 == 1) {
    *(*out)++ = L'"';
    ++*p;
  }
}

/// Copies the argument at `p` to `out`, zero-terminated; returns where it ends in `line`.
const wchar_t* copy_argument(const wchar_t* p, wchar_t** out) {
  bool quoted = false;
  while (*p && (quoted || !is_blank(*p))) {
    if (*p == L'\\') {
      copy_backslashes(&p, out);
    } else if (*p == L'"') {
      if (quoted && p[1] == L'"') {
        *(*out)++ = L'"';
        p += 2;
      } else {
        quoted = !quoted;
        ++p;
      }
    } else {
      *(*out)++ = *p++;
    }
  }
  *(*out)++ = 0;
  return p;
}

/// Splits the process's command line into `arguments`; on a failed allocation there are none.
void split_arguments() {
  arguments.split = true;
  const wchar_t* line = GetCommandLineW();
  const uint32_t units = static_cast<uint32_t>(lstrlenW(line)) + 1;
  auto* wide = static_cast<wchar_t*>(std::malloc(units * sizeof(wchar_t)));
  if (!wide) return;
  const int count = command_line_split(line, wide);
  // The pointers, then the text: each unit makes at most three bytes, each zero one.
  const uint32_t text_size = units * (kMaxUtf8BytesPerUnit + 1);
  auto* block = static_cast<char*>(std::malloc(count * sizeof(char*) + text_size));
  if (block) {
    auto* items = reinterpret_cast<const char**>(block);
    char* const text_start = block + count * sizeof(char*);
    char* text = text_start;
    const wchar_t* argument = wide;
    for (int i = 0; i < count; ++i) {
      const uint32_t length = static_cast<uint32_t>(lstrlenW(argument));
      const uint32_t room = text_size - static_cast<uint32_t>(text - text_start);
      const int bytes = wide_to_utf8(argument, length, text, room);
      items[i] = bytes < 0 ? kUnconvertible : text;
      if (bytes > 0) text += bytes;
      *text++ = 0;
      argument += length + 1;
    }
    arguments.items = items;
    arguments.count = count;
  }
  std::free(wide);
}

}  // namespace

int command_line_split(const wchar_t* line, wchar_t* out) {
  const wchar_t* p = skip_program_name(line);
  int count = 0;
  for (;;) {
    while (is_blank(*p)) ++p;
    if (!*p) return count;
    p = copy_argument(p, &out);
    ++count;
  }
}

int platform_argument_count() {
  if (!arguments.split) split_arguments();
  return arguments.count;
}

const char* platform_argument(int index) {
  if (!arguments.split) split_arguments();
  return index >= 0 && index < arguments.count ? arguments.items[index] : nullptr;
}
