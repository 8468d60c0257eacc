// The pack archive reader: opens an archive by name in the program directory and hands
// out its entries one after the other, each unpacked whole into a buffer that the reader
// owns.
//
// An archive is a plain sequence of entries from offset 0 to the end of the file, each an
// 8-byte header (u32 unpacked_size, u32 stored_size, little-endian) followed by
// stored_size data bytes: the entry's bytes themselves when both sizes are equal,
// otherwise one JC block.
//
// An entry is delivered only when it is whole and correct: a header or data cut short, a
// block that does not decode to exactly unpacked_size bytes with its checksum, or an
// entry too large to report, gives null. A block whose stream is damaged or whose checksum
// fails only costs its own entry: the reader stands behind its data and the following
// entries still come in order. An entry whose framing is wrong (sizes that do not fit what
// is left of the archive or that cannot be reported, a block without its magic or whose own
// size disagrees with the header) means that the reader no longer knows where the next
// entry starts: it stops there, and every later call delivers nothing.
#pragma once

#include <cstdint>

#include "jc/pack_format.h"
#include "pack/archive_digest.h"
#include "platform/file.h"

/// The reader's state, all zero before the first open.
struct PackReader {
  PlatformFile handle;    ///< the open archive; null when closed
  int32_t is_open;        ///< 1 after a successful pack_open
  uint8_t* entry_buffer;  ///< main-heap block of the entry delivered last; null if none
  int32_t entry_size;     ///< unpacked size of that entry; -1 after a call that gave none
  int32_t stopped;        ///< 1 after an entry whose framing was wrong: nothing follows
};

extern PackReader pack_reader;

/// Closes any open archive, makes the program directory current and opens `name` for
/// reading. 1 when opened, 0 otherwise (the reader stays closed).
int32_t pack_open(const char* name);

/// Reads the open archive from its start to its end and compares its length and CRC-32
/// with `expected`; the reader then stands at the start again. Call it right after
/// pack_open. 1 when they match; 0 when they differ, the archive cannot be read whole, no
/// memory can be had for the reading, or the reader is not open.
int32_t pack_verify(const ArchiveDigest& expected);

/// The next entry's unpacked bytes, owned by the reader and valid until the next entry is
/// found, the next pack_open or pack_close; null at the end of the archive, for an entry
/// that is not whole and correct, after an entry whose framing was wrong, or when memory
/// runs out.
uint8_t* pack_next_entry();

/// The size of the entry the last pack_next_entry delivered; -1 when it delivered none or
/// the reader is not open.
int32_t pack_entry_size();

/// Closes the archive and frees the entry buffer; a closed reader does nothing.
void pack_close();

/// Release at shutdown: the same as pack_close.
void pack_release();
