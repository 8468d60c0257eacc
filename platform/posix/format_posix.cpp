#include <cstdio>
#include <cstring>

#include "platform/format.h"

int platform_format_number(char* dest, const char* format, const uint32_t* argument) {
  uint32_t value = *argument;
  int n = 0;
  if (std::strcmp(format, "%ld") == 0) {
    n = std::snprintf(dest, kFormatMaxLength, "%ld",
                      static_cast<long>(static_cast<int32_t>(value)));
  } else if (std::strcmp(format, "%lu") == 0) {
    n = std::snprintf(dest, kFormatMaxLength, "%lu", static_cast<unsigned long>(value));
  } else if (std::strcmp(format, "%lX") == 0) {
    n = std::snprintf(dest, kFormatMaxLength, "%lX", static_cast<unsigned long>(value));
  } else {
    dest[0] = 0;
  }
  return n < 0 ? 0 : n;
}
