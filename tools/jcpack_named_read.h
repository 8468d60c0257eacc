// `jcpack list`, `jcpack test` and `jcpack unpack` of a file that ends with a named archive
// (a self-extractor; see pack/named_archive.h for the layout). All three go through the
// extraction core the self-extractor itself uses (app/extract_core.h), so they check
// exactly what a run checks and report in English on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Each command takes the file's name and its bytes, read already; the bytes are used
/// only when the name is `-` (standard input), through a temporary file.

/// Whether the `size` bytes at `file` are to be read as a named archive (intact or damaged)
/// rather than as a plain pack archive: they end with a named trailer's magic and do not
/// walk as a pack archive from their first byte to their last.
bool jcpack_has_named_trailer(const uint8_t* file, size_t size);

/// `jcpack list` of the file `path`: one line per entry on standard output ("INDEX
/// UNPACKED STORED jc|stored|folder x|- MTIME ok|failed PATH"), each entry unpacked to see
/// that it is sound; one line per failure on standard error. 0 when a run would write every
/// entry, 1 otherwise.
int jcpack_named_list(const std::string& path, const std::vector<uint8_t>& file);

/// `jcpack test` of the file `path`: every check of the self-extractor's `--test` (the
/// archive's digest and table, every name, every entry unpacked); "OK NAME" or "FAILED NAME"
/// per entry on standard output, the reasons on standard error. 0 when a run would write
/// every entry, 1 otherwise.
int jcpack_named_test(const std::string& path, const std::vector<uint8_t>& file);

/// `jcpack unpack` of the file `path` into the folder `dir` (made with its parents when
/// missing), as the self-extractor does with -y -o DIR: the whole archive is checked first
/// (digest, table, names) and a damaged or refused one writes nothing; each entry goes to a
/// new file renamed over its target once it is complete (a replaced file keeps its
/// permission bits), never outside `dir` and never through a symbolic link. An entry whose
/// block does not unpack fails alone with its reason. 0 when every entry was written, 1
/// otherwise.
int jcpack_named_unpack(const std::string& path, const std::vector<uint8_t>& file,
                        const std::string& dir);
