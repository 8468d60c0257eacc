// The JC decoder that unpacks the entries of an appended archive, and the CRC-32 routine
// that checks the archive first. Each program links one of two sets: the built-in program
// the small one (its size is budgeted), the self-extractor stub the fast one (it unpacks
// whatever its users append, often hundreds of megabytes). Both give the same results for
// every input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jc/jc.h"

/// Decodes `block` (block_size bytes) into `dest` (dest_capacity bytes) with the
/// program's decoder; the contract of jc_decode_checked.
JcResult entry_decode(const uint8_t* block, size_t block_size, uint8_t* dest, size_t dest_capacity);

/// Continues the CRC-32 `crc` over `size` more bytes with the program's routine; the
/// contract of crc32_update.
uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size);
