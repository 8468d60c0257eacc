// Header access, checksum, module information and the common frame of the decoders (the
// decoders call into this file; nothing here calls a decoder).
#include "jc/jc.h"

#include "jc/jc_decode_internal.h"

namespace {

constexpr uint32_t kMajorVersion = 5;
constexpr uint32_t kMinorVersion = 27;
constexpr uint32_t kReportedFastDecoderSize = 814;
constexpr uint32_t kReportedCompactDecoderSize = 468;

void store_le32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}

uint32_t checksum_step(uint32_t sum, uint32_t word) {
  sum += word;
  return sum ^ (((word << 1) | (word >> 31)) + 1);
}

}  // namespace

bool jc_read_header(const uint8_t* block, size_t block_size, JcBlock* header) {
  if (block == nullptr || block_size < kJcHeaderSize) return false;
  if (block[0] != kJcMagic0 || block[1] != kJcMagic1) return false;
  header->unpacked_size = jc_load_le32(block + 2);
  header->checksum = jc_load_le32(block + 6);
  return true;
}

void jc_write_header(uint8_t* out, const JcBlock& header) {
  out[0] = kJcMagic0;
  out[1] = kJcMagic1;
  store_le32(out + 2, header.unpacked_size);
  store_le32(out + 6, header.checksum);
}

uint32_t jc_unpacked_size(const uint8_t* block, size_t block_size) {
  JcBlock header;
  return jc_read_header(block, block_size, &header) ? header.unpacked_size : 0;
}

uint32_t jc_checksum(const uint8_t* bytes, size_t size) {
  if (size < 4) return 0;
  uint32_t sum = 0;
  size_t at = 0;
  // Two words per round: the sum still takes them in order, one round has less overhead.
  for (; at + 8 <= size; at += 8) {
    sum = checksum_step(checksum_step(sum, jc_load_le32(bytes + at)), jc_load_le32(bytes + at + 4));
  }
  for (; at + 4 <= size; at += 4) sum = checksum_step(sum, jc_load_le32(bytes + at));
  // A tail of 1 to 3 bytes is covered by the last four bytes, overlapping the last word.
  if (at < size) sum = checksum_step(sum, jc_load_le32(bytes + size - 4));
  return sum;
}

JcLibraryInfo* jc_library_info(JcLibraryInfo* info) {
  info->major_version = kMajorVersion;
  info->minor_version = kMinorVersion;
  info->fast_decoder_size = kReportedFastDecoderSize;
  info->compact_decoder_size = kReportedCompactDecoderSize;
  return info;
}

const char* jc_status_text(JcStatus status) {
  switch (status) {
    case JcStatus::ok:
      return "ok";
    case JcStatus::bad_magic:
      return "bad magic";
    case JcStatus::too_small:
      return "destination too small";
    case JcStatus::corrupt_stream:
      return "corrupt stream";
    case JcStatus::size_mismatch:
      return "size mismatch";
    case JcStatus::checksum_mismatch:
      return "checksum mismatch";
    case JcStatus::bad_argument:
      return "bad argument";
    case JcStatus::out_of_memory:
      return "out of memory";
    case JcStatus::in_place_overlap:
      return "output overtakes the block in place";
  }
  return "unknown";
}

JcStatus jc_decode_prepare(const uint8_t* block, size_t block_size, size_t dest_capacity,
                           JcBlock* header) {
  if (!jc_read_header(block, block_size, header)) return JcStatus::bad_magic;
  if (dest_capacity < header->unpacked_size) return JcStatus::too_small;
  return JcStatus::ok;
}

JcResult jc_decode_finish(const JcBlock& header, const uint8_t* dest, size_t written,
                          size_t consumed) {
  // Fewer bytes than announced would leave the rest of the destination undefined, and the
  // checksum would then be taken over bytes the block never wrote.
  if (written != header.unpacked_size) return {JcStatus::size_mismatch, 0, 0};
  if (header.checksum != 0 && jc_checksum(dest, written) != header.checksum) {
    return {JcStatus::checksum_mismatch, 0, 0};
  }
  return {JcStatus::ok, uint32_t(written), consumed};
}
