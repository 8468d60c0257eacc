#include "app/entry_decoder.h"

#include "pack/archive_digest.h"

JcResult entry_decode(const uint8_t* block, size_t block_size, uint8_t* dest,
                      size_t dest_capacity) {
  return jc_decode_compact_checked(block, block_size, dest, dest_capacity);
}

uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size) {
  return crc32_update(crc, bytes, size);
}
