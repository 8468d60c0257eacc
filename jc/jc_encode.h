// The JC encoder: turns bytes into one JC block. Used by the tools and tests; the
// unpacker itself only decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jc/jc.h"

/// Compresses `size` bytes at `level` (kJcMinLevel to kJcMaxLevel) into one JC block with
/// its checksum, replacing the contents of `block`. False (block untouched) for a level out
/// of range or more than kJcMaxInputSize bytes. Empty input gives a block of the end
/// marker alone, which decoders read as a failure: store empty data instead.
bool jc_encode(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* block);
