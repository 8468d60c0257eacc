// The carried archive of the self-extractor stub: none. The stub's archive is the one
// appended to its file.
#include "app/carried_archive.h"
#include "app/front_end.h"

const uint32_t carried_archive_size = 0;
const uint8_t carried_archive[1] = {0};
const ArchiveDigest carried_archive_digest = {0, 0};

// Nor does it carry the built-in program's run over a carried archive (carried_run.cpp),
// which it never reaches: its carried archive has no bytes.

bool carried_run(const uint8_t* /*archive*/, uint32_t /*size*/, const ArchiveDigest& /*expected*/) {
  return false;
}

void carried_run_reset() {}

void carried_run_release() {}
