// The content of a version 2 archive as its files take it: the files' bytes back to back in
// the table's order, delivered a piece at a time from the block that holds them. A block is
// let go once its last byte is taken, so a run holds the block being written from and the
// blocks decoded ahead of it (entry_decoder.h), whatever the sizes of the files.
//
// A block that cannot be read or unpacked fails every piece taken from it; skipping past it
// goes on with the next block, so a damaged block costs only the files whose bytes it holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/archive_source.h"

/// Starts the content of the version 2 `source` at its first byte. False when no block can
/// be had (the stream is then stopped).
bool content_start(const ArchiveSource& source);

/// The next up to `want` (at least 1) bytes of the content, at most to the end of the block
/// that holds them, in `*data` and `*size`; they stay valid until the next call. On failure
/// nothing is taken: skip the bytes to go on.
UnpackResult content_next(uint64_t want, const uint8_t** data, size_t* size);

/// Passes over the next `count` bytes of the content, whatever the blocks that hold them.
void content_skip(uint64_t count);

/// Frees what the stream holds and stops the blocks decoded ahead.
void content_stop();
