// `jcpack sfx`: the content of a self-extractor, compressed on many threads. The files'
// bytes, back to back in the table's order, are cut into blocks of `chunk` bytes (the last
// one shorter); each block is compressed on its own, so the blocks can be made at once on
// every core, and the output is the same bytes whatever the number of threads. Small files
// thus share blocks (the encoder's window spans them), and a large file is a run of blocks
// that each decode alone.
//
// Memory: blocks are read into a ring of 2 slots per thread, each holding a block's input
// and its compressed form; besides the ring, each thread holds the encoder's tables for one
// block (jc_encode_memory(chunk, level)). Nothing else grows with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

/// The size of a block of content: large enough that the encoder's window spans many small
/// files and a large file's blocks lose little against one block, small enough that the
/// self-extractor holds few of them at once.
inline constexpr size_t kSfxDefaultChunk = 8u << 20;
/// The level `jcpack sfx` compresses at unless told otherwise.
inline constexpr int kSfxDefaultLevel = 6;
/// Slots of the ring per thread.
inline constexpr unsigned kSfxSlotsPerThread = 2;

/// Fills `out` with the next `size` bytes of the content; false after a message.
using ContentRead = std::function<bool(uint8_t* out, size_t size)>;
/// Takes the next block, a whole pack entry, and how many bytes of content it and the ones
/// before hold; false after a message.
using BlockWrite = std::function<bool(const std::vector<uint8_t>& entry, uint64_t done)>;

/// Compresses the `total` bytes of content that `read` gives at `level` on `threads`
/// threads (at least 1), in blocks of `chunk` bytes, and hands each to `write` in order.
/// False after a message (a read or write that failed, or memory that ran out).
bool compress_content(uint64_t total, size_t chunk, int level, unsigned threads,
                      const ContentRead& read, const BlockWrite& write);

/// The memory one thread needs at most: its slots and the encoder's tables.
uint64_t compress_memory_per_thread(size_t chunk, int level);
