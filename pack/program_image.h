// Where a program's own bytes end in its file: what lies after them was appended.
//
// ELF (32- or 64-bit, little-endian): the furthest end of the file header, the program
// header table and the section header table, every segment's file bytes and every section
// that has bytes in the file (all but SHT_NOBITS).
//
// PE (PE32 or PE32+): the furthest end of the headers (SizeOfHeaders), every section's raw
// data, and a COFF symbol table with its string table where the file has one. A signature
// (certificate table) is not counted: it lies after an appended archive.
//
// Every field is read through a callback and checked against the file's size; a file that
// is neither, or whose headers do not fit, gives kProgramImageUnknown.
#pragma once

#include <cstdint>

#include "pack/signed_program.h"

/// The result for a file whose own end cannot be told.
inline constexpr uint64_t kProgramImageUnknown = 0;

/// The most header entries looked at; a table of more is taken for a damaged one.
inline constexpr uint32_t kProgramImageMaxEntries = 4096;

/// Where the program's own bytes end in a file of `file_size` bytes read through `read`
/// with `context`; kProgramImageUnknown when the file is not an ELF or PE program or its
/// headers do not fit in it.
uint64_t program_image_end(SignedProgramRead read, void* context, uint64_t file_size);
