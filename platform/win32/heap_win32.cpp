// Private heaps on Windows: each platform heap is a growable system heap. A heap created
// with a maximum keeps the sum of its live blocks within it itself: its blocks carry a
// small header with their size, because a growable system heap has no such bound.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/heap.h"

namespace {

/// The record behind a PlatformHeap; it lives in its own system heap, so that destroying
/// the system heap frees it too.
struct HeapRecord {
  HANDLE system_heap;
  size_t maximum;     // 0: no limit, blocks have no header
  size_t live_bytes;  // sum of the live blocks' sizes, kept when bounded
};

/// Header in front of each block of a bounded heap; 16 bytes keep the blocks aligned.
struct BlockHeader {
  size_t size;
  size_t pad;
};

BlockHeader* header_of(void* block) {
  return static_cast<BlockHeader*>(block) - 1;
}

bool within_limit(const HeapRecord* heap, size_t old_size, size_t new_size) {
  size_t after = heap->live_bytes - old_size;
  return new_size <= heap->maximum && after <= heap->maximum - new_size;
}

DWORD zero_flag(bool zero_fill) {
  return zero_fill ? HEAP_ZERO_MEMORY : 0;
}

}  // namespace

PlatformHeap platform_heap_create(uint32_t initial_size, uint32_t maximum_size) {
  HANDLE system_heap = HeapCreate(0, initial_size, 0);
  if (!system_heap) return nullptr;
  auto* heap =
      static_cast<HeapRecord*>(HeapAlloc(system_heap, HEAP_ZERO_MEMORY, sizeof(HeapRecord)));
  if (!heap) {
    HeapDestroy(system_heap);
    return nullptr;
  }
  heap->system_heap = system_heap;
  heap->maximum = maximum_size;
  return heap;
}

void* platform_heap_alloc(PlatformHeap heap_handle, size_t size, bool zero_fill) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return nullptr;
  if (heap->maximum == 0) return HeapAlloc(heap->system_heap, zero_flag(zero_fill), size);
  if (!within_limit(heap, 0, size)) return nullptr;
  auto* h = static_cast<BlockHeader*>(
      HeapAlloc(heap->system_heap, zero_flag(zero_fill), sizeof(BlockHeader) + size));
  if (!h) return nullptr;
  h->size = size;
  heap->live_bytes += size;
  return h + 1;
}

void* platform_heap_realloc(PlatformHeap heap_handle, void* block, size_t size) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return nullptr;
  if (!block) return platform_heap_alloc(heap, size, true);
  if (heap->maximum == 0) return HeapReAlloc(heap->system_heap, HEAP_ZERO_MEMORY, block, size);
  BlockHeader* old = header_of(block);
  const size_t old_size = old->size;
  if (!within_limit(heap, old_size, size)) return nullptr;
  auto* h = static_cast<BlockHeader*>(
      HeapReAlloc(heap->system_heap, HEAP_ZERO_MEMORY, old, sizeof(BlockHeader) + size));
  if (!h) return nullptr;
  h->size = size;
  heap->live_bytes = heap->live_bytes - old_size + size;
  return h + 1;
}

bool platform_heap_free(PlatformHeap heap_handle, void* block) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return false;
  if (!block) return true;
  if (heap->maximum == 0) return HeapFree(heap->system_heap, 0, block) != 0;
  BlockHeader* h = header_of(block);
  const size_t size = h->size;
  if (!HeapFree(heap->system_heap, 0, h)) return false;
  heap->live_bytes -= size;
  return true;
}

void platform_heap_destroy(PlatformHeap heap_handle) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return;
  HeapDestroy(heap->system_heap);  // the record goes with it
}
