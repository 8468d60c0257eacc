// The self-extractor's pieces that its installer part shares with the rest of its front
// end (front_end_stub.cpp, installer.cpp); the built-in program links neither.
#pragma once

#include <cstdint>

#include "app/archive_source.h"

/// Environment variables an installer's command gets: the self-extractor's own file, the
/// folder the files were extracted into (the command's working folder), and the folder the
/// self-extractor was started from.
inline constexpr char kSelfVariable[] = "ENTPACKER_SELF";
inline constexpr char kFolderVariable[] = "ENTPACKER_FOLDER";
inline constexpr char kStartVariable[] = "ENTPACKER_START_FOLDER";

/// Notes the self-extractor's own file and the folder it was started from, before a run
/// changes the current folder.
void installer_start(const char* own_file);

/// The files of `source` and the bytes they hold.
void front_end_count(const ArchiveSource& source, uint32_t* files, uint64_t* bytes);
