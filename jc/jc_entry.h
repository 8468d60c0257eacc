// Making pack entries: a JC block where it is smaller than the data, the data stored
// otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jc/jc_encode.h"

/// Appends one entry for `size` bytes to `archive`: the data stored when `store` is set,
/// when they are empty (a block of the end marker alone reads as a failure) or when the
/// block at `level` would not be smaller (an entry whose two sizes are equal is read as
/// stored); a JC block, checked by decoding it, otherwise. False, with `archive` unchanged,
/// for a level out of range or data too large for an entry. `progress` (when not null) is
/// called as jc_encode_with_progress calls it. Throws std::bad_alloc when memory runs out
/// (`archive` unchanged).
bool jc_append_pack_entry(std::vector<uint8_t>& archive, const uint8_t* data, size_t size,
                          int level, bool store, JcProgress progress = nullptr,
                          void* context = nullptr);
