// The ways of a program that differ between the two programs: how an entry of an archive
// is unpacked, the CRC-32 routine that checks an appended archive first, and how the
// folders of the entries are made. Each program links one of two sets: the built-in
// program the small one (its size is budgeted), the self-extractor stub the fast one (it
// unpacks whatever its users append, often hundreds of megabytes and thousands of files,
// and holds little more than the unpacked bytes of an entry while it does). Both give the
// same results for every input. Each also defines archive_unpack (archive_source.h).
#pragma once

#include <cstddef>
#include <cstdint>

/// Continues the CRC-32 `crc` over `size` more bytes with the program's routine; the
/// contract of crc32_update.
uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size);

/// Makes the folders of the entry named `path` (a safe name, parts separated by '/'), and
/// the entry itself when `whole` (a folder entry), where they are missing, and leaves in
/// `path` the name by which the entry is reached from the current folder. False when a part
/// exists as a link or as anything but a folder, or cannot be made.
bool entry_folders_make(char* path, bool whole);

/// Makes the output folder current again after entry_folders_make; false when the way
/// back up is lost.
bool entry_folders_leave();
