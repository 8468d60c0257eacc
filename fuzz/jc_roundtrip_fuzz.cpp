// Encodes arbitrary bytes (the first byte picks the level) and requires both decoders to
// give them back exactly, and a pack entry of them to unpack to them.
#include <cstdlib>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "jc/pack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int level = kJcMinLevel + data[0] % kJcMaxLevel;
  const std::vector<uint8_t> input(data + 1, data + size);
  std::vector<uint8_t> block;
  if (!jc_encode(input.data(), input.size(), level, &block)) std::abort();
  if (!input.empty()) {
    for (auto decode : {&jc_decode_checked, &jc_decode_compact_checked}) {
      std::vector<uint8_t> out(input.size());
      const JcResult r = decode(block.data(), block.size(), out.data(), out.size());
      if (r.status != JcStatus::ok || r.consumed != block.size() || out != input) std::abort();
    }
  }
  std::vector<uint8_t> archive;
  if (!jc_append_pack_entry(archive, input.data(), input.size(), level, false)) std::abort();
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  if (pack_walk_next(walk, &entry) != PackWalkStep::entry) std::abort();
  std::vector<uint8_t> out(input.size());
  if (pack_entry_unpack(entry, out.data(), out.size()) != JcStatus::ok || out != input) {
    std::abort();
  }
  if (pack_walk_next(walk, &entry) != PackWalkStep::end) std::abort();
  return 0;
}
