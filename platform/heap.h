// Private heaps: growable heaps from which blocks are taken one by one and which are
// destroyed whole, together with every block still in them.
#pragma once

#include <cstddef>
#include <cstdint>

/// A private heap; null is no heap.
using PlatformHeap = void*;

/// Creates a heap of `initial_size` bytes that grows as needed; a `maximum_size` of 0
/// means no limit, any other value bounds the sum of the live blocks. Null on failure.
PlatformHeap platform_heap_create(uint32_t initial_size, uint32_t maximum_size);

/// Allocates `size` bytes from `heap`, zero-filled when `zero_fill`. Null on failure.
void* platform_heap_alloc(PlatformHeap heap, size_t size, bool zero_fill);

/// Resizes `block` to `size` bytes, keeping its contents; bytes beyond the old size are
/// zero-filled. Returns the (possibly moved) block, or null with `block` left intact.
void* platform_heap_realloc(PlatformHeap heap, void* block, size_t size);

/// Frees one block of `heap`; a null block does nothing. True on success.
bool platform_heap_free(PlatformHeap heap, void* block);

/// Destroys `heap` and every block in it. A null heap does nothing.
void platform_heap_destroy(PlatformHeap heap);
