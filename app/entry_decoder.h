// The ways of a program that differ between the two programs: where an appended archive
// ends, how its entries are read and unpacked, the CRC-32 routine that checks the archive
// first, and how the folders of the entries are made. Each program links one of two sets:
// the built-in program the small one (its size is budgeted), the self-extractor stub the
// fast one (it unpacks whatever its users append, often hundreds of megabytes and thousands
// of files, and holds little more than the unpacked bytes of an entry while it does). Both
// give the same results for every input, except that only the stub looks for its archive
// before a signed Windows program's signature. Each also defines archive_unpack
// (archive_source.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/archive_source.h"
#include "platform/file.h"

/// Continues the CRC-32 `crc` over `size` more bytes with the program's routine; the
/// contract of crc32_update.
uint32_t entry_crc32_update(uint32_t crc, const uint8_t* bytes, size_t size);

/// Makes the folders of the entry named `path` (a safe name, parts separated by '/'), and
/// the entry itself when `whole` (a folder entry), where they are missing, and leaves in
/// `path` the name by which the entry is reached from the current folder. False when a part
/// exists as a link or as anything but a folder, or cannot be made, and (the stub's set)
/// when a folder it shares with the previous entry's folder has gone since: it is not made
/// again. The stub's set finds the folders from the output folder, held from the first call
/// (the current folder then) until entry_folders_leave.
bool entry_folders_make(char* path, bool whole);

/// Makes the output folder current again after entry_folders_make and lets go of it; false
/// when the way back is lost.
bool entry_folders_leave();

/// Reads `count` bytes at `offset` of the entries part of the appended archive `source`
/// (the range lies inside it); false unless all of them were read.
bool entry_source_read(const ArchiveSource& source, uint64_t offset, uint8_t* out, size_t count);

/// Where an archive appended to `file` ends: the file's size (UINT64_MAX when it cannot be
/// had), or, with the stub's ways, where the trailer lies before a signed Windows program's
/// signature and its padding (pack/signed_program.h).
uint64_t entry_archive_end(PlatformFile file);

/// Whether bytes follow the program's own in `file`, which ends at `end` and holds no
/// trailer there: what is left of an archive whose end was cut off (pack/program_image.h).
/// The built-in program's set says no: it runs its own archive whatever follows it.
bool entry_bytes_appended(PlatformFile file, uint64_t end);

/// Forgets whatever entry_source_read keeps of a source that is being closed.
void entry_source_closed();

/// Starts delivering the blocks of the version 2 `source`'s content, in order. The stub's
/// set decodes the next block on a second thread while its caller works on the one before
/// (or on one thread, when no second can be had); the program's set decodes each block when
/// it is asked for. False when nothing can be had for it.
bool entry_blocks_start(const ArchiveSource& source);

/// The next block: its header and its unpacked bytes at `*bytes`, valid until the next call
/// or entry_blocks_stop, or why it failed (`*bytes` null; the header is still set, so the
/// stream goes on after it). After the last block: ok with a header of two zero sizes.
UnpackResult entry_blocks_next(PackEntryHeader* header, uint8_t** bytes);

/// Ends the delivery, frees what it holds, and waits for a second thread to end.
void entry_blocks_stop();
