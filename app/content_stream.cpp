#include "app/content_stream.h"

#include "app/entry_decoder.h"

namespace {

/// The stream: the block that holds the next byte, where it starts and ends in the content,
/// and how far the content has been taken.
struct ContentStream {
  const uint8_t* bytes;  ///< the block's unpacked bytes (the decoder's); null when it failed
  UnpackResult result;   ///< how the block came out
  uint64_t block_start;  ///< content offset of the block's first byte
  uint64_t block_end;    ///< content offset just past its last byte
  uint64_t position;     ///< the next byte to be taken
  bool running;
};

ContentStream content;

/// Lets go of the block in hand and takes the next one from the decoder; false when there
/// is none left (the stream's end: every byte has been taken).
bool next_block() {
  PackEntryHeader header{};
  uint8_t* bytes = nullptr;
  content.result = entry_blocks_next(&header, &bytes);
  content.bytes = bytes;
  if (content.result == UnpackResult::ok && header.unpacked_size == 0) return false;
  content.block_start = content.block_end;
  content.block_end += header.unpacked_size;
  return true;
}

}  // namespace

bool content_start(const ArchiveSource& source) {
  content = ContentStream{};
  content.running = entry_blocks_start(source);
  return content.running;
}

UnpackResult content_next(uint64_t want, const uint8_t** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (!content.running) return UnpackResult::unreadable;
  while (content.position >= content.block_end) {
    if (!next_block()) return UnpackResult::unreadable;
    // A block that failed before the position reached it: its bytes were skipped.
  }
  if (content.result != UnpackResult::ok) return content.result;
  const uint64_t left = content.block_end - content.position;
  const uint64_t piece = want < left ? want : left;
  *data = content.bytes + (content.position - content.block_start);
  *size = static_cast<size_t>(piece);
  content.position += piece;
  return UnpackResult::ok;
}

void content_skip(uint64_t count) {
  content.position += count;
}

void content_stop() {
  if (content.running) entry_blocks_stop();
  content = ContentStream{};
}
