// The pack archive the program carries, made at build time from the six payload files.
#pragma once

#include <cstdint>

/// Number of bytes of carried_archive.
extern const uint32_t carried_archive_size;

/// The archive's bytes: six entries in the order of the payload table.
extern const uint8_t carried_archive[];
