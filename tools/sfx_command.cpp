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
#include "tools/sfx_installer.h"
#include "tools/sfx_write.h"
#include "tools/stub_locate.h"
#include "tools/tool_io.h"

namespace {

constexpr const char* kNativeStub = "entpacker-stub";
constexpr const char* kWin32Stub = "entpacker-stub-win32.exe";
constexpr const char* kWin64Stub = "entpacker-stub-win64.exe";

/// The threads to compress on: as asked, or one per core.
unsigned thread_count(unsigned asked) {
  if (asked != 0) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : std::min(cores, kMaxThreads);
}

/// Checks what `jcpack sfx` needs beside its options. False with the mistake in `error`.
bool check_sfx_line(const CommandLine& line, std::string* error) {
  if (!line.platform.empty() && !line.stub.empty()) {
    *error = "--platform and --stub exclude each other";
  } else if (line.output.empty()) {
    *error = "sfx needs -o OUT";
  } else if (line.output == "-") {
    *error = "sfx writes a file, not standard output";
  } else if (line.operands.empty()) {
    *error = "sfx needs at least one PATH";
  } else if (line.temp && line.run.empty()) {
    *error = "--temp needs --run";
  }
  return error->empty();
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
int make_self_extractor(const CommandLine& opt) {
  const std::string platform = opt.stub.empty() && opt.platform.empty() ? "linux" : opt.platform;
  const std::string stub_path = opt.stub.empty() ? find_stub(platform) : opt.stub;
  if (stub_path.empty()) return kExitFailure;
  Stub stub;
  Gathered g;
  Output o;
  bool ok = open_stub(stub_path, &stub) && prepare_output(opt.output, opt.force, stub, &o, &g);
  g.windows = platform == "win32" || platform == "win64" || stub.windows;
  for (size_t i = 0; ok && i < opt.operands.size(); ++i) ok = gather_path(opt.operands[i], &g);
  ok = ok && names_are_distinct(g.items, g.windows);
  if (ok && g.items.size() > kNamedArchiveMaxEntries) {
    ok = fail(std::to_string(g.items.size()) + " entries; a self-extractor holds at most " +
              std::to_string(kNamedArchiveMaxEntries));
  }
  ok = ok && (opt.run.empty() || run_program_fits(opt.run, g));
  SfxSettings settings{opt.level == 0 ? kSfxDefaultLevel : opt.level,
                       thread_count(opt.threads),
                       opt.block_mib == 0 ? kSfxDefaultChunk : size_t(opt.block_mib) << 20,
                       opt.title,
                       opt.language.empty() ? kNamedLanguageEnglish : opt.language,
                       opt.run,
                       opt.temp,
                       ""};
  ok = ok && (opt.license.empty() || read_license(opt.license, &settings.license));
  ok = ok && write_self_extractor(settings, stub, g, &o);
  close_stub_and_output(&stub, &o);
  if (ok) {
    size_t folders = 0;
    for (const SourceItem& item : g.items) folders += item.folder ? 1 : 0;
    note(opt.output + ": " + count_text(g.items.size() - folders, "file", "files") + " and " +
         count_text(folders, "folder", "folders") + ", " +
         count_text(g.file_bytes, "byte", "bytes") + " in " + count_text(o.size, "byte", "bytes"));
  }
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

int jcpack_sfx(const CommandLine& line) {
  std::string error;
  if (!check_sfx_line(line, &error)) return usage_error(error);
  return make_self_extractor(line);
}
