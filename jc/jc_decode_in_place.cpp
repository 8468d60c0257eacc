// Decoding a block in place: the block lies in the tail of the buffer that receives its
// bytes, and the output grows from the buffer's start towards the part of the stream not yet
// read. A translation unit of its own, so that programs that decode into a separate buffer
// link none of it.
#include "jc/jc.h"
#include "jc/jc_decode_fast.h"

// How much room a block needs to be decoded in place.
//
// Let the block (B bytes) lie at offset D = capacity - B. When a token has been read, the
// decoder has loaded every stream word that holds one of the bits taken so far, so the next
// word to load lies at or after D + kJcHeaderSize + taken_bits / 8 (the header is read before
// the first token and is free from then on). The token's writes must end at or before it.
// The stream has at least 8 * (B - kJcHeaderSize) - 31 bits (only its last word is padded),
// so with R the bits after the token and r the bytes still to be written after it, a write
// ending at U - r is safe when
//
//     U - r <= capacity - R / 8 - 4,  that is  capacity >= U + (R / 8 - r) + 4.
//
// The room needed is therefore U plus the largest excess R / 8 - r over all the stream's
// tails, plus 4 bytes. A tail costs more bits than it writes bytes only where the encoder
// spent more than 8 bits per byte, and it never spends much more than 9:
//
//   - A literal costs 9 bits for its byte with 8-bit literals, 8 with 7-bit ones; a zero byte
//     or a one-byte match 7; a short match 12 bits for 2 to 5 bytes; a repeat match at most
//     4 + 2 log2(L) bits for L bytes.
//   - A raw chunk costs 2049 bits for 256 bytes, 2057 when it starts a run, and replaces 256
//     single-byte tokens only when they would have cost more.
//   - The optimal parse takes the cheapest path to the end of each segment at prices of at
//     most 9 bits for a byte on its own, so whatever tail of its path it takes costs no more
//     than those bytes one by one. The greedy parse takes a match only when it costs less
//     than its bytes one by one at the index shift in force when it is parsed; the shifts
//     are planned afterwards as a cheapest path over 2048-byte units, which keeps every tail
//     of whole units within the parse's prices plus one change of shift, while the one unit
//     that a tail cuts may cost up to 6 bits more per byte (a 2-byte match at offset 128 costs
//     30 bits at shift 24): at most 1,536 bytes.
//   - Unpriced: a literal-size change (at most 16 bits; the encoder changes only when a
//     literal does not fit, so once into each stretch of 7-bit literals, which is at least
//     256 bytes long, and once into 8-bit literals, which fit every byte), below 1/8 bit per
//     byte; a change of index shift (at most 17 bits, once per 2048-byte unit), below 1/64
//     bit per byte; the end marker and the padding of the last word.
//
// So the excess of any tail of r bytes stays below r / 8 + r / 64 + r / 512 + 2 KiB, with
// r at most U, and kInPlaceSlack covers the constant parts and the 4 bytes above. The first
// term is real: noise with a 3-byte repeat every 200 bytes, which the fastest level codes
// as 8-bit literals between short matches, needs a tenth of its length. Data that
// compresses needs little or nothing: its tails cost fewer bits than they write bytes.
//
// Placed at the end of U + B bytes, the block lies after the output altogether and decodes
// in place whatever it holds; the capacity is the smaller of the two, and never less than
// the block itself.

namespace {

/// The constant part of the margin: the one shift unit a tail cuts, a few unpriced tokens,
/// the last word's padding and the decoder's read-ahead. No block the encoder was seen to
/// write needs it: their tails cost at most about 9 bits a byte, which the part that grows
/// with the size covers alone. It stays for the tail the derivation allows: one that starts
/// in a 2 KiB unit whose planned shift makes its 2-byte matches cost 15 bits a byte needs
/// some 1,800 bytes beyond its output, in a block of a few KiB whose growing part is a
/// third of that. Without it such a block would not be decoded wrong, but read again into
/// room for block and output apart.
constexpr size_t kInPlaceSlack = 2048 + 64;

/// a + b, or SIZE_MAX when that does not fit (a capacity no allocation can meet).
size_t add_saturating(size_t a, size_t b) {
  return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

}  // namespace

size_t jc_in_place_capacity(uint32_t unpacked_size, size_t block_size) {
  const size_t u = unpacked_size;
  const size_t margin = add_saturating(u / 8 + u / 64 + u / 512, kInPlaceSlack);
  const size_t apart = add_saturating(u, block_size);
  const size_t shared = add_saturating(u, margin);
  const size_t capacity = shared < apart ? shared : apart;
  return capacity > block_size ? capacity : block_size;
}

JcResult jc_decode_in_place(uint8_t* buffer, size_t capacity, size_t block_size) {
  jc_gamma_table_prepare();
  if (block_size > capacity) return {JcStatus::too_small, 0, 0};
  const uint8_t* const block = buffer + (capacity - block_size);
  JcBlock header;
  const JcStatus status = jc_decode_prepare(block, block_size, capacity, &header);
  if (status != JcStatus::ok) return {status, 0, 0};
  FastState s{block + kJcHeaderSize,
              block + block_size,
              0,
              0,
              buffer,
              buffer,
              buffer + header.unpacked_size,
              kJcStartLastOffset,
              kJcStartIndexShift,
              0,
              0};
  if (run_tokens<true>(s) == JcStep::fail) {
    return {s.overlap ? JcStatus::in_place_overlap : JcStatus::corrupt_stream, 0, 0};
  }
  return jc_decode_finish(header, buffer, size_t(s.out - buffer), consumed_bytes(s, block));
}
