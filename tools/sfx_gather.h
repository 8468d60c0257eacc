// `jcpack sfx`, step 1: what goes into the self-extractor. Every PATH is looked at and every
// folder walked (sorted by name) before anything is written; a name the stub would refuse,
// two names for one file, or a missing or unreadable input
// ends the command here.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

/// One entry to be: where its bytes come from and what the table says about it.
struct SourceItem {
  std::string source;  ///< the path to open
  std::string name;    ///< the entry's path in the archive
  int64_t mtime = 0;
  uint64_t size = 0;
  bool folder = false;
  bool executable = false;
  bool follow = false;  ///< a PATH given by the user: a link to it is followed
};

/// What `jcpack sfx` has gathered, and what it must leave out.
struct Gathered {
  std::vector<SourceItem> items;
  uint64_t file_bytes = 0;  ///< sum of the files' sizes
  bool windows = false;     ///< for a Windows stub: names Windows cannot make are refused
  bool output_exists = false;
  dev_t output_device = 0;  ///< OUT's file, when it exists, is not taken as an input
  ino_t output_inode = 0;
};

/// Adds the PATH `arg` as the user gave it: a file, or a folder with all it holds (links
/// and other kinds of file inside are left out with a warning). A link named here is
/// followed. False after a message.
bool gather_path(const std::string& arg, Gathered* g);

/// Checks that no two items have the same name, or names that differ only in case when
/// `ignore_case` is set. False after a message naming both.
bool names_are_distinct(const std::vector<SourceItem>& items, bool ignore_case);
