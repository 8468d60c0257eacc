// The pack archive the program carries, made at build time from the six payload files.
#pragma once

#include <cstdint>

#include "pack/archive_digest.h"

/// Number of bytes of carried_archive.
extern const uint32_t carried_archive_size;

/// The archive's bytes: six entries in the order of the payload table.
extern const uint8_t carried_archive[];

/// The digest of the archive's bytes as the build packed them, recorded beside them so that
/// the program can tell whether they are still the same.
extern const ArchiveDigest carried_archive_digest;
