#include "runtime/string_ops.h"

#include <cstring>

#include "platform/format.h"
#include "runtime/workspace.h"

StringOpsState string_ops_state;

namespace {

constexpr char kBlank = ' ';

/// Longest result that may be built at `dest`, its terminating zero not counted.
/// -1 when `dest` lies outside the workspace (nothing may be written there).
int64_t capacity_at(const char* dest) {
  return static_cast<int64_t>(string_room(dest)) - 1;
}

/// Ends the result of `length` bytes at `dest`, cut to the workspace, and moves the
/// cursor onto its zero.
char* finish(char* dest, int64_t length) {
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  if (length > capacity) length = capacity;
  dest[length] = 0;
  runtime_memory.string_cursor = dest + length;
  return dest;
}

/// Copies `length` bytes from `source` to `dest`, first to last, bounded by the workspace,
/// then ends the result there.
char* copy_result(const char* source, int64_t length, char* dest) {
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  if (length > capacity) length = capacity;
  if (length > 0) std::memmove(dest, source, static_cast<size_t>(length));
  return finish(dest, length);
}

int64_t length_of(const char* source) {
  return source ? static_cast<int64_t>(std::strlen(source)) : 0;
}

/// Rewrites each byte of `source` in [low, high] (and [low2, high2]) by `delta`.
char* change_case(const char* source, int lo1, int hi1, int lo2, int hi2, int delta, char* dest) {
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  int64_t n = 0;
  if (source) {
    for (; source[n] != 0 && n < capacity; ++n) {
      int c = static_cast<unsigned char>(source[n]);
      if ((c >= lo1 && c <= hi1) || (c >= lo2 && c <= hi2)) c += delta;
      dest[n] = static_cast<char>(c);
    }
  }
  return finish(dest, n);
}

/// Formats the module's format argument with `format` and copies the text to `dest`.
char* format_result(const char* format, char* dest) {
  char text[kFormatMaxLength];
  int n = platform_format_number(text, format, &string_ops_state.format_argument);
  return copy_result(text, n, dest);
}

}  // namespace

int32_t char_code_of(const char* source) {
  return source ? static_cast<unsigned char>(source[0]) : 0;
}

char* string_of_char_code(int32_t code, char* dest) {
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  if (capacity == 0) return finish(dest, 0);
  dest[0] = static_cast<char>(code & 0xFF);
  dest[1] = 0;
  runtime_memory.string_cursor = dest + 1;
  return dest;
}

int32_t string_find(const char* source, const char* pattern, int32_t start) {
  if (!source || !pattern) return 0;
  int64_t first = start < 1 ? 0 : static_cast<int64_t>(start) - 1;
  if (length_of(source) < first) return 0;
  for (int64_t pos = first;; ++pos) {
    for (int64_t i = 0;; ++i) {
      if (pattern[i] == 0) return static_cast<int32_t>(pos + 1);
      if (source[pos + i] == 0) return 0;
      if (source[pos + i] != pattern[i]) break;
    }
  }
}

char* hex_string_of(uint32_t value, char* dest) {
  string_ops_state.format_argument = value;
  return format_result("%lX", dest);
}

char* string_to_lower(const char* source, char* dest) {
  return change_case(source, 'A', 'Z', 192, 223, 32, dest);
}

char* string_to_upper(const char* source, char* dest) {
  return change_case(source, 'a', 'z', 224, 255, -32, dest);
}

char* string_head(const char* source, int32_t count, char* dest) {
  if (!source || count <= 0) return finish(dest, 0);
  int64_t length = length_of(source);
  return copy_result(source, length < count ? length : count, dest);
}

int32_t string_length(const char* source) {
  return static_cast<int32_t>(length_of(source));
}

char* string_slice(const char* source, int32_t start, int32_t count, char* dest) {
  if (!source || count <= 0) return finish(dest, 0);
  int64_t first = start < 1 ? 0 : static_cast<int64_t>(start) - 1;
  int64_t length = length_of(source);
  if (length <= first) return finish(dest, 0);
  int64_t left = length - first;
  return copy_result(source + first, left < count ? left : count, dest);
}

char* string_tail(const char* source, int32_t count, char* dest) {
  if (!source) {
    char* cursor = runtime_memory.string_cursor;
    if (capacity_at(cursor) >= 0) *cursor = 0;
    return dest;
  }
  int64_t length = length_of(source);
  int64_t n = length < count ? length : count;
  if (n <= 0) return finish(dest, 0);
  return copy_result(source + (length - n), n, dest);
}

char* decimal_string_of(int32_t value, char* dest) {
  string_ops_state.format_argument = static_cast<uint32_t>(value);
  return format_result("%ld", dest);
}

char* unsigned_string_of(uint32_t value, int32_t width_code, char* dest) {
  if (width_code == 0)
    value &= 0xFFu;
  else if (width_code == 1)
    value &= 0xFFFFu;
  string_ops_state.format_argument = value;
  return format_result("%lu", dest);
}

char* string_strip_leading(const char* source, char* dest) {
  const char* stop = runtime_memory.string_cursor;
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  int64_t n = 0;
  if (source) {
    const char* p = source;
    while (*p == kBlank && p != stop) ++p;
    for (; *p != 0 && p != stop && n < capacity; ++p) dest[n++] = *p;
  }
  return finish(dest, n);
}

char* string_strip_trailing(const char* source, char* dest) {
  int64_t length = length_of(source);
  while (length > 0 && source[length - 1] == kBlank) --length;
  return copy_result(source, length, dest);
}

char* string_strip(const char* source, char* dest) {
  if (!source) return finish(dest, 0);
  while (*source == kBlank) ++source;
  int64_t length = 0;
  int64_t trailing = 0;  // blanks that end the rest; restarts at every non-blank
  for (; source[length] != 0; ++length) trailing = source[length] == kBlank ? trailing + 1 : 0;
  return copy_result(source, length - trailing, dest);
}

char* string_of_spaces(int32_t count, char* dest) {
  int64_t capacity = capacity_at(dest);
  if (capacity < 0) return dest;
  int64_t n = count < 0 ? 0 : count;
  if (n > capacity) n = capacity;
  std::memset(dest, kBlank, static_cast<size_t>(n));
  return finish(dest, n);
}

int32_t parse_decimal(const char* source) {
  if (!source) return 0;
  const char* p = source;
  while (*p == kBlank) ++p;
  string_ops_state.negative_flag = 0;
  if (*p == '-') {
    string_ops_state.negative_flag = 1;
    ++p;
  } else if (*p == '+') {
    ++p;
  }
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  if (string_ops_state.negative_flag) value = 0u - value;
  return static_cast<int32_t>(value);
}
