#include "tools/sfx_gather.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "pack/entry_names.h"
#include "platform/name_case.h"
#include "tools/tool_io.h"

namespace {

/// The characters Windows does not allow in a name. Its file calls refuse a name holding
/// one (the Windows stub's back end passes names on as they are), so the Windows stub would
/// fail that entry when it writes it. `\` and `:` are refused for every stub already.
constexpr char kWindowsForbidden[] = "?*<>|\"";

const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

/// The name under which the PATH `arg` is stored: its last part, or for `.`, `..` and the
/// like the last part of the folder they stand for. Empty when there is none (`/`).
std::string top_name(const std::string& arg) {
  std::string path = arg;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    char* real = realpath(arg.c_str(), nullptr);
    if (real == nullptr) return "";
    const std::string whole = real;
    std::free(real);
    name = whole.substr(whole.rfind('/') + 1);
  }
  return name;
}

/// Whether `st` is OUT's own file.
bool is_output(const Gathered& g, const struct stat& st) {
  return g.output_exists && st.st_dev == g.output_device && st.st_ino == g.output_inode;
}

/// Checks that the entry name of `item` is one the stub extracts, on Windows when `windows`
/// is set. False after a message.
bool name_is_extractable(const SourceItem& item, bool windows) {
  const EntryNameProblem problem = entry_name_check(bytes_of(item.name), item.name.size());
  if (problem != EntryNameProblem::ok) {
    return fail(printable(item.source) + ": cannot be stored as '" + printable(item.name) +
                "': the self-extractor would refuse that name (" +
                entry_name_problem_text(problem) + ")");
  }
  const size_t bad = windows ? item.name.find_first_of(kWindowsForbidden) : std::string::npos;
  if (bad != std::string::npos) {
    return fail(printable(item.source) + ": cannot be stored as '" + printable(item.name) +
                "': Windows does not allow '" + item.name[bad] +
                "' in a name; the Windows self-extractor could not write it");
  }
  return true;
}

/// Adds the regular file `source` (looked at as `st`) as `name`, once it opens for
/// reading. False after a message.
bool add_file(const std::string& source, const std::string& name, const struct stat& st,
              bool follow, Gathered* g) {
  SourceItem item;
  item.source = source;
  item.name = name;
  item.mtime = int64_t(st.st_mtim.tv_sec);
  item.size = uint64_t(st.st_size);
  item.executable = (st.st_mode & S_IXUSR) != 0;
  item.follow = follow;
  if (!name_is_extractable(item, g->windows)) return false;
  const int fd = open(source.c_str(),
                      O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return fail(system_error(printable(source), "cannot read"));
  close(fd);
  g->file_bytes += item.size;
  g->items.push_back(std::move(item));
  return true;
}

/// Adds the folder `source` (looked at as `st`) as `name`. False after a message.
bool add_folder(const std::string& source, const std::string& name, const struct stat& st,
                Gathered* g) {
  SourceItem item;
  item.source = source;
  item.name = name;
  item.mtime = int64_t(st.st_mtim.tv_sec);
  item.folder = true;
  if (!name_is_extractable(item, g->windows)) return false;
  g->items.push_back(std::move(item));
  return true;
}

/// The names in the folder `source` but `.` and `..`, sorted bytewise. False after a
/// message when the folder cannot be read.
bool folder_names(const std::string& source, std::vector<std::string>* names) {
  DIR* dir = opendir(source.c_str());
  if (dir == nullptr) return fail(system_error(printable(source), "cannot read"));
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const int read_error = errno;
  closedir(dir);
  if (read_error != 0) {
    errno = read_error;
    return fail(system_error(printable(source), "cannot read"));
  }
  std::sort(names->begin(), names->end());
  return true;
}

/// Adds what the folder `source` holds, stored under `name`: folders and regular files,
/// recursively; links and other kinds of file are left out with a warning. False after a
/// message.
bool walk_folder(const std::string& source, const std::string& name, Gathered* g) {
  std::vector<std::string> names;
  if (!folder_names(source, &names)) return false;
  for (const std::string& child : names) {
    const std::string child_source = source + (source.back() == '/' ? "" : "/") + child;
    const std::string child_name = name + kEntryNameSeparator + child;
    struct stat st;
    if (lstat(child_source.c_str(), &st) != 0) {
      return fail(system_error(printable(child_source), "cannot read"));
    }
    if (S_ISLNK(st.st_mode)) {
      warning(printable(child_source) + ": symbolic link, skipped");
    } else if (is_output(*g, st)) {
      warning(printable(child_source) + ": is the output file, skipped");
    } else if (S_ISDIR(st.st_mode)) {
      if (!add_folder(child_source, child_name, st, g) ||
          !walk_folder(child_source, child_name, g)) {
        return false;
      }
    } else if (S_ISREG(st.st_mode)) {
      if (!add_file(child_source, child_name, st, false, g)) return false;
    } else {
      warning(printable(child_source) + ": neither a regular file nor a folder, skipped");
    }
  }
  return true;
}

/// `name` as Windows compares names: its key under the platform's case rule.
std::string case_folded(const std::string& name) {
  if (name.size() > kNameCaseMaxSize) return name;
  alignas(4) uint8_t key[kNameCaseKeyMaxSize];
  const size_t size =
      name_case_key(reinterpret_cast<const uint8_t*>(name.data()), name.size(), key);
  return std::string(reinterpret_cast<const char*>(key), size);
}

}  // namespace

bool gather_path(const std::string& arg, Gathered* g) {
  struct stat st;
  if (stat(arg.c_str(), &st) != 0) return fail(system_error(printable(arg), "cannot read"));
  const std::string name = top_name(arg);
  if (name.empty()) return fail(printable(arg) + ": has no name to store it under");
  if (is_output(*g, st)) return fail(printable(arg) + ": is the output file");
  if (S_ISREG(st.st_mode)) return add_file(arg, name, st, true, g);
  if (S_ISDIR(st.st_mode)) return add_folder(arg, name, st, g) && walk_folder(arg, name, g);
  return fail(printable(arg) + ": neither a regular file nor a folder");
}

bool names_are_distinct(const std::vector<SourceItem>& items, bool ignore_case) {
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    keys.emplace_back(ignore_case ? case_folded(items[i].name) : items[i].name, i);
  }
  std::sort(keys.begin(), keys.end());
  for (size_t k = 1; k < keys.size(); ++k) {
    if (keys[k].first != keys[k - 1].first) continue;
    const SourceItem& a = items[keys[k - 1].second];
    const SourceItem& b = items[keys[k].second];
    const bool same_case = a.name == b.name;
    failure(printable(a.source) + " and " + printable(b.source) + ": both would be stored as '" +
            printable(a.name) + "'" +
            (same_case ? "" : " and '" + printable(b.name) + "', the same name on Windows"));
    return false;
  }
  return true;
}
