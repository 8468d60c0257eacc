// Compares the JC codec with zlib -9, libdeflate -12, lz4 -12 and zstd -19 on the same
// machine in one run: the compressed size of every encoder level and of each peer, the
// encoding speed, and the decoding speed (MB/s of output, the fastest of many calls, in
// memory, one thread) of jc_decode, jc_decode_compact and each peer's decoder. All times
// are the thread's CPU time.
//
//   jc_bench [--levels=A-B] [--markdown=FILE] [--summary=FILE] CSV NAME=PATH...
//
// PATH is a file, or a directory whose files (sorted by name) are taken as one input.
// --levels limits the encoder levels measured (level 9 is always among them, since the
// decoders read its block). The machine, the full table and the summary table go to
// standard output and, as CSV, the rows to the file CSV; --markdown writes what standard
// output gets to FILE as well, --summary the machine and the summary table alone.
#include <libdeflate.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_encode.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kDecodeRuns = 9;           ///< decoding speed: the best call of this many runs
constexpr double kMinRunSeconds = 0.05;  ///< a run repeats its decode until this long
constexpr int kZlibLevel = 9;
constexpr int kLibdeflateLevel = 12;
constexpr int kLz4Level = 12;
constexpr int kZstdLevel = 19;

Bytes read_input(const fs::path& path) {
  std::vector<fs::path> files;
  if (fs::is_directory(path)) {
    for (const auto& e : fs::directory_iterator(path)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(path);
  }
  Bytes all;
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    all.insert(all.end(), std::istreambuf_iterator<char>(in), {});
  }
  return all;
}

/// The CPU time of this thread, in seconds: a busy machine that takes the processor away
/// for a while does not count against the codec being timed (every codec here runs on
/// the calling thread alone).
double thread_seconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double seconds_of(const std::function<void()>& work) {
  const double start = thread_seconds();
  work();
  return thread_seconds() - start;
}

/// The fastest of the calls of `decode` in one run that repeats it for at least
/// kMinRunSeconds, in seconds; negative when a call fails.
double time_one_run(const std::function<bool()>& decode) {
  double best = 1e30, total = 0;
  bool ok = true;
  do {
    const double start = thread_seconds();
    ok = decode() && ok;
    const double t = thread_seconds() - start;
    best = std::min(best, t);
    total += t;
  } while (total < kMinRunSeconds);
  return ok ? best : -1;
}

struct Row {
  std::string dataset, codec, setting;
  size_t input = 0, compressed = 0;
  double encode_mbps = 0, decode_mbps = 0;
};

/// A decoder under test and the row that receives its speed.
struct Decoder {
  size_t row;
  std::function<bool()> decode;
};

struct Options {
  int min_level = kJcMinLevel;
  int max_level = kJcMaxLevel;
  std::string markdown;
  std::string summary;
};

/// One data set: its encoded forms, kept for the decoders, and the rows they fill.
class DatasetBench {
 public:
  DatasetBench(const std::string& name, const Bytes& data, std::vector<Row>& rows)
      : name_(name), data_(data), rows_(rows), out_(data.size()) {}
  ~DatasetBench() {
    libdeflate_free_decompressor(inflater_);
    ZSTD_freeDCtx(zstd_);
  }

  void run(const Options& options) {
    add_jc(options);
    add_zlib();
    add_libdeflate();
    add_lz4();
    add_zstd();
    time_decoders();
  }

 private:
  size_t add(const std::string& codec, const std::string& setting, size_t compressed,
             double seconds) {
    rows_.push_back(
        {name_, codec, setting, data_.size(), compressed, seconds > 0 ? mbps(seconds) : 0, 0});
    return rows_.size() - 1;
  }
  double mbps(double seconds) const { return double(data_.size()) / 1e6 / seconds; }

