#include "jc/jc_entry.h"

#include <algorithm>
#include <cstring>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/pack_format.h"

namespace {

/// Whether `block` decodes to exactly `size` bytes equal to `data`.
bool block_holds(const std::vector<uint8_t>& block, const uint8_t* data, size_t size) {
  std::vector<uint8_t> check(size);
  return jc_decode(block.data(), block.size(), check.data(), size) == size &&
         std::memcmp(check.data(), data, size) == 0;
}

}  // namespace

bool jc_append_pack_entry(std::vector<uint8_t>& archive, const uint8_t* data, size_t size,
                          int level, bool store, JcProgress progress, void* context) {
  if (level < kJcMinLevel || level > kJcMaxLevel || size > kJcMaxInputSize) return false;
  std::vector<uint8_t> block;
  if (!store && size > 0) {
    if (!jc_encode_with_progress(data, size, level, progress, context, &block) ||
        !block_holds(block, data, size)) {
      return false;
    }
  }
  const bool stored = block.empty() || block.size() >= size;
  const uint8_t* payload = stored ? data : block.data();
  const size_t stored_size = stored ? size : block.size();
  uint8_t header[kPackEntryHeaderSize];
  pack_write_entry_header(header, {uint32_t(size), uint32_t(stored_size)});
  // Room first, so a failed allocation leaves the archive as it was; growing by half keeps
  // many small entries linear without doubling the room a large one takes.
  const size_t need = archive.size() + kPackEntryHeaderSize + stored_size;
  if (archive.capacity() < need) {
    archive.reserve(std::max(need, archive.capacity() + archive.capacity() / 2));
  }
  archive.insert(archive.end(), header, header + kPackEntryHeaderSize);
  if (stored_size > 0) archive.insert(archive.end(), payload, payload + stored_size);
  return true;
}
