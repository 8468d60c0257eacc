#include "app/entry_decoder.h"

JcResult entry_decode(const uint8_t* block, size_t block_size, uint8_t* dest,
                      size_t dest_capacity) {
  return jc_decode_checked(block, block_size, dest, dest_capacity);
}
