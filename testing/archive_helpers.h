// Test support: pack archives built byte by byte in the tests.
#pragma once

#include <cstdint>
#include <string>

/// A block that unpacks to "aaaa": a literal-size change, one literal, a short match, end.
inline const std::string kExampleBlock(
    "\x4A\x43\x04\x00\x00\x00\xA2\xA3\xA3\xA3\x14\x40\xD8\x20\x00\x00\x00\x00", 18);

/// `v` as four little-endian bytes.
inline std::string u32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

/// An entry of `unpacked_size` bytes whose data are `data`.
inline std::string entry(uint32_t unpacked_size, const std::string& data) {
  return u32(unpacked_size) + u32(static_cast<uint32_t>(data.size())) + data;
}

/// A stored entry holding `bytes`.
inline std::string stored(const std::string& bytes) {
  return entry(static_cast<uint32_t>(bytes.size()), bytes);
}
