// File data access: reading, writing, positioning and measuring the current file of the
// file table, and the end test on any open file. Nothing is buffered: every operation acts
// on the platform's file position directly, so they may be freely interleaved.
//
// Values in files are little-endian: a byte is signed 8-bit, a word signed 16-bit, a long
// signed 32-bit, a float IEEE 754 single precision. Positions and sizes are signed 32-bit.
#pragma once

#include <cstdint>

#include "files/file_table.h"

/// Writes `count` bytes of `data` to the current file. Non-zero on success; 0 on failure,
/// without a current file, or when `data` is null or `count` 0 (nothing is written then).
int current_file_write_block(const void* data, uint32_t count);

/// Writes what has been written to the current file through to the storage device.
/// Non-zero on success; 0 on failure or without a current file.
int current_file_flush();

/// Reads up to `count` bytes of the current file into `buffer`; returns how many were read
/// (0 at the end, on failure and without a current file). The rest of the buffer is left.
uint32_t current_file_read_block(void* buffer, uint32_t count);

/// Reads one byte, sign-extended; 0 at the end or without a current file.
int32_t current_file_read_byte();

/// Reads a 16-bit word, sign-extended. A short read fills only the low byte; the missing
/// high byte counts as 0. 0 at the end or without a current file.
int32_t current_file_read_word();

/// Reads a 32-bit long; a short read fills only the low-order bytes that were read.
int32_t current_file_read_long();

/// Reads a single-precision float from its 4 bytes; a short read fills only the low-order
/// bytes. 0.0 at the end or without a current file.
float current_file_read_float();

/// Reads one line into the string workspace at the string cursor and returns its start,
/// the cursor left on its terminating zero. A line ends at a carriage return followed by a
/// line feed, at a line feed, at a carriage return alone, at a zero byte, or at the end of
/// the file; the terminator is consumed and not part of the text. A line too long for the
/// workspace is cut where the workspace ends, and its rest comes with the next read. Null,
/// with the cursor unmoved, without a current file or when the cursor is not inside the
/// workspace.
char* current_file_read_line();

/// Sets the current file's position from the start of the file; a negative position is
/// refused and changes nothing. No effect without a current file.
void current_file_seek(int32_t position);

/// The current file's position (its low 32 bits), -1 without a current file.
int32_t current_file_position();

/// The current file's size (its low 32 bits), -1 on failure or without a current file.
int32_t current_file_size();

/// -1 when the file open under `reference` (current or not) is at its end or cannot be
/// read, 0 otherwise and when the reference is not open. The position is left as it was.
int file_at_end(FileReference reference);
