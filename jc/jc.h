// JC blocks: the compressed form of one pack entry, and the operations that read them.
//
// Layout (all fields little-endian, packed, so the 32-bit fields are unaligned):
//
//   offset 0   2 bytes   magic "JC" (0x4A 0x43)
//   offset 2   u32       unpacked_size: bytes the block unpacks to
//   offset 6   u32       checksum of the unpacked bytes (jc_checksum); 0 = not tested
//   offset 10  u32 * n   bit stream, bits taken most significant first, words in order
//
// The stream is a sequence of tokens, each introduced by a 1- to 3-bit prefix:
//
//   1                     literal: literal_bits bits v; writes (v + literal_base) mod 256
//   01 g=2 len            repeat match: copy len bytes from last_offset
//   01 g>=3 low len       match: offset = ((g-3) << index_shift) | low (index_shift bits);
//                         last_offset = offset; len grows by the adjustment for the offset
//                         (0-127: +4, 128-638: +0, 639-14334: +1, 14335-65535: +2, more: +3)
//   000 o:7 k:2           o != 0: short match, offset o, k + 2 bytes; last_offset = o
//                         o = 0, k = 0: end marker
//                         o = 0, k > 0: index_shift = next k + 3 bits
//   001 v:4               v = 1: the byte 0; v = 2..15: copy 1 byte from offset v - 1
//                         v = 0, then 1: raw run of 256 8-bit fields, then a bit: 1 = another
//                                        256, 0 = the run ends
//                         v = 0, then 0, then b: literal_bits = 7 + b; for b = 0 an 8-bit
//                                        literal_base follows, for b = 1 the base is 0
//
// g and len are gamma numbers: v = 1, then per step v = 2v + data bit, followed by a
// continuation bit (1 = another step). The smallest is 2. The stream ends with the end
// marker; the rest of its last word is zero. Start state: last_offset 1, index_shift 8,
// no literal width (a literal before the first literal-size change is corrupt).
//
// Copies go byte by byte from `offset` bytes behind the write position, so a copy longer
// than its offset repeats the bytes it has just written.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint8_t kJcMagic0 = 0x4A;
inline constexpr uint8_t kJcMagic1 = 0x43;
inline constexpr size_t kJcHeaderSize = 10;
inline constexpr size_t kJcWordSize = 4;

/// The header of a JC block, as read from or written to its first kJcHeaderSize bytes.
struct JcBlock {
  uint32_t unpacked_size;  ///< bytes the block unpacks to
  uint32_t checksum;       ///< jc_checksum of the unpacked bytes; 0 means "not tested"
};

/// The values the module reports about itself.
struct JcLibraryInfo {
  uint32_t major_version;
  uint32_t minor_version;
  uint32_t fast_decoder_size;     ///< code size reported for jc_decode, in bytes
  uint32_t compact_decoder_size;  ///< code size reported for jc_decode_compact, in bytes
};

/// Why a decoding call failed, for callers that explain failures (the decoders
/// themselves answer only with a byte count or 0).
enum class JcStatus : uint8_t {
  ok,
  bad_magic,          ///< the block is shorter than a header or does not start with "JC"
  too_small,          ///< the destination cannot hold unpacked_size bytes
  corrupt_stream,     ///< the stream leaves the block or the destination, or is malformed
  size_mismatch,      ///< the stream ended before unpacked_size bytes were written
  checksum_mismatch,  ///< the unpacked bytes do not have the stored checksum
  bad_argument,       ///< compressing: a level out of range, or no input or too much of it
  out_of_memory,      ///< compressing: the encoder's tables could not be allocated
  in_place_overlap,   ///< decoding in place: the output would overwrite stream not yet read
};

/// The outcome of a decoding call.
struct JcResult {
  JcStatus status;
  uint32_t written;  ///< bytes written to the destination when status is ok
  size_t consumed;   ///< block bytes used (header and stream words read) when status is ok
};

/// Reads the header of `block` into `header`. False when the block is shorter than a header
/// or does not start with the magic bytes.
bool jc_read_header(const uint8_t* block, size_t block_size, JcBlock* header);

/// Writes the magic bytes and `header` into the first kJcHeaderSize bytes of `out`.
void jc_write_header(uint8_t* out, const JcBlock& header);

