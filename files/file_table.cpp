#include "files/file_table.h"

#include <iterator>

#include "runtime/workspace.h"

FileTable file_table;

namespace {

/// How the platform is asked to open a file in one mode.
struct ModeParameters {
  uint32_t access;
  uint32_t share;
  FileDisposition disposition;
};

constexpr uint32_t kReadWrite = kFileAccessRead | kFileAccessWrite;

/// Indexed by mode - 1. In modes 1 to 3 others may read the file but not write it; in
/// modes 4 and 5 nobody else may open it.
constexpr ModeParameters kModeParameters[] = {
    {kFileAccessRead, kFileShareRead, FileDisposition::kOpenExisting},
    {kReadWrite, kFileShareRead, FileDisposition::kOpenAlways},
    {kFileAccessWrite, kFileShareRead, FileDisposition::kCreateAlways},
    {kReadWrite, kFileShareNone, FileDisposition::kOpenExisting},
    {kFileAccessWrite, kFileShareNone, FileDisposition::kCreateNew},
};

/// True when `reference` designates one of the table's existing slots.
bool is_slot_number(FileReference reference) {
  return file_table.slots && reference >= 0 && reference <= file_table.capacity;
}

FileReference id_of(FileNode* node) {
  return reinterpret_cast<FileReference>(&node->handle);
}

/// The node whose id is `reference`, found in the dynamic list; null when no such id was
/// issued or its file has been closed.
FileNode* node_of_id(FileReference reference) {
  for (FileNode* node = file_table.dynamic_list; node; node = node->next) {
    if (id_of(node) == reference) return node;
  }
  return nullptr;
}

/// Allocates a zero-filled node on the object heap and links it in as the new head.
/// Returns its payload (the handle field), or null when no node can be had.
PlatformFile* object_list_push(FileNode** head) {
  auto* node = static_cast<FileNode*>(
      platform_heap_alloc(file_table.object_heap, sizeof(FileNode), /*zero_fill=*/true));
  if (!node) return nullptr;
  if (*head) {
    (*head)->prev = node;
    node->next = *head;
  }
  *head = node;
  return &node->handle;
}

/// Unlinks `node` from the list at `head` and frees it on the object heap.
void object_list_remove(FileNode** head, FileNode* node) {
  if (node == *head) {
    *head = node->next;
  } else {
    node->prev->next = node->next;
    if (node->next) node->next->prev = node->prev;
  }
  platform_heap_free(file_table.object_heap, node);
}

/// Grows the slot array so that `number` fits: the capacity becomes number + 10, the new
/// slots are empty and the array may move. False, with the table unchanged, when the
/// array cannot grow.
bool grow_slots(FileReference number) {
  int32_t capacity = static_cast<int32_t>(number) + kFileTableGrowth;
  size_t count = static_cast<size_t>(capacity) + 1;
  if (count > SIZE_MAX / sizeof(PlatformFile)) return false;
  void* grown = platform_heap_realloc(runtime_memory.main_heap, file_table.slots,
                                      count * sizeof(PlatformFile));
  if (!grown) return false;
  file_table.slots = static_cast<PlatformFile*>(grown);
  file_table.capacity = capacity;
  return true;
}

/// The place that is to receive a new handle for `reference`: a new node for -1, the
/// handle field of an open id, or the number's slot, the table grown first when the number
/// is not below the capacity. Null when the reference can take no file or no place can
/// be had.
PlatformFile* file_slot_obtain(FileReference reference) {
  if (reference == kNewDynamicFile) return object_list_push(&file_table.dynamic_list);
  if (file_table.slots && reference >= 0 && reference < file_table.capacity) {
    return &file_table.slots[reference];
  }
  if (FileNode* node = node_of_id(reference)) return &node->handle;
  if (reference < 0 || reference > kMaxFileNumber || !grow_slots(reference)) return nullptr;
  return &file_table.slots[reference];
}

/// Empties the slot of a number, or unlinks and frees the node of an id.
void file_slot_release(FileReference reference) {
  if (is_slot_number(reference)) {
    file_table.slots[reference] = nullptr;
  } else if (FileNode* node = node_of_id(reference)) {
    object_list_remove(&file_table.dynamic_list, node);
  }
}

}  // namespace

