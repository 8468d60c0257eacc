#include "tools/stub_locate.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

// Set by the build for this file alone (cmake/install.cmake): the stub folder relative to
// the folder jcpack is installed in, and the absolute stub folder under the configured
// prefix.
#ifndef ENTPACKER_STUB_RELATIVE_DIR
#define ENTPACKER_STUB_RELATIVE_DIR "../lib/entpacker"
#endif
#ifndef ENTPACKER_STUB_INSTALL_DIR
#define ENTPACKER_STUB_INSTALL_DIR "/usr/local/lib/entpacker"
#endif

namespace {

constexpr const char* kSelfLink = "/proc/self/exe";
constexpr const char* kStubRelativeDir = ENTPACKER_STUB_RELATIVE_DIR;
constexpr const char* kStubInstallDir = ENTPACKER_STUB_INSTALL_DIR;

/// The path of jcpack's running program, or "" when the system does not tell.
std::string own_program() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink(kSelfLink, ec);
  return ec || !self.is_absolute() ? std::string() : self.string();
}

/// Adds `folder`, made plain, to `folders` unless it is there already.
void add_folder(const std::filesystem::path& folder, std::vector<std::string>* folders) {
  std::string text = folder.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (std::find(folders->begin(), folders->end(), text) == folders->end()) {
    folders->push_back(text);
  }
}

/// The folders to look in, in order and without repeats, for jcpack's program at `self`.
std::vector<std::string> stub_folders(const std::string& self) {
  std::vector<std::string> folders;
  if (self.empty()) {
    add_folder(kStubInstallDir, &folders);
    return folders;
  }
  const std::filesystem::path own_folder = std::filesystem::path(self).parent_path();
  add_folder(own_folder, &folders);
  add_folder(own_folder / kStubRelativeDir, &folders);
  return folders;
}

}  // namespace

StubLookup stub_locate(const std::string& file) {
  StubLookup lookup;
  lookup.folders = stub_folders(own_program());
  for (const std::string& folder : lookup.folders) {
    const std::string path = folder + "/" + file;
    if (access(path.c_str(), F_OK) == 0) {
      lookup.path = path;
      break;
    }
  }
  return lookup;
}

std::string stub_missing_text(const std::string& file, const std::string& platform,
                              const StubLookup& lookup) {
  std::string text = lookup.folders.empty() ? file : lookup.folders.front() + "/" + file;
  text += ": the " + platform + " stub is missing (looked for in ";
  for (size_t i = 0; i < lookup.folders.size(); ++i) {
    if (i != 0) text += i + 1 == lookup.folders.size() ? " and " : ", ";
    text += lookup.folders[i];
  }
  return text + ")";
}
