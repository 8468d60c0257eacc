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
  if (found) *at = found->next;
  return found;
}