PlatformHeap object_heap_create() {
  file_table.object_heap = platform_heap_create(kObjectHeapInitialSize, 0);
  return file_table.object_heap;
}

bool file_table_init() {
  size_t count = static_cast<size_t>(kFileTableInitialCapacity) + 1;
  file_table.slots =
      static_cast<PlatformFile*>(main_heap_alloc(count * sizeof(PlatformFile), /*zero_fill=*/true));
  file_table.capacity = file_table.slots ? kFileTableInitialCapacity : 0;
  file_table.current_handle = nullptr;
  return file_table.slots != nullptr;
}

FileReference file_open_with_mode(FileReference reference, const char* name, FileOpenMode mode) {
  file_table.current_handle = nullptr;
  auto index = static_cast<size_t>(mode) - 1;
  if (index >= std::size(kModeParameters)) return 0;
  const ModeParameters& p = kModeParameters[index];
  PlatformFile handle = platform_file_open(name, p.access, p.share, p.disposition);
  if (!handle || handle == kPlatformInvalidFile) return 0;

  // The new file is opened before the old one under the same reference is closed, so the
  // sharing rules apply between the two.
  PlatformFile* slot = file_slot_obtain(reference);
  if (!slot) {
    platform_file_close(handle);
    return 0;
  }
  if (*slot) platform_file_close(*slot);
  *slot = handle;
  file_table.current_handle = handle;
  if (reference == kNewDynamicFile) return reinterpret_cast<FileReference>(slot);
  return reinterpret_cast<FileReference>(handle);
}

FileReference file_open_for_reading(FileReference reference, const char* name) {
  return file_open_with_mode(reference, name, FileOpenMode::kRead);
}

FileReference file_open_for_update(FileReference reference, const char* name) {
  return file_open_with_mode(reference, name, FileOpenMode::kUpdate);
}

FileReference file_create_for_writing(FileReference reference, const char* name) {
  return file_open_with_mode(reference, name, FileOpenMode::kCreate);
}

FileReference file_open_exclusive(FileReference reference, const char* name) {
  return file_open_with_mode(reference, name, FileOpenMode::kExclusive);
}

FileReference file_create_new(FileReference reference, const char* name) {
  return file_open_with_mode(reference, name, FileOpenMode::kCreateNew);
}

PlatformFile* file_slot_find(FileReference reference) {
  PlatformFile* slot = nullptr;
  if (is_slot_number(reference)) {
    slot = &file_table.slots[reference];
  } else if (FileNode* node = node_of_id(reference)) {
    slot = &node->handle;
  }
  return slot && *slot ? slot : nullptr;
}

void file_close(FileReference reference) {
  PlatformFile* slot = file_slot_find(reference);
  if (!slot) return;
  PlatformFile handle = *slot;
  platform_file_close(handle);
  file_slot_release(reference);
  // A closed handle is never acted on again, even if the platform reissues its value.
  if (file_table.current_handle == handle) file_table.current_handle = nullptr;
}

PlatformFile file_select_current(FileReference reference) {
  if (PlatformFile* slot = file_slot_find(reference)) file_table.current_handle = *slot;
  return file_table.current_handle;
}

void file_close_all() {
  FileNode* node = file_table.dynamic_list;
  while (node) {
    FileNode* next = node->next;  // taken before the close frees the node
    file_close(id_of(node));
    node = next;
  }
  for (int32_t number = 0; number < file_table.capacity; ++number) file_close(number);
}

void object_heap_destroy() {
  platform_heap_destroy(file_table.object_heap);
  file_table.object_heap = nullptr;
  file_table.dynamic_list = nullptr;
}
