// jcpack: makes and reads JC blocks and pack archives.
//
// Every output file is written beside its target under a temporary name and renamed into
// place only when it is complete, so a failure never leaves a partial file behind.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "pack/jc_block.h"
#include "pack/jc_encode.h"
#include "pack/jc_entry.h"
#include "pack/pack_format.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  ///< bad data or a file that cannot be read or written
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage:\n"
    "  jcpack compress [-l LEVEL] IN OUT          IN as one JC block\n"
    "  jcpack decompress IN OUT                   the bytes of the JC block IN\n"
    "  jcpack pack [--store] [-l LEVEL] OUT FILE...\n"
    "                                             a pack archive of the FILEs, in order\n"
    "  jcpack list ARCHIVE                        the entries and whether they unpack\n"
    "  jcpack unpack ARCHIVE DIR [NAME...]        the entries into DIR, under the NAMEs\n"
    "                                             or entry-1, entry-2, ...\n"
    "LEVEL: 1 (fastest) to 9 (smallest, the default). Entries are stored as they are\n"
    "with --store, or where compression would not make them smaller.\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "jcpack: %s\n", message.c_str());
  return kExitFailure;
}

bool read_file(const std::string& path, Bytes* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) {
    *error = path + ": cannot read";
    return false;
  }
  out->resize(size_t(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), size)) {
    *error = path + ": cannot read";
    return false;
  }
  return true;
}