/// The block's unpacked_size; 0 for a null pointer, a block shorter than a header, or one
/// that does not start with the magic bytes.
uint32_t jc_unpacked_size(const uint8_t* block, size_t block_size);

/// The checksum of `size` bytes: 0 below 4 bytes; otherwise every whole little-endian word
/// w (and, when 1 to 3 bytes remain, the word of the last four bytes) updates
/// sum = (sum + w) ^ (rotl(w, 1) + 1), all modulo 2^32, starting from 0.
uint32_t jc_checksum(const uint8_t* bytes, size_t size);

/// Fills `info` with the module's version and reported decoder sizes; returns `info`.
JcLibraryInfo* jc_library_info(JcLibraryInfo* info);

/// Decodes `block` (block_size bytes) into `dest` (dest_capacity bytes), the speed variant.
/// Result: the number of bytes written, which is the block's unpacked_size; 0 when the
/// block fails (wrong magic, a destination smaller than unpacked_size, a stream that would
/// read outside the block or write outside unpacked_size bytes, is malformed or ends
/// short, or a checksum mismatch). Never reads or writes outside the two buffers.
uint32_t jc_decode(const uint8_t* block, size_t block_size, uint8_t* dest, size_t dest_capacity);

/// The same contract and, for every input, the same result and destination bytes as
/// jc_decode; built for small code, every read goes through the bit reader.
uint32_t jc_decode_compact(const uint8_t* block, size_t block_size, uint8_t* dest,
                           size_t dest_capacity);

/// jc_decode with the reason of a failure.
JcResult jc_decode_checked(const uint8_t* block, size_t block_size, uint8_t* dest,
                           size_t dest_capacity);

/// jc_decode_compact with the reason of a failure.
JcResult jc_decode_compact_checked(const uint8_t* block, size_t block_size, uint8_t* dest,
                                   size_t dest_capacity);

/// Decodes, in place, the block that fills the last `block_size` bytes of `buffer`
/// (`capacity` bytes in all) into buffer[0 .. unpacked_size), with the speed variant. When
/// the result is ok, those bytes, `written` and `consumed` are exactly what
/// jc_decode_checked gives for the same block into a separate destination. When the stream
/// would write at or beyond the first block byte it has not yet read, the result is
/// in_place_overlap: the buffer's content is then unspecified, and the block must be read
/// again and decoded into a separate destination. A capacity below unpacked_size or below
/// block_size gives too_small; any other failure the status jc_decode_checked gives for the
/// block. Never reads or writes outside buffer[0 .. capacity), whatever the buffer holds.
JcResult jc_decode_in_place(uint8_t* buffer, size_t capacity, size_t block_size);

/// The capacity to allocate for decoding a block of `block_size` bytes that unpacks to
/// `unpacked_size` bytes in place: every block jc_compress writes (at any level) decodes in
/// place in it. At least the larger of the two sizes, at most their sum (with which the
/// block lies after the output and any block decodes); in between, unpacked_size plus about
/// a seventh of it plus 2 KiB. SIZE_MAX when the sum does not fit a size_t.
size_t jc_in_place_capacity(uint32_t unpacked_size, size_t block_size);

inline constexpr int kJcMinLevel = 1;  ///< fastest
inline constexpr int kJcMaxLevel = 9;  ///< optimal parsing, the smallest blocks
inline constexpr int kJcDefaultLevel = 9;
inline constexpr uint64_t kJcMaxInputSize = UINT32_MAX;  ///< unpacked_size is 32 bits

/// The most bytes jc_compress can need for `size` input bytes (header, stream and end
/// marker included), or 0 when `size` is more than kJcMaxInputSize.
size_t jc_compress_bound(size_t size);

/// Compresses `size` bytes (1 to kJcMaxInputSize) at `level` (kJcMinLevel to kJcMaxLevel)
/// into one JC block with its checksum, written to `out` (capacity bytes); `*written` is
/// set to the block's size when the result is ok, and to 0 otherwise. Results: ok;
/// bad_argument for a level out of range, no input or too much of it; too_small when the
/// block does not fit `capacity` (never with jc_compress_bound(size) bytes); out_of_memory.
/// Never writes outside `out`; never throws.
JcStatus jc_compress(const uint8_t* data, size_t size, int level, uint8_t* out, size_t capacity,
                     size_t* written);

/// A short description of `status` for messages ("checksum mismatch").
const char* jc_status_text(JcStatus status);
