#include "runtime/workspace.h"

#include <cstring>

RuntimeMemory runtime_memory;

namespace {

constexpr char kEmptyString[1] = {0};

const unsigned char* or_empty(const char* s) {
  return reinterpret_cast<const unsigned char*>(s ? s : kEmptyString);
}

/// Compares two strings as unsigned bytes; <0, 0 or >0 like strcmp.
int compare(const char* first, const char* second) {
  const unsigned char* a = or_empty(first);
  const unsigned char* b = or_empty(second);
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

/// Length of `s`, but no further than `limit` bytes.
size_t bounded_length(const char* s, size_t limit) {
  const void* zero = std::memchr(s, 0, limit);
  return zero ? static_cast<size_t>(static_cast<const char*>(zero) - s) : limit;
}

}  // namespace

bool main_heap_create() {
  runtime_memory.main_heap = platform_heap_create(kMainHeapInitialSize, 0);
  return runtime_memory.main_heap != nullptr;
}

void main_heap_destroy() {
  platform_heap_destroy(runtime_memory.main_heap);
  runtime_memory = RuntimeMemory{};
}

void* main_heap_alloc(size_t size, bool zero_fill) {
  return platform_heap_alloc(runtime_memory.main_heap, size, zero_fill);
}

void* main_heap_realloc(void* block, size_t size) {
  return platform_heap_realloc(runtime_memory.main_heap, block, size);
}

void main_heap_free(void* block) {
  platform_heap_free(runtime_memory.main_heap, block);
}

bool string_workspace_create() {
  runtime_memory.workspace = static_cast<char*>(main_heap_alloc(kStringWorkspaceSize, true));
  runtime_memory.string_cursor = runtime_memory.workspace;
  return runtime_memory.workspace != nullptr;
}

char* string_mark() {
  return runtime_memory.string_cursor;
}

void string_rewind(char* mark) {
  runtime_memory.string_cursor = mark;
}

size_t string_room(const char* dest) {
  const char* start = runtime_memory.workspace;
  if (!start || !dest) return 0;
  // Compare as integers: dest may point anywhere.
  auto d = reinterpret_cast<uintptr_t>(dest);
  auto s = reinterpret_cast<uintptr_t>(start);
  if (d < s || d - s >= kStringWorkspaceSize) return 0;
  return kStringWorkspaceSize - (d - s);
}

char* string_limit(char* dest) {
  return dest + string_room(dest) - 1;
}

void string_assign_copy(char** slot, const char* source) {
  if (!source) return;
  size_t length = std::strlen(source);
  auto* block = static_cast<char*>(main_heap_alloc(length + 2));
  if (block) std::memcpy(block, source, length + 1);
  *slot = block;
}

void string_assign(char** slot, const char* source) {
  // The copy is taken before the old block goes, so that a source inside that very
  // block (a variable assigned to itself) is never read after it is freed.
  char* old = *slot;
  *slot = nullptr;
  string_assign_copy(slot, source);
  main_heap_free(old);
}

void string_assign_from_workspace(char** slot, char* mark) {
  main_heap_free(*slot);
  *slot = nullptr;
  char* cursor = runtime_memory.string_cursor;
  size_t size = cursor >= mark ? static_cast<size_t>(cursor - mark) + 1 : 1;
  auto* block = static_cast<char*>(main_heap_alloc(size));
  runtime_memory.string_cursor = mark;
  if (!block) return;
  size_t room = string_room(mark);
  size_t length = room ? bounded_length(mark, room < size ? room : size) : 0;
  if (length >= size) length = size - 1;
  std::memcpy(block, mark, length);
  block[length] = 0;
  *slot = block;
}

void string_release(char* block) {
  main_heap_free(block);
}

void string_append(const char* source) {
  char* cursor = runtime_memory.string_cursor;
  size_t room = string_room(cursor);
  if (room == 0) return;
  if (!source) {
    std::memset(cursor, 0, room < 4 ? room : 4);
    return;
  }
  size_t length = bounded_length(source, room - 1);
  std::memmove(cursor, source, length);
  cursor[length] = 0;
  runtime_memory.string_cursor = cursor + length;
}

int string_equal(const char* first, const char* second) {
  return compare(first, second) == 0;
}

int string_greater(const char* first, const char* second) {
  return compare(first, second) > 0;
}

int string_less(const char* first, const char* second) {
  return compare(first, second) < 0;
}
