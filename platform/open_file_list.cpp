#include "platform/open_file_list.h"

OpenFileList open_file_list;

void open_file_list_add(OpenFileLink* link) {
  link->next = open_file_list.head;
  open_file_list.head = link;
}

OpenFileLink* open_file_list_find(const void* file) {
  for (OpenFileLink* link = open_file_list.head; link; link = link->next)
    if (link == file) return link;
  return nullptr;
}

OpenFileLink* open_file_list_remove(const void* file) {
  OpenFileLink** at = &open_file_list.head;
  while (*at && *at != file) at = &(*at)->next;
  OpenFileLink* found = *at;
  if (!found) return nullptr;
  *at = found->next;
  if (open_file_list.removal_log) {
    size_t& seen = *open_file_list.removal_count;
    if (seen < open_file_list.removal_capacity) open_file_list.removal_log[seen] = found;
    ++seen;
  }
  return found;
}

void open_file_list_watch_removals(const void** log, size_t capacity, size_t* count) {
  open_file_list.removal_log = log;
  open_file_list.removal_capacity = log ? capacity : 0;
  open_file_list.removal_count = log ? count : nullptr;
  if (count) *count = 0;
}
