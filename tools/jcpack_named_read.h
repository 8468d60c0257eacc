// `jcpack list` and `jcpack unpack` of a file that ends with a named archive (a
// self-extractor; see pack/named_archive.h for the layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Whether the `size` bytes at `file` are to be read as a named archive (intact or damaged)
/// rather than as a plain pack archive: they end with a named trailer's magic and do not
/// walk as a pack archive from their first byte to their last.
bool jcpack_has_named_trailer(const uint8_t* file, size_t size);

/// `jcpack list` of a file that ends with a named archive: one line per entry on standard
/// output ("INDEX UNPACKED STORED jc|stored|folder x|- MTIME ok|REASON PATH"), one per
/// failure on standard error. `shown` names the file in messages. 0 when the archive is
/// intact and every entry unpacks, 1 otherwise.
int jcpack_named_list(const std::string& shown, const std::vector<uint8_t>& file);

/// `jcpack unpack` of a file that ends with a named archive into the folder `dir` (made when
/// missing). The whole archive is checked first; a damaged one, an unsafe or repeated name
/// leaves every file untouched. Each entry is then written under its own path, never outside
/// `dir` and never through a symbolic link, to a new file renamed over the target once it
/// is complete, with its modification time and executable bit. 0 when every entry was
/// written, 1 otherwise.
int jcpack_named_unpack(const std::string& shown, const std::vector<uint8_t>& file,
                        const std::string& dir);
