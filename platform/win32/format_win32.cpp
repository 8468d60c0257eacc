// Number formatting on Windows through the system's own formatter.
#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "platform/format.h"

namespace {

const char* const kFormats[] = {"%ld", "%lu", "%lX"};

bool is_known_format(const char* format) {
  for (const char* known : kFormats)
    if (format && std::strcmp(format, known) == 0) return true;
  return false;
}

}  // namespace

int platform_format_number(char* dest, const char* format, const uint32_t* argument) {
  if (!is_known_format(format)) {
    dest[0] = 0;
    return 0;
  }
  // The argument list holds one pointer-sized slot per argument; the formatter reads the
  // 32-bit value from the low half of it.
  uintptr_t slots[1] = {*argument};
  int n = wvsprintfA(dest, format, reinterpret_cast<va_list>(slots));
  return n < 0 ? 0 : n;
}
