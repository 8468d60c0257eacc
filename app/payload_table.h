// The six files the program carries, in archive order: the i-th entry of the archive is
// written to the i-th target. Made from app/payload_entries.def.
#pragma once

#include <cstddef>
#include <cstdint>

struct PayloadEntry {
  const char* announcement;  ///< printed before the entry is handled
  const char* target_name;   ///< file name in the program directory
  uint32_t unpacked_size;    ///< the file's size as the build makes it
};

#define PAYLOAD_ENTRY(name, size) +1
inline constexpr size_t kPayloadEntryCount = 0
#include "app/payload_entries.def"
    ;
#undef PAYLOAD_ENTRY

extern const PayloadEntry payload_entries[kPayloadEntryCount];
