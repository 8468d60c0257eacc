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
// entry too large to report, gives null. The reader then stands behind that entry's data
// (where they could be read), so the following entries still come in order.
#pragma once

#include <cstdint>

#include "pack/pack_format.h"
#include "platform/file.h"

/// The reader's state, all zero before the first open.
struct PackReader {
  PlatformFile handle;    ///< the open archive; null when closed
  int32_t is_open;        ///< 1 after a successful pack_open
  uint8_t* entry_buffer;  ///< main-heap block of the entry delivered last; null if none
  int32_t entry_size;     ///< unpacked size of that entry; -1 after a call that gave none
};

extern PackReader pack_reader;

/// Closes any open archive, makes the program directory current and opens `name` for
/// reading. 1 when opened, 0 otherwise (the reader stays closed).
int32_t pack_open(const char* name);

/// The next entry's unpacked bytes, owned by the reader and valid until the next entry is
/// found, the next pack_open or pack_close; null at the end of the archive, for an entry
/// that is not whole and correct, or when memory runs out.
uint8_t* pack_next_entry();

/// The size of the entry the last pack_next_entry delivered; -1 when it delivered none or
/// the reader is not open.
int32_t pack_entry_size();

/// Closes the archive and frees the entry buffer; a closed reader does nothing.
void pack_close();

/// Release at shutdown: the same as pack_close.
void pack_release();