  // The chosen levels once each; level 9 twice, its faster run counted.
  void add_jc(const Options& options) {
    for (int level = options.min_level; level <= kJcMaxLevel; ++level) {
      if (level > options.max_level && level != kJcMaxLevel) continue;
      const auto encode = [&] { jc_encode(data_.data(), data_.size(), level, &jc_); };
      double t = seconds_of(encode);
      if (level < kJcMaxLevel) {
        add("jc", "level " + std::to_string(level), jc_.size(), t);
        continue;
      }
      t = std::min(t, seconds_of(encode));
      decoders_.push_back({add("jc", "level 9, jc_decode_compact", jc_.size(), 0), [this] {
                             return jc_decode_compact(jc_.data(), jc_.size(), out_.data(),
                                                      out_.size()) == data_.size();
                           }});
      decoders_.push_back({add("jc", "level 9, jc_decode", jc_.size(), t), [this] {
                             return jc_decode(jc_.data(), jc_.size(), out_.data(), out_.size()) ==
                                    data_.size();
                           }});
    }
  }

  // zlib -9, decoded with uncompress (inflate).
  void add_zlib() {
    zlib_.resize(compressBound(uLong(data_.size())));
    uLongf size = uLongf(zlib_.size());
    const double t = seconds_of(
        [&] { compress2(zlib_.data(), &size, data_.data(), uLong(data_.size()), kZlibLevel); });
    zlib_.resize(size);
    decoders_.push_back({add("zlib", "-9, inflate", size, t), [this] {
                           uLongf n = uLongf(out_.size());
                           return uncompress(out_.data(), &n, zlib_.data(), zlib_.size()) == Z_OK &&
                                  n == data_.size();
                         }});
  }

  // libdeflate -12, raw DEFLATE.
  void add_libdeflate() {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kLibdeflateLevel);
    deflate_.resize(libdeflate_deflate_compress_bound(c, data_.size()));
    size_t size = 0;
    const double t = seconds_of([&] {
      size = libdeflate_deflate_compress(c, data_.data(), data_.size(), deflate_.data(),
                                         deflate_.size());
    });
    libdeflate_free_compressor(c);
    deflate_.resize(size);
    inflater_ = libdeflate_alloc_decompressor();
    decoders_.push_back({add("libdeflate", "-12", size, t), [this] {
                           size_t n = 0;
                           return libdeflate_deflate_decompress(
                                      inflater_, deflate_.data(), deflate_.size(), out_.data(),
                                      out_.size(), &n) == LIBDEFLATE_SUCCESS &&
                                  n == data_.size();
                         }});
  }

  // lz4 -12 (the high-compression encoder at its highest level), decoded with the safe call.
  void add_lz4() {
    lz4_.resize(size_t(LZ4_compressBound(int(data_.size()))));
    int size = 0;
    const double t = seconds_of([&] {
      size = LZ4_compress_HC(reinterpret_cast<const char*>(data_.data()),
                             reinterpret_cast<char*>(lz4_.data()), int(data_.size()),
                             int(lz4_.size()), kLz4Level);
    });
    lz4_.resize(size_t(size));
    decoders_.push_back({add("lz4", "-12 (HC)", lz4_.size(), t), [this] {
                           return LZ4_decompress_safe(reinterpret_cast<const char*>(lz4_.data()),
                                                      reinterpret_cast<char*>(out_.data()),
                                                      int(lz4_.size()),
                                                      int(out_.size())) == int(data_.size());
                         }});
  }

  // zstd -19, one frame, decoded with a reused context.
  void add_zstd() {
    zstd_frame_.resize(ZSTD_compressBound(data_.size()));
    size_t size = 0;
    const double t = seconds_of([&] {
      size = ZSTD_compress(zstd_frame_.data(), zstd_frame_.size(), data_.data(), data_.size(),
                           kZstdLevel);
    });
    zstd_frame_.resize(ZSTD_isError(size) ? 0 : size);
    zstd_ = ZSTD_createDCtx();
    decoders_.push_back({add("zstd", "-19", zstd_frame_.size(), t), [this] {
                           return ZSTD_decompressDCtx(zstd_, out_.data(), out_.size(),
                                                      zstd_frame_.data(),
                                                      zstd_frame_.size()) == data_.size();
                         }});
  }

  // The decoders take turns, one run each per round, so that a busy spell of the machine
  // falls on all of them alike; each keeps its fastest run. A decoder whose output, from a
  // cleared destination, differs from the input scores 0.
  void time_decoders() {
    std::vector<double> best(decoders_.size(), 1e30);
    std::vector<bool> failed(decoders_.size(), false);
    for (int run = 0; run < kDecodeRuns; ++run) {
      for (size_t k = 0; k < decoders_.size(); ++k) {
        const double t = time_one_run(decoders_[k].decode);
        if (t < 0) failed[k] = true;
        best[k] = std::min(best[k], t);
      }
    }
    for (size_t k = 0; k < decoders_.size(); ++k) {
      std::fill(out_.begin(), out_.end(), uint8_t(0));
      const bool right = decoders_[k].decode() && out_ == data_;
      rows_[decoders_[k].row].decode_mbps = failed[k] || !right ? 0 : mbps(best[k]);
    }
  }

  const std::string name_;
  const Bytes& data_;
  std::vector<Row>& rows_;
  Bytes out_, jc_, zlib_, deflate_, lz4_, zstd_frame_;
  libdeflate_decompressor* inflater_ = nullptr;
  ZSTD_DCtx* zstd_ = nullptr;
  std::vector<Decoder> decoders_;
};

