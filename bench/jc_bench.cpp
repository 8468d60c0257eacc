// Compares the JC codec with zlib and libdeflate on the same machine in one run: the
// compressed size of every encoder level against zlib -9 and libdeflate -12, the
// encoder's speed, and the decoding speed (MB/s of output, best of several runs, in
// memory, one thread) of jc_decode, jc_decode_compact, zlib's inflate and libdeflate.
//
//   jc_bench CSV NAME=PATH...
//
// PATH is a file, or a directory whose files (sorted by name) are taken as one input.
// The table goes to standard output and, as CSV, to the file CSV.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "jc/jc.h"
#include "jc/jc_encode.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kDecodeRuns = 9;           ///< decoding speed: the best of this many runs
constexpr double kMinRunSeconds = 0.05;  ///< a run repeats its decode until this long
constexpr int kZlibLevel = 9;
constexpr int kLibdeflateLevel = 12;

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

double seconds_of(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Seconds per call of `decode` over one run that repeats it for at least kMinRunSeconds;
/// negative when a call fails.
double time_one_run(const std::function<bool()>& decode) {
  int repeats = 0;
  bool ok = true;
  const double t = seconds_of([&] {
    const auto start = Clock::now();
    do {
      ok = ok && decode();
      ++repeats;
    } while (std::chrono::duration<double>(Clock::now() - start).count() < kMinRunSeconds);
  });
  return ok ? t / repeats : -1;
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

void bench_dataset(const std::string& name, const Bytes& data, std::vector<Row>& rows) {
  const auto add = [&](const std::string& codec, const std::string& setting, size_t compressed,
                       double enc) {
    rows.push_back({name, codec, setting, data.size(), compressed, enc, 0});
    return rows.size() - 1;
  };
  const auto mbps = [&](double seconds) { return double(data.size()) / 1e6 / seconds; };
  Bytes out(data.size());
  std::vector<Decoder> decoders;
  // Every level once; the highest one twice, its faster run counted.
  Bytes block;
  for (int level = kJcMinLevel; level <= kJcMaxLevel; ++level) {
    const auto encode = [&] { jc_encode(data.data(), data.size(), level, &block); };
    double t = seconds_of(encode);
    if (level == kJcMaxLevel) t = std::min(t, seconds_of(encode));
    if (level < kJcMaxLevel) {
      add("jc", "level " + std::to_string(level), block.size(), mbps(t));
      continue;
    }
    decoders.push_back({add("jc", "level 9, jc_decode_compact", block.size(), 0), [&] {
                          return jc_decode_compact(block.data(), block.size(), out.data(),
                                                   out.size()) == data.size();
                        }});
    decoders.push_back({add("jc", "level 9, jc_decode", block.size(), mbps(t)), [&] {
                          return jc_decode(block.data(), block.size(), out.data(), out.size()) ==
                                 data.size();
                        }});
  }
  // zlib -9, decoded with uncompress (inflate).
  Bytes z(compressBound(uLong(data.size())));
  uLongf zsize = uLongf(z.size());
  const double zt =
      seconds_of([&] { compress2(z.data(), &zsize, data.data(), uLong(data.size()), kZlibLevel); });
  decoders.push_back({add("zlib", "-9, inflate", zsize, mbps(zt)), [&] {
                        uLongf n = uLongf(out.size());
                        return uncompress(out.data(), &n, z.data(), zsize) == Z_OK &&
                               n == data.size();
                      }});
  // libdeflate -12 (raw DEFLATE).
  libdeflate_compressor* c = libdeflate_alloc_compressor(kLibdeflateLevel);
  Bytes d(libdeflate_deflate_compress_bound(c, data.size()));
  size_t dsize = 0;
  const double dt = seconds_of([&] {
    dsize = libdeflate_deflate_compress(c, data.data(), data.size(), d.data(), d.size());
  });
  libdeflate_free_compressor(c);
  libdeflate_decompressor* dd = libdeflate_alloc_decompressor();
  decoders.push_back({add("libdeflate", "-12", dsize, mbps(dt)), [&] {
                        size_t n = 0;
                        return libdeflate_deflate_decompress(dd, d.data(), dsize, out.data(),
                                                             out.size(),
                                                             &n) == LIBDEFLATE_SUCCESS &&
                               n == data.size();
                      }});
  // The decoders take turns, one run each per round, so that a busy spell of the machine
  // falls on all of them alike; each keeps its fastest run. A decoder whose output, from a
  // cleared destination, differs from the input scores 0.
  std::vector<double> best(decoders.size(), 1e30);
  std::vector<bool> failed(decoders.size(), false);
  for (int run = 0; run < kDecodeRuns; ++run) {
    for (size_t k = 0; k < decoders.size(); ++k) {
      const double t = time_one_run(decoders[k].decode);
      if (t < 0) failed[k] = true;
      best[k] = std::min(best[k], t);
    }
  }
  for (size_t k = 0; k < decoders.size(); ++k) {
    std::fill(out.begin(), out.end(), uint8_t(0));
    const bool right = decoders[k].decode() && out == data;
    rows[decoders[k].row].decode_mbps = failed[k] || !right ? 0 : mbps(best[k]);
  }
  libdeflate_free_decompressor(dd);
}

const Row* find(const std::vector<Row>& rows, const std::string& dataset, const std::string& codec,
                const std::string& setting) {
  for (const Row& r : rows) {
    if (r.dataset == dataset && r.codec == codec && r.setting == setting) return &r;
  }
  return nullptr;
}

void report(const std::vector<Row>& rows, const std::vector<std::string>& datasets, FILE* csv) {
  std::fprintf(csv,
               "dataset,codec,setting,input_bytes,compressed_bytes,ratio,encode_MBps,"
               "decode_MBps\n");
  std::printf(
      "| data set | codec | setting | compressed | ratio | encode MB/s | decode MB/s |\n"
      "|---|---|---|---:|---:|---:|---:|\n");
  for (const Row& r : rows) {
    const double ratio = double(r.compressed) / double(r.input);
    std::fprintf(csv, "%s,%s,%s,%zu,%zu,%.4f,%.2f,%.1f\n", r.dataset.c_str(), r.codec.c_str(),
                 r.setting.c_str(), r.input, r.compressed, ratio, r.encode_mbps, r.decode_mbps);
    std::printf("| %s | %s | %s | %zu | %.4f | %s | %s |\n", r.dataset.c_str(), r.codec.c_str(),
                r.setting.c_str(), r.compressed, ratio,
                r.encode_mbps > 0
                    ? std::to_string(int(r.encode_mbps * 100) / 100.0).substr(0, 6).c_str()
                    : "",
                r.decode_mbps > 0 ? std::to_string(int(r.decode_mbps)).c_str() : "");
  }
  std::printf(
      "\n| data set | level 9 / zlib -9 | jc_decode / inflate | jc_decode / libdeflate |"
      " level 9 encode MB/s |\n|---|---:|---:|---:|---:|\n");
  for (const std::string& name : datasets) {
    const Row* jc = find(rows, name, "jc", "level 9, jc_decode");
    const Row* zl = find(rows, name, "zlib", "-9, inflate");
    const Row* ld = find(rows, name, "libdeflate", "-12");
    std::printf("| %s | %.3f | %.2f | %.2f | %.2f |\n", name.c_str(),
                double(jc->compressed) / double(zl->compressed), jc->decode_mbps / zl->decode_mbps,
                jc->decode_mbps / ld->decode_mbps, jc->encode_mbps);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: jc_bench CSV NAME=PATH...\n");
    return 2;
  }
  std::vector<Row> rows;
  std::vector<std::string> datasets;
  for (int i = 2; i < argc; ++i) {
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
    bench_dataset(datasets.back(), data, rows);
  }
  FILE* csv = std::fopen(argv[1], "w");
  if (csv == nullptr) {
    std::fprintf(stderr, "jc_bench: cannot write %s\n", argv[1]);
    return 1;
  }
  report(rows, datasets, csv);
  std::fclose(csv);
  return 0;
}
