// Where a named archive appended to a signed Windows program ends.
//
// Signing a Windows program appends its signature to the file as the program's certificate
// table, behind everything that was there, so the archive's trailer no longer ends the file.
// The signer first pads the file with zero bytes to a multiple of 8, so up to 7 zero bytes
// may lie between the trailer and the table. Removing the signature later takes the table
// away but leaves that padding.
//
// The fields read (little-endian):
//
//   DOS header      offset 0      u16  "MZ"
//                   offset 0x3C   u32  e_lfanew: file offset of the PE signature
//   PE signature    e_lfanew      4 bytes "PE\0\0"
//   file header     e_lfanew + 4  20 bytes; at its offset 16 u16 SizeOfOptionalHeader
//   optional header e_lfanew + 24 SizeOfOptionalHeader bytes: at offset 0 u16 magic, 0x10b
//                                 (PE32) or 0x20b (PE32+); u32 NumberOfRvaAndSizes at 92
//                                 (PE32) or 108 (PE32+), the data directory right after it:
//                                 NumberOfRvaAndSizes entries of u32 address, u32 size
//   data directory entry 4        the certificate table; unlike every other entry its
//                                 address is a file offset, not an address in memory.
//                                 Address and size 0: the program is not signed.
//
// The archive ends where the certificate table starts when the table ends the file, or at
// the file's end when the directory holds no table; from there back over at most 7 zero
// bytes to where a trailer's magic ends the bytes before. In every other case (not a PE
// file, a header cut short or out of range, a table elsewhere, no magic found) the archive
// ends at the file's end, as for any other file.
#pragma once

#include <cstddef>
#include <cstdint>

/// Reads `count` bytes at `offset` of a file into `out`; false unless all were read.
using SignedProgramRead = bool (*)(void* context, uint64_t offset, uint8_t* out, size_t count);

inline constexpr size_t kSignedProgramMaxPadding = 7;  ///< zero bytes a signer pads with

/// Where the named archive appended to a file of `file_size` bytes ends (see above): the
/// file's size unless the file is a PE program whose trailer lies before its certificate
/// table or its padding. Reads only inside the file, through `read` with `context`.
uint64_t signed_program_archive_end(SignedProgramRead read, void* context, uint64_t file_size);
