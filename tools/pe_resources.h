// Reading a Windows program's resources from its file's bytes: the resource directory found
// through the optional header and the section table, one resource of a given type, and the
// fixed part of a version resource. Every offset and size read from the file is checked
// against the file's bytes first: a damaged file is reported, never read past.
#pragma once

#include <cstdint>
#include <span>
#include <string>

/// Resource types.
inline constexpr uint32_t kResourceTypeVersion = 16;
inline constexpr uint32_t kResourceTypeManifest = 24;

/// Finds the first resource of `type` (its first name, its first language) in the program
/// whose file is `file`, and points `*resource` at its bytes within `file`. False, with
/// `*error` saying why, when `file` is not a Windows program, has no such resource, or its
/// headers, sections or resource directory lead outside the file.
bool find_pe_resource(std::span<const uint8_t> file, uint32_t type,
                      std::span<const uint8_t>* resource, std::string* error);

/// A four-part version, most significant part first.
struct FourPartVersion {
  uint16_t part[4] = {};
  std::string text() const;  ///< "1.2.0.0"
};

/// The versions of a version resource's fixed file information.
struct FixedFileVersions {
  FourPartVersion file;
  FourPartVersion product;
};

/// Reads the fixed file information at the start of the version resource `resource`. False,
/// with `*error` saying why, when it is not there, is cut short or lacks its signature.
bool read_fixed_file_versions(std::span<const uint8_t> resource, FixedFileVersions* versions,
                              std::string* error);
