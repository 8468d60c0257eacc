// The JC encoder: turns bytes into one JC block. Used by the tools and tests; the
// unpacker itself only decodes. Allocation failures throw std::bad_alloc (jc_compress
// turns them into a status).
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

/// Reports progress: `done` of `total` input bytes have been encoded.
using JcProgress = void (*)(void* context, uint64_t done, uint64_t total);

/// jc_encode that calls `progress(context, done, size)` after each segment it has written
/// (`progress` may be null).
bool jc_encode_with_progress(const uint8_t* data, size_t size, int level, JcProgress progress,
                             void* context, std::vector<uint8_t>* block);

/// An upper bound of the bytes jc_encode allocates for `size` bytes at `level`, the block
/// it returns included (0 for a level out of range or more than kJcMaxInputSize bytes).
/// The input is encoded in segments over bounded match-finder windows, so this grows with
/// the input only by the block; its parts are in the "Encoding" section of jc/README.md.
uint64_t jc_encode_memory(size_t size, int level);
