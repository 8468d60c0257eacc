// Whether a JC block's stream can make the bytes its header states, found by walking its
// tokens without writing anything, so that a caller can refuse a block before it allocates
// the stated size (a few stream bits can state gigabytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "jc/jc.h"

/// Whether the stream of the JC block (block_size bytes, its header already checked)
/// writes at least `claimed` bytes before it ends or breaks off. ok when it does; otherwise
/// the status decoding would end with: size_mismatch for an early end marker,
/// corrupt_stream for a stream that ends without one or is malformed.
JcStatus jc_stream_reaches(const uint8_t* block, size_t block_size, uint32_t claimed);