const Row* find(const std::vector<Row>& rows, const std::string& dataset, const std::string& codec,
                const std::string& setting) {
  for (const Row& r : rows) {
    if (r.dataset == dataset && r.codec == codec && r.setting == setting) return &r;
  }
  return nullptr;
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

/// Speeds with three significant digits or more; a speed that was not measured is blank.
std::string speed(double mbps) {
  if (mbps <= 0) return "";
  return mbps >= 100  ? format("%.0f", mbps)
         : mbps >= 10 ? format("%.1f", mbps)
                      : format("%.2f", mbps);
}

/// a / b to the given decimals, or "-" when either is missing.
std::string quotient(const Row* a, const Row* b, double Row::*field, const char* pattern) {
  if (a == nullptr || b == nullptr || a->*field <= 0 || b->*field <= 0) return "-";
  return format(pattern, a->*field / b->*field);
}

std::string size_quotient(const Row* a, const Row* b) {
  if (a == nullptr || b == nullptr || b->compressed == 0) return "-";
  return format("%.3f", double(a->compressed) / double(b->compressed));
}

std::string full_table(const std::vector<Row>& rows) {
  std::string t =
      "| data set | codec | setting | compressed | ratio | encode MB/s | decode MB/s |\n"
      "|---|---|---|---:|---:|---:|---:|\n";
  for (const Row& r : rows) {
    t += "| " + r.dataset + " | " + r.codec + " | " + r.setting + " | " +
         std::to_string(r.compressed) + " | " +
         format("%.4f", double(r.compressed) / double(r.input)) + " | " + speed(r.encode_mbps) +
         " | " + speed(r.decode_mbps) + " |\n";
  }
  return t;
}

std::string summary_table(const std::vector<Row>& rows, const std::vector<std::string>& datasets) {
  std::string t =
      "| data set | level 9 / zlib -9 | level 9 / zstd -19 | jc_decode / inflate | "
      "jc_decode / libdeflate | jc_decode / lz4 | jc_decode / zstd | level 9 encode MB/s |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const std::string& name : datasets) {
    const Row* jc = find(rows, name, "jc", "level 9, jc_decode");
    const Row* zl = find(rows, name, "zlib", "-9, inflate");
    const Row* ld = find(rows, name, "libdeflate", "-12");
    const Row* lz = find(rows, name, "lz4", "-12 (HC)");
    const Row* zs = find(rows, name, "zstd", "-19");
    t += "| " + name + " | " + size_quotient(jc, zl) + " | " + size_quotient(jc, zs) + " | " +
         quotient(jc, zl, &Row::decode_mbps, "%.2f") + " | " +
         quotient(jc, ld, &Row::decode_mbps, "%.2f") + " | " +
         quotient(jc, lz, &Row::decode_mbps, "%.2f") + " | " +
         quotient(jc, zs, &Row::decode_mbps, "%.2f") + " | " + speed(jc->encode_mbps) + " |\n";
  }
  return t;
}

