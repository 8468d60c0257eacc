// The program directory: the directory of the program's own file, with its trailing path
// separator. Taken once at start-up; names are probed and the archive opened there.
#pragma once

#include <cstddef>

#include "platform/process.h"

/// Size of the program directory's buffer, its terminating zero included: the longest
/// path the program handles.
inline constexpr size_t kProgramDirectorySize = kMaxPathSize;

/// The program directory, zero-terminated; empty before start-up and when the program's
/// file name holds no separator.
extern char program_directory[kProgramDirectorySize];

/// Takes the program directory from `module_file_name`, the full path of the program's own
/// file (which may be `program_directory` itself): its first kProgramDirectorySize - 1
/// characters are kept and cut
/// after the last path separator, which stays. Null gives the empty directory.
void program_directory_init(const char* module_file_name);
