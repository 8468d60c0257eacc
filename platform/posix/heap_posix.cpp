// Private heaps on top of malloc: every block carries a header that links it into its
// heap's list, so that destroying the heap can free every block still alive.
#include "platform/heap.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
  size_t size;
  size_t pad;  // keeps the user area 16-byte aligned on 64-bit hosts
};

struct HeapRecord {
  BlockHeader* first;
  size_t live_bytes;
  size_t maximum;  // 0: no limit
};

BlockHeader* header_of(void* block) {
  return static_cast<BlockHeader*>(block) - 1;
}

bool within_limit(const HeapRecord* heap, size_t old_size, size_t new_size) {
  if (heap->maximum == 0) return true;
  size_t after = heap->live_bytes - old_size;
  return new_size <= heap->maximum && after <= heap->maximum - new_size;
}

void link_block(HeapRecord* heap, BlockHeader* h) {
  h->prev = nullptr;
  h->next = heap->first;
  if (heap->first) heap->first->prev = h;
  heap->first = h;
}

void unlink_block(HeapRecord* heap, BlockHeader* h) {
  if (h->prev)
    h->prev->next = h->next;
  else
    heap->first = h->next;
  if (h->next) h->next->prev = h->prev;
}

}  // namespace

PlatformHeap platform_heap_create(uint32_t /*initial_size*/, uint32_t maximum_size) {
  auto* heap = static_cast<HeapRecord*>(std::calloc(1, sizeof(HeapRecord)));
  if (heap) heap->maximum = maximum_size;
  return heap;
}

void* platform_heap_alloc(PlatformHeap heap_handle, size_t size, bool zero_fill) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap || size > SIZE_MAX - sizeof(BlockHeader) || !within_limit(heap, 0, size))
    return nullptr;
  auto* h = static_cast<BlockHeader*>(zero_fill ? std::calloc(1, sizeof(BlockHeader) + size)
                                                : std::malloc(sizeof(BlockHeader) + size));
  if (!h) return nullptr;
  h->size = size;
  link_block(heap, h);
  heap->live_bytes += size;
  return h + 1;
}

void* platform_heap_realloc(PlatformHeap heap_handle, void* block, size_t size) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return nullptr;
  if (!block) return platform_heap_alloc(heap, size, true);
  BlockHeader* old = header_of(block);
  size_t old_size = old->size;
  if (size > SIZE_MAX - sizeof(BlockHeader) || !within_limit(heap, old_size, size)) return nullptr;
  unlink_block(heap, old);
  auto* h = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
  if (!h) {
    link_block(heap, old);
    return nullptr;
  }
  if (size > old_size) std::memset(reinterpret_cast<char*>(h + 1) + old_size, 0, size - old_size);
  h->size = size;
  link_block(heap, h);
  heap->live_bytes = heap->live_bytes - old_size + size;
  return h + 1;
}

bool platform_heap_free(PlatformHeap heap_handle, void* block) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return false;
  if (!block) return true;
  BlockHeader* h = header_of(block);
  unlink_block(heap, h);
  heap->live_bytes -= h->size;
  std::free(h);
  return true;
}

void platform_heap_destroy(PlatformHeap heap_handle) {
  auto* heap = static_cast<HeapRecord*>(heap_handle);
  if (!heap) return;
  BlockHeader* h = heap->first;
  while (h) {
    BlockHeader* next = h->next;
    std::free(h);
    h = next;
  }
  std::free(heap);
}
