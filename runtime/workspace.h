// The runtime's memory: the main heap, the string workspace in which every string
// result is built, the string cursor, string variables and their comparisons.
//
// Workspace discipline: an operation that produces a string is given a destination
// (normally the `mark` of its statement, the cursor's value when the statement began),
// writes its result there, ends it with a zero byte, leaves `string_cursor` on that zero
// and returns the destination. A statement that keeps the result copies it into a string
// variable with `string_assign_from_workspace`, which puts the cursor back at the mark.
//
// Every result is bounded by the workspace: a result that would not fit is cut so that
// its terminating zero is the workspace's last byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/heap.h"

inline constexpr uint32_t kMainHeapInitialSize = 4000;
inline constexpr uint32_t kStringWorkspaceSize = 64000;

/// The runtime's memory record, all zero before start-up.
struct RuntimeMemory {
  PlatformHeap main_heap;  ///< every dynamic block of the run comes from here
  char* workspace;         ///< the StringWorkspace, kStringWorkspaceSize zero-filled bytes
  char* string_cursor;     ///< where the next string result begins
};

extern RuntimeMemory runtime_memory;

/// Creates the main heap (4,000 bytes initially, growable). False on failure.
bool main_heap_create();

/// Destroys the main heap with every block in it (the workspace included) and clears
/// the record.
void main_heap_destroy();

/// Allocates `size` bytes from the main heap, zero-filled when asked. Null on failure.
void* main_heap_alloc(size_t size, bool zero_fill = false);

/// Resizes a main-heap block to `size` bytes, keeping its contents (bytes beyond the old
/// size are zero); the block may move. Null when it cannot, the block left as it was.
void* main_heap_realloc(void* block, size_t size);

/// Frees one main-heap block; null does nothing.
void main_heap_free(void* block);

/// Allocates the zero-filled StringWorkspace and puts the string cursor on its first
/// byte. False when the block cannot be had.
bool string_workspace_create();

/// The current string cursor: the mark of a statement that begins to build a string.
char* string_mark();

/// Puts the string cursor back at `mark`.
void string_rewind(char* mark);

/// Number of bytes that a result built at `dest` may use, its terminating zero
/// included; 0 when `dest` does not lie inside the workspace.
size_t string_room(const char* dest);

/// Last byte of the workspace a result at `dest` may use for its terminating zero.
char* string_limit(char* dest);

/// Frees the variable's block, then copies `source` into a new block (see
/// string_assign_copy). Assigning a variable its own text keeps the text.
void string_assign(char** slot, const char* source);

/// Copies `source` into a new block of length + 2 bytes and stores it in the slot,
/// without freeing what the slot held. A null source leaves the slot unchanged; a failed
/// allocation leaves it null.
void string_assign_copy(char** slot, const char* source);

/// Frees the slot's block, stores a copy of the string built at `mark` (up to its first
/// zero) in a block of (string_cursor - mark) + 1 bytes and puts the cursor back at
/// `mark`. A failed allocation leaves the slot null.
void string_assign_from_workspace(char** slot, char* mark);

/// Frees a string variable's block; null does nothing.
void string_release(char* block);

/// Copies `source` with its zero to the string cursor and leaves the cursor on that
/// zero; a null source writes four zero bytes at the cursor and leaves it in place.
void string_append(const char* source);

/// 1 when both strings (null is empty) are equal byte for byte, else 0.
int string_equal(const char* first, const char* second);

/// 1 when `first` sorts after `second` (unsigned bytes, prefix first), else 0.
int string_greater(const char* first, const char* second);

/// 1 when `first` sorts before `second`, else 0.
int string_less(const char* first, const char* second);
