// File table: files addressed by a number the caller chooses or by an id the table issues,
// each over an open platform file, and the current file on which every data operation acts.
//
// A file reference is read as follows:
//   0 to capacity     a file number, an index into `slots`;
//   -1                given to an open: asks for a new dynamically numbered file;
//   any other value   the id of a dynamically numbered file: the address of the `handle`
//                     field of its node, as the open returned it.
// A reference is open when its slot or its node's handle is not null. Values that are none
// of these (other negative numbers, ids that were closed or never issued, numbers above the
// capacity) are simply not open: ids are looked up in the dynamic list, never read through.
//
// The current file is set by every successful open and by selecting an open reference,
// cleared by a failed open and by closing the current file.
#pragma once

#include <cstdint>

#include "platform/file.h"
#include "platform/heap.h"

/// A file number, -1, or the id of a dynamically numbered file.
using FileReference = intptr_t;

/// The reference that asks an open for a new dynamically numbered file.
inline constexpr FileReference kNewDynamicFile = -1;

inline constexpr int32_t kFileTableInitialCapacity = 10;
/// A number at or above the capacity grows the table to that number plus this many.
inline constexpr int32_t kFileTableGrowth = 10;
/// The largest file number: the grown capacity must fit its signed 32 bits.
inline constexpr int32_t kMaxFileNumber = INT32_MAX - kFileTableGrowth;
inline constexpr uint32_t kObjectHeapInitialSize = 1024;

/// One dynamically numbered file, on the object heap. The first two fields are the links of
/// the object heap's lists; `handle` is the payload, whose address is the file's id.
struct FileNode {
  FileNode* next;  ///< next older node, null at the tail
  FileNode* prev;  ///< next newer node; meaningful only while this is not the head
  PlatformFile handle;
};

/// The four ways of opening a file.
enum class FileOpenMode {
  kRead = 1,       ///< existing file, read only
  kUpdate = 2,     ///< read and write; kept as it is, or created when missing
  kCreate = 3,     ///< write only; created, or emptied when it exists
  kExclusive = 4,  ///< existing file, read and write, shared with nobody
  kCreateNew = 5,  ///< write only, shared with nobody; made here, refused when the name exists
};

/// The file layer's record.
struct FileTable {
  int32_t capacity;             ///< numbers 0 to capacity - 1 can hold files
  PlatformFile* slots;          ///< capacity + 1 slots from the main heap; null is not open
  FileNode* dynamic_list;       ///< dynamically numbered files, newest first
  PlatformFile current_handle;  ///< the current file, null when there is none
  PlatformHeap object_heap;     ///< holds the FileNode records
};

extern FileTable file_table;

/// Creates the object heap (1,024 bytes, growable), keeps it in the table and returns it;
/// null on failure.
PlatformHeap object_heap_create();

/// Makes numbers 0 to 9 ready (slots from the main heap) with no current file. False when
/// the slots cannot be had; the table then grows on the first numbered open.
bool file_table_init();

/// Opens `name` under `reference` in `mode` and makes it the current file. A file already
/// open under the same number or id is closed after the new one opened and leaves its
/// place to it. Returns the new id for -1, the new handle for a number or an open id, and
/// 0 (with no current file, nothing else changed) when the platform refuses the open, the
/// reference can take no file, or its slot cannot be had.
FileReference file_open_with_mode(FileReference reference, const char* name, FileOpenMode mode);

/// Mode 1: an existing file, read only, others may read. As file_open_with_mode.
FileReference file_open_for_reading(FileReference reference, const char* name);

/// Mode 2: read and write, opened as it is or created empty, others may read.
FileReference file_open_for_update(FileReference reference, const char* name);

/// Mode 3: write only, created or emptied, others may read.
FileReference file_create_for_writing(FileReference reference, const char* name);

/// Mode 4: an existing file, read and write, nobody else may open it.
FileReference file_open_exclusive(FileReference reference, const char* name);

/// Mode 5: a new file made by this open, write only, nobody else may open it; refused when
/// anything of the name exists (a link included). As file_open_with_mode.
FileReference file_create_new(FileReference reference, const char* name);

/// Closes the file open under `reference` and frees its number or id; when it was the
/// current file there is no current file afterwards. A reference that is not open (-1
/// included) does nothing.
void file_close(FileReference reference);

/// Makes the file open under `reference` the current file; a reference that is not open
/// leaves the current file as it is. Returns the current handle afterwards (null if none).
PlatformFile file_select_current(FileReference reference);

/// Closes every open file: the dynamically numbered ones newest first, then the numbers
/// from 0 upward.
void file_close_all();

/// Destroys the object heap with every node still in it; the dynamic list is empty after.
void object_heap_destroy();

/// The slot (for a number) or handle field (for an id) of `reference` when it is open,
/// otherwise null.
PlatformFile* file_slot_find(FileReference reference);
