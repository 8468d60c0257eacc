// The standard error stream on Windows: plain bytes through WriteFile, lines ended by
// "\r\n", whatever the stream is connected to.
#include <windows.h>

#include <cstring>

#include "platform/process.h"

namespace {

/// Writes `length` bytes of `bytes` to `output`; stops at the first failed write.
void write_all(HANDLE output, const char* bytes, size_t length) {
  while (length > 0) {
    DWORD written = 0;
    const DWORD step = length > 0x10000 ? 0x10000 : static_cast<DWORD>(length);
    if (!WriteFile(output, bytes, step, &written, nullptr) || written == 0) return;
    bytes += written;
    length -= written;
  }
}

}  // namespace

void platform_error_line(const char* text) {
  const HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
  if (!text || output == nullptr || output == INVALID_HANDLE_VALUE) return;
  write_all(output, text, std::strlen(text));
  write_all(output, "\r\n", 2);
}
