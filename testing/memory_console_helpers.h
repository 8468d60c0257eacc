// Test helpers over a memory console: its rows as strings.
#pragma once

#include <string>

#include "platform/memory_console.h"

/// The characters of row `y` of `console`, trailing blanks removed.
inline std::string memory_console_row(const MemoryConsole* console, int y) {
  std::string row(static_cast<size_t>(console->info.size.x) + 1, '\0');
  row.resize(memory_console_row_text(console, y, row.data(), static_cast<uint32_t>(row.size())));
  return row;
}
