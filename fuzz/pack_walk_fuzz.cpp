// Walks arbitrary bytes as a pack archive and unpacks every entry into a destination of
// exactly its announced size.
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "jc/pack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> archive(data, data + size);
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  size_t covered = 0;
  PackWalkStep step;
  while ((step = pack_walk_next(walk, &entry)) == PackWalkStep::entry) {
    if (entry.header_offset != covered) std::abort();
    covered += kPackEntryHeaderSize + entry.header.stored_size;
    if (entry.header.unpacked_size > kFuzzMaxOutput) continue;
    std::vector<uint8_t> out(entry.header.unpacked_size);
    pack_entry_unpack(entry, out.data(), out.size());
  }
  if (step == PackWalkStep::end && covered != size) std::abort();
  return 0;
}
