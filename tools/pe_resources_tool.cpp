// pe_resources: what a Windows program's file carries as its manifest and its version.
//   pe_resources manifest FILE   the manifest's text
//   pe_resources version FILE    "file A.B.C.D" and "product A.B.C.D", one a line
// Exits with 1, after a message, when FILE cannot be read or lacks that resource, and with 2
// on a usage mistake.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "tools/pe_resources.h"

namespace {

/// A program's headers and resources lie in its image, at the start of its file; whatever
/// is appended (a self-extractor's archive) is read only up to this many bytes in all.
constexpr size_t kMaxReadBytes = size_t(64) << 20;

bool read_start(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->resize(kMaxReadBytes);
  in.read(reinterpret_cast<char*>(bytes->data()), std::streamsize(bytes->size()));
  if (in.bad()) return false;
  bytes->resize(size_t(in.gcount()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "manifest" && command != "version") {
    std::fprintf(stderr, "usage: pe_resources manifest|version FILE\n");
    return 2;
  }
  std::vector<uint8_t> file;
  if (!read_start(argv[2], &file)) {
    std::fprintf(stderr, "pe_resources: cannot read %s\n", argv[2]);
    return 1;
  }
  const uint32_t type = command == "manifest" ? kResourceTypeManifest : kResourceTypeVersion;
  std::span<const uint8_t> resource;
  std::string error;
  FixedFileVersions versions;
  if (!find_pe_resource(file, type, &resource, &error) ||
      (type == kResourceTypeVersion && !read_fixed_file_versions(resource, &versions, &error))) {
    std::fprintf(stderr, "pe_resources: %s: %s: %s\n", argv[2], command.c_str(), error.c_str());
    return 1;
  }
  if (type == kResourceTypeManifest) {
    std::fwrite(resource.data(), 1, resource.size(), stdout);
    if (resource.empty() || resource.back() != '\n') std::fputc('\n', stdout);
  } else {
    std::printf("file %s\nproduct %s\n", versions.file.text().c_str(),
                versions.product.text().c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
