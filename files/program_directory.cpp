#include "files/program_directory.h"

#include <cstring>

#include "platform/process.h"

char program_directory[kProgramDirectorySize];

void program_directory_init(const char* module_file_name) {
  if (!module_file_name) {
    program_directory[0] = 0;
    return;
  }
  size_t length = strnlen(module_file_name, kProgramDirectorySize - 1);
  std::memmove(program_directory, module_file_name, length);  // the source may be the buffer
  program_directory[length] = 0;
  const char* separator = std::strrchr(program_directory, kPathSeparator);
  size_t cut = separator ? static_cast<size_t>(separator - program_directory) + 1 : 0;
  program_directory[cut] = 0;
}