void write_csv(const std::vector<Row>& rows, FILE* csv) {
  std::fprintf(csv,
               "dataset,codec,setting,input_bytes,compressed_bytes,ratio,encode_MBps,"
               "decode_MBps\n");
  for (const Row& r : rows) {
    std::fprintf(csv, "%s,%s,%s,%zu,%zu,%.4f,%.2f,%.1f\n", r.dataset.c_str(), r.codec.c_str(),
                 r.setting.c_str(), r.input, r.compressed, double(r.compressed) / double(r.input),
                 r.encode_mbps, r.decode_mbps);
  }
}

/// The value of the first line of /proc/cpuinfo whose key is `key`; empty when none is.
std::string cpuinfo_value(const std::string& key) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t key_end = line.find_last_not_of(" \t", colon - 1);
    if (key_end == std::string::npos || line.compare(0, key_end + 1, key) != 0 ||
        key_end + 1 != key.size()) {
      continue;
    }
    const size_t value = line.find_first_not_of(' ', colon + 1);
    return value == std::string::npos ? "" : line.substr(value);
  }
  return "";
}

std::string cpu_model() {
  const std::string name = cpuinfo_value("model name");
  if (name.empty()) return "unknown CPU";
  return name + " (family " + cpuinfo_value("cpu family") + ", model " + cpuinfo_value("model") +
         ")";
}

/// The CPU, its cores, the compiler and the libraries' versions, as one Markdown line.
std::string machine_line() {
  return "Machine: " + cpu_model() + ", " + std::to_string(std::thread::hardware_concurrency()) +
         " cores; compiler: " +
#if defined(__clang__)
         "clang " __clang_version__
#else
         "GCC " __VERSION__
#endif
         "; zlib " +
         zlibVersion() + ", libdeflate " LIBDEFLATE_VERSION_STRING ", lz4 " + LZ4_versionString() +
         ", zstd " + ZSTD_versionString() + ".";
}

bool write_text(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::fputs(text.c_str(), f);
  return std::fclose(f) == 0;
}

bool parse_option(const std::string& arg, Options* options) {
  if (arg.rfind("--markdown=", 0) == 0) {
    options->markdown = arg.substr(11);
    return true;
  }
  if (arg.rfind("--summary=", 0) == 0) {
    options->summary = arg.substr(10);
    return true;
  }
  int low = 0, high = 0;
  if (std::sscanf(arg.c_str(), "--levels=%d-%d", &low, &high) == 2 && low >= kJcMinLevel &&
      low <= high && high <= kJcMaxLevel) {
    options->min_level = low;
    options->max_level = high;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (!parse_option(argv[first], &options)) {
      std::fprintf(stderr, "jc_bench: unknown option %s\n", argv[first]);
      return 2;
    }
  }
  if (argc - first < 2) {
    std::fprintf(
        stderr,
        "usage: jc_bench [--levels=A-B] [--markdown=FILE] [--summary=FILE] CSV NAME=PATH...\n");
    return 2;
  }
  std::vector<Row> rows;
  std::vector<std::string> datasets;
  for (int i = first + 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "jc_bench: expected NAME=PATH, got %s\n", argv[i]);
      return 2;
    }
    const Bytes data = read_input(arg.substr(eq + 1));
    if (data.empty()) {
      std::fprintf(stderr, "jc_bench: %s: no data\n", argv[i]);
      return 1;
    }
    datasets.push_back(arg.substr(0, eq) + " (" + std::to_string(data.size()) + " B)");
    DatasetBench(datasets.back(), data, rows).run(options);
    std::fprintf(stderr, "jc_bench: %s done\n", datasets.back().c_str());
  }
  const std::string machine = machine_line();
  const std::string summary = machine + "\n\n" + summary_table(rows, datasets);
  const std::string all =
      machine + "\n\n" + full_table(rows) + "\n" + summary_table(rows, datasets);
  std::fputs(all.c_str(), stdout);
  FILE* csv = std::fopen(argv[first], "w");
  if (csv == nullptr) {
    std::fprintf(stderr, "jc_bench: cannot write %s\n", argv[first]);
    return 1;
  }
  write_csv(rows, csv);
  std::fclose(csv);
  for (const auto& [path, text] : {std::pair{options.markdown, all}, {options.summary, summary}}) {
    if (!path.empty() && !write_text(path, text)) {
      std::fprintf(stderr, "jc_bench: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
