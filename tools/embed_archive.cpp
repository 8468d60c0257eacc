// embed_archive IN OUT.cpp: writes a C++ source file that holds the bytes of IN as the
// constant array `carried_archive` with its exact length `carried_archive_size`, and their
// digest (length and CRC-32) as `carried_archive_digest`.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pack/archive_digest.h"

namespace {

constexpr int kBytesPerLine = 20;

bool read_all(const char* path, std::vector<unsigned char>* bytes) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: embed_archive IN OUT.cpp\n");
    return 2;
  }
  std::vector<unsigned char> bytes;
  if (!read_all(argv[1], &bytes)) {
    std::fprintf(stderr, "embed_archive: cannot read %s\n", argv[1]);
    return 1;
  }
  if (bytes.size() > UINT32_MAX) {
    std::fprintf(stderr, "embed_archive: %s is larger than 4 GiB - 1\n", argv[1]);
    return 1;
  }
  const std::string temporary = std::string(argv[2]) + ".tmp";
  FILE* out = std::fopen(temporary.c_str(), "w");
  if (!out) {
    std::fprintf(stderr, "embed_archive: cannot write %s\n", argv[2]);
    return 1;
  }
  std::fprintf(out, "// Made at build time from the packed payload; do not edit.\n");
  std::fprintf(out, "#include \"app/carried_archive.h\"\n\n");
  const ArchiveDigest digest = archive_digest_of(bytes.data(), uint32_t(bytes.size()));
  std::fprintf(out, "const uint32_t carried_archive_size = %zuu;\n", bytes.size());
  std::fprintf(out, "const ArchiveDigest carried_archive_digest = {%uu, 0x%08Xu};\n", digest.size,
               digest.crc32);
  std::fprintf(out, "alignas(4) const uint8_t carried_archive[%zu] = {",
               bytes.empty() ? 1 : bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    std::fprintf(out, "%s%u,", i % kBytesPerLine == 0 ? "\n" : "", bytes[i]);
  std::fprintf(out, "\n};\n");
  const bool ok = std::fclose(out) == 0 && std::rename(temporary.c_str(), argv[2]) == 0;
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "embed_archive: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
