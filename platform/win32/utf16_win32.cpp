// UTF-8 and UTF-16 through the system's own converters, which refuse what is not valid.
#include <windows.h>

#include "platform/win32/utf16.h"

bool utf8_to_wide(const char* text, WidePath* out) {
  out->text[0] = 0;
  if (!text) return false;
  // With the length -1 the terminating zero is converted too; an empty name gives 1.
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out->text, kMaxPathSize);
  if (units > 0) return true;
  out->text[0] = 0;
  return false;
}

int wide_to_utf8(const wchar_t* text, uint32_t length, char* out, uint32_t capacity) {
  if (length == 0) return 0;     // the system refuses to convert nothing
  if (capacity == 0) return -1;  // a capacity of 0 would only ask for the size
  const int bytes =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), out,
                          static_cast<int>(capacity), nullptr, nullptr);
  return bytes > 0 ? bytes : -1;
}
