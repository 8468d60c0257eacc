// The six files the program carries, in archive order: the i-th entry of the archive is
// written to the i-th target.
#pragma once

#include <cstddef>

struct PayloadEntry {
  const char* announcement;  ///< printed before the entry is handled
  const char* target_name;   ///< file name in the program directory
};

inline constexpr size_t kPayloadEntryCount = 6;

extern const PayloadEntry payload_entries[kPayloadEntryCount];
