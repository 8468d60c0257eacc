// The list of this process's open file handles, one for both back ends: each back end's
// record of an open file starts with an OpenFileLink, and a handle given to the file
// service is looked up here before anything is read through it, so a handle that is not
// open (closed, never issued, null or the invalid value) is refused without being touched.
#pragma once

#include <cstddef>

/// The first member of every back end's record of an open file.
struct OpenFileLink {
  OpenFileLink* next;  ///< the next older open file, null at the end
};

/// Every open file, newest first.
struct OpenFileList {
  OpenFileLink* head;
  const void** removal_log;  ///< test hook: where removed handles are written, or null
  size_t removal_capacity;   ///< entries the log can hold
  size_t* removal_count;     ///< removals seen since the log was set
};

extern OpenFileList open_file_list;

/// Puts `link` at the head of the list.
void open_file_list_add(OpenFileLink* link);

/// The link at the address `file` when it is on the list, else null. `file` is only
/// compared, never read through.
OpenFileLink* open_file_list_find(const void* file);

/// Takes the link at the address `file` off the list and returns it; null when it is not
/// on the list.
OpenFileLink* open_file_list_remove(const void* file);

/// Test hook: from now on, every handle taken off the list (every close) is written to
/// `log` in order, up to `capacity` of them, and `*count` counts them all. A null log stops
/// the watch.
void open_file_list_watch_removals(const void** log, size_t capacity, size_t* count);
