// The carried archive of the self-extractor stub: none. The stub's archive is the one
// appended to its file.
#include "app/carried_archive.h"

const uint32_t carried_archive_size = 0;
const uint8_t carried_archive[1] = {0};
const ArchiveDigest carried_archive_digest = {0, 0};
