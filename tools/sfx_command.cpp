// `jcpack sfx`: makes a self-extractor, a stub program followed by a named archive of files
// and folders (pack/named_archive.h), in four steps, so that a refused input never leaves a
// file behind:
//
//   1. gather: every PATH is looked at and every folder walked before anything is written
//      (sfx_gather.h);
//   2. write: the stub and then one entry at a time go to a temporary file beside OUT;
//   3. finish: the table and the trailer follow, and the finished file is read back;
//   4. the temporary gets the executable bits and is renamed over OUT (sfx_write.h).
#include "tools/sfx_command.h"

#include <algorithm>
#include <thread>

#include "jc/jc_encode.h"
#include "pack/named_archive.h"
#include "tools/sfx_blocks.h"
#include "tools/sfx_gather.h"
#include "tools/sfx_write.h"
#include "tools/stub_locate.h"
#include "tools/tool_io.h"

namespace {

constexpr const char* kNativeStub = "entpacker-stub";
/// The most threads -T takes.
constexpr unsigned kSfxMaxThreads = 256;
constexpr const char* kWin32Stub = "entpacker-stub-win32.exe";
constexpr const char* kWin64Stub = "entpacker-stub-win64.exe";

/// What `jcpack sfx` was asked to do.
struct SfxOptions {
  int level = kSfxDefaultLevel;
  unsigned threads = 0;  ///< 0: one per core
  size_t chunk = kSfxDefaultChunk;
  std::string platform;  ///< linux, win32, win64; empty with --stub
  std::string stub;      ///< --stub FILE
  std::string output;
  std::vector<std::string> paths;
};

/// Reads a decimal number from 0 to `most` into `*value`; false when `text` is not one.
bool parse_count(const std::string& text, unsigned most, unsigned* value) {
  if (text.empty() || text.size() > 6) return false;
  unsigned n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + unsigned(c - '0');
  }
  if (n > most) return false;
  *value = n;
  return true;
}

/// The threads to compress on: as asked, or one per core.
unsigned thread_count(unsigned asked) {
  if (asked != 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : std::min(cores, kSfxMaxThreads);
}

/// Reads the options of `jcpack sfx` (anywhere before `--`) and its PATHs. False with the
/// mistake in `error`.
bool parse_sfx_options(const std::vector<std::string>& args, SfxOptions* o, std::string* error) {
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      o->paths.push_back(a);
      continue;
    }
    const bool takes_value = a == "-l" || a == "--level" || a == "-T" || a == "--threads" ||
                             a == "--block-size" || a == "--platform" || a == "--stub" ||
                             a == "-o" || a == "--output";
    if (takes_value && i + 1 == args.size()) {
      *error = a + " needs a value";
      return false;
    }
    if (a == "--") {
      options_end = true;
    } else if (a == "-l" || a == "--level") {
      if (!parse_level(args[++i], &o->level)) {
        *error = "the level must be a number from 1 to 9";
        return false;
      }
    } else if (a == "-T" || a == "--threads") {
      if (!parse_count(args[++i], kSfxMaxThreads, &o->threads)) {
        *error = "the threads must be a number from 0 (one per core) to " +
                 std::to_string(kSfxMaxThreads);
        return false;
      }
    } else if (a == "--block-size") {
      unsigned mib = 0;
      if (!parse_count(args[++i], kNamedBlockMaxSize >> 20, &mib) || mib == 0) {
        *error = "the block size must be a number of MiB from 1 to " +
                 std::to_string(kNamedBlockMaxSize >> 20);
        return false;
      }
      o->chunk = size_t(mib) << 20;
    } else if (a == "--platform") {
      o->platform = args[++i];
      if (o->platform != "linux" && o->platform != "win32" && o->platform != "win64") {
        *error = "the platform must be linux, win32 or win64";
        return false;
      }
    } else if (a == "--stub") {
      o->stub = args[++i];
    } else if (a == "-o" || a == "--output") {
      o->output = args[++i];
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  if (!o->platform.empty() && !o->stub.empty()) {
    *error = "--platform and --stub exclude each other";
    return false;
  }
  if (o->output.empty()) {
    *error = "sfx needs -o OUT";
    return false;
  }
  if (o->output == "-") {
    *error = "sfx writes a file, not standard output";
    return false;
  }
  if (o->paths.empty()) {
    *error = "sfx needs at least one PATH";
    return false;
  }
  return true;
}

/// The stub for `platform`, beside jcpack or in the installed stub folder. Empty after a
/// message saying where it was looked for and how to build it.
std::string find_stub(const std::string& platform) {
  const char* file = platform == "win32"   ? kWin32Stub
                     : platform == "win64" ? kWin64Stub
                                           : kNativeStub;
  const StubLookup lookup = stub_locate(file);
  if (!lookup.path.empty()) return lookup.path;
  const std::string how = platform == "linux"
                              ? "build it with `make` (or `cmake --build build --target "
                                "entpacker-stub`)"
                              : "build the Windows stubs with `make windows`";
  failure(stub_missing_text(file, platform, lookup) + "; " + how +
          ", or name a stub with --stub FILE");
  return "";
}

/// `jcpack sfx` once its options are read.
int make_self_extractor(const SfxOptions& opt) {
  const std::string platform = opt.stub.empty() && opt.platform.empty() ? "linux" : opt.platform;
  const std::string stub_path = opt.stub.empty() ? find_stub(platform) : opt.stub;
  if (stub_path.empty()) return kExitFailure;
  Stub stub;
  Gathered g;
  Output o;
  bool ok = open_stub(stub_path, &stub) && prepare_output(opt.output, stub, &o, &g);
  g.windows = platform == "win32" || platform == "win64" || stub.windows;
  for (size_t i = 0; ok && i < opt.paths.size(); ++i) ok = gather_path(opt.paths[i], &g);
  ok = ok && names_are_distinct(g.items, g.windows);
  if (ok && g.items.size() > kNamedArchiveMaxEntries) {
    ok = fail(std::to_string(g.items.size()) + " entries; a self-extractor holds at most " +
              std::to_string(kNamedArchiveMaxEntries));
  }
  const SfxSettings settings{opt.level, thread_count(opt.threads), opt.chunk};
  ok = ok && write_self_extractor(settings, stub, g, &o);
  close_stub_and_output(&stub, &o);
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

int jcpack_sfx(const std::vector<std::string>& args) {
  SfxOptions options;
  std::string error;
  if (!parse_sfx_options(args, &options, &error)) return usage_error(error);
  return make_self_extractor(options);
}
