// Walks arbitrary bytes as a pack archive and unpacks every entry into a destination of
// exactly its announced size.
#include <cstdlib>
#include <vector>

#include "fuzz/fuzz_buffer.h"
#include "fuzz/fuzz_limits.h"
#include "jc/pack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzBuffer destination;
  const std::vector<uint8_t> archive(data, data + size);
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  size_t covered = 0;
  PackWalkStep step;
  while ((step = pack_walk_next(walk, &entry)) == PackWalkStep::entry) {
    if (entry.header_offset != covered) std::abort();
    covered += kPackEntryHeaderSize + entry.header.stored_size;
    if (entry.header.unpacked_size > kFuzzMaxOutput) continue;
    const size_t out_size = entry.header.unpacked_size;
    pack_entry_unpack(entry, fuzz_destination(destination, out_size, 0), out_size);
  }
  if (step == PackWalkStep::end && covered != size) std::abort();
  return 0;
}