/// Writes `size` bytes to `path` through a temporary file renamed into place.
bool write_file(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  const std::string temporary = path + ".jcpack-part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out && size > 0) out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (out) out.close();
    if (!out) {
      *error = path + ": cannot write: " + std::strerror(errno);
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    *error = path + ": cannot write: " + ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

bool parse_level(const std::string& text, int* level) {
  if (text.size() != 1 || text[0] < '0' + kJcMinLevel || text[0] > '0' + kJcMaxLevel) {
    return false;
  }
  *level = text[0] - '0';
  return true;
}

/// Options before the positional arguments: -l LEVEL, and --store where allowed.
struct Options {
  int level = kJcDefaultLevel;
  bool level_given = false;
  bool store = false;
  std::vector<std::string> args;
};

bool parse_options(const std::vector<std::string>& argv, bool allow_store, Options* options,
                   std::string* error) {
  size_t i = 0;
  for (; i < argv.size() && argv[i].size() > 1 && argv[i][0] == '-'; ++i) {
    if (argv[i] == "-l" || argv[i] == "--level") {
      if (i + 1 == argv.size() || !parse_level(argv[i + 1], &options->level)) {
        *error = "the level must be a number from 1 to 9";
        return false;
      }
      options->level_given = true;
      ++i;
    } else if (argv[i] == "--store" && allow_store) {
      options->store = true;
    } else if (argv[i] == "--") {
      ++i;
      break;
    } else {
      *error = "unknown option " + argv[i];
      return false;
    }
  }
  options->args.assign(argv.begin() + ptrdiff_t(i), argv.end());
  return true;
}

int compress(const Options& o) {
  if (o.args.size() != 2) return usage_error("compress takes IN and OUT");
  Bytes data, block;
  std::string error;
  if (!read_file(o.args[0], &data, &error)) return failure(error);
  if (data.empty()) return failure(o.args[0] + ": empty; a JC block cannot hold no bytes");
  if (data.size() > kJcMaxInputSize) return failure(o.args[0] + ": larger than 4 GiB - 1");
  if (!jc_encode(data.data(), data.size(), o.level, &block)) {
    return failure(o.args[0] + ": cannot be encoded");
  }
  Bytes check(data.size());
  if (jc_decode(block.data(), block.size(), check.data(), check.size()) != data.size() ||
      check != data) {
    return failure(o.args[0] + ": the encoded block does not decode to the input");
  }
  if (!write_file(o.args[1], block.data(), block.size(), &error)) return failure(error);
  return kExitOk;
}

/// Unpacks an entry into `out`; the status says why it failed.
JcStatus unpack_entry(const PackEntryView& entry, Bytes* out) {
  try {
    out->assign(entry.header.unpacked_size, 0);
  } catch (const std::bad_alloc&) {
    return JcStatus::too_small;
  }
  return pack_entry_unpack(entry, out->data(), out->size());
}

int decompress(const Options& o) {
  if (o.args.size() != 2) return usage_error("decompress takes IN and OUT");
  Bytes block, data;
  std::string error;
  if (!read_file(o.args[0], &block, &error)) return failure(error);
  JcBlock header;
  if (!jc_read_header(block.data(), block.size(), &header)) {
    return failure(o.args[0] + ": " + jc_status_text(JcStatus::bad_magic));
  }
  try {
    data.assign(header.unpacked_size, 0);
  } catch (const std::bad_alloc&) {
    return failure(o.args[0] + ": cannot hold " + std::to_string(header.unpacked_size) + " bytes");
  }
  const JcResult r = jc_decode_checked(block.data(), block.size(), data.data(), data.size());
  if (r.status != JcStatus::ok) return failure(o.args[0] + ": " + jc_status_text(r.status));
  if (!write_file(o.args[1], data.data(), data.size(), &error)) return failure(error);
  return kExitOk;
}

int pack(const Options& o) {
  if (o.args.size() < 2) return usage_error("pack takes OUT and at least one FILE");
  Bytes archive, data;
  std::string error;
  for (size_t i = 1; i < o.args.size(); ++i) {
    if (!read_file(o.args[i], &data, &error)) return failure(error);
    if (!jc_append_pack_entry(archive, data.data(), data.size(), o.level, o.store)) {
      return failure(o.args[i] + ": cannot be packed (larger than 4 GiB - 1?)");
    }
  }
  if (!write_file(o.args[0], archive.data(), archive.size(), &error)) return failure(error);
  return kExitOk;
}

/// Walks the archive and calls `visit(index, entry)` for each entry (index from 1).
/// Returns false, after a message, when the archive is cut short.
template <typename Visit>
bool walk_archive(const std::string& name, const Bytes& archive, Visit visit) {
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  for (size_t index = 1;; ++index) {
    const PackWalkStep step = pack_walk_next(walk, &entry);
    if (step == PackWalkStep::end) return true;
    if (step == PackWalkStep::truncated) {
      failure(name + ": cut short in entry " + std::to_string(index) + " at offset " +
              std::to_string(entry.header_offset));
      return false;
    }
    visit(index, entry);
  }
}

int list(const Options& o) {
  if (o.args.size() != 1) return usage_error("list takes ARCHIVE");
  Bytes archive, data;
  std::string error;
  if (!read_file(o.args[0], &archive, &error)) return failure(error);
  bool all_ok = true;
  const bool whole = walk_archive(o.args[0], archive, [&](size_t index, const PackEntryView& e) {
    const JcStatus status = unpack_entry(e, &data);
    all_ok = all_ok && status == JcStatus::ok;
    std::printf("%zu %zu %u %u %s %s\n", index, e.header_offset, e.header.unpacked_size,
                e.header.stored_size, pack_entry_is_stored(e.header) ? "stored" : "jc",
                jc_status_text(status));
  });
  return whole && all_ok ? kExitOk : kExitFailure;
}

bool plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

int unpack(const Options& o) {
  if (o.args.size() < 2) return usage_error("unpack takes ARCHIVE and DIR");
  const std::vector<std::string> names(o.args.begin() + 2, o.args.end());
  for (const std::string& name : names) {
    if (!plain_file_name(name)) return usage_error("not a plain file name: '" + name + "'");
  }
  Bytes archive, data;
  std::string error;
  if (!read_file(o.args[0], &archive, &error)) return failure(error);
  size_t entries = 0;
  PackWalk walk = pack_walk_start(archive.data(), archive.size());
  PackEntryView entry;
  while (pack_walk_next(walk, &entry) == PackWalkStep::entry) ++entries;
  if (names.size() > entries) {
    return failure(std::to_string(names.size()) + " names given for " + std::to_string(entries) +
                   " entries");
  }
  std::error_code ec;
  fs::create_directories(o.args[1], ec);
  if (ec) return failure(o.args[1] + ": " + ec.message());
  bool all_ok = true;
  const bool whole = walk_archive(o.args[0], archive, [&](size_t index, const PackEntryView& e) {
    const std::string name =
        index <= names.size() ? names[index - 1] : "entry-" + std::to_string(index);
    const JcStatus status = unpack_entry(e, &data);
    if (status != JcStatus::ok) {
      all_ok = false;
      failure(o.args[0] + ": entry " + std::to_string(index) + ": " + jc_status_text(status));
      return;
    }
    if (!write_file((fs::path(o.args[1]) / name).string(), data.data(), data.size(), &error)) {
      all_ok = false;
      failure(error);
    }
  });
  return whole && all_ok ? kExitOk : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage_error("no command given");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const std::vector<std::string> rest(argv + 2, argv + argc);
  Options options;
  std::string error;
  if (!parse_options(rest, command == "pack", &options, &error)) return usage_error(error);
  const bool takes_level = command == "compress" || command == "pack";
  if (!takes_level && (options.level_given || options.store)) {
    return usage_error(command + " takes no options");
  }
  if (command == "compress") return compress(options);
  if (command == "decompress") return decompress(options);
  if (command == "pack") return pack(options);
  if (command == "list") return list(options);
  if (command == "unpack") return unpack(options);
  return usage_error("unknown command '" + command + "'");
}
