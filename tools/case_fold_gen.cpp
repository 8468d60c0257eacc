// Makes the case-folding table of the name case rule (platform/name_case.h) from the
// Unicode character database's CaseFolding.txt and UnicodeData.txt, at build time:
//   case_fold_gen CaseFolding.txt UnicodeData.txt OUTPUT.inc
//
// Only the simple foldings are taken (statuses C and S: one code point to one code point).
// Windows compares names by their upper case instead, and one letter that folds to nothing
// has an upper case that folds to something else: the dotless ı, whose upper case is I. So
// a code point without a folding takes the folding of its simple upper-case mapping
// (UnicodeData.txt, field 12) where that differs from the code point itself; names that
// Windows takes for one then fold alike.
// They are written as runs of code points that fold by the same distance, either one after
// another (A-Z) or every other one (Ā ā Ă ă ...: the capitals at even distances, the small
// letters between them folding to nothing), each run packed into 32 bits:
//
//   bits 15-31  first code point of the run (below kMaxCodePoint)
//   bits 8-14   code points in the run, less one (1 to kMaxRunLength)
//   bit 7       0: every code point; 1: every other one
//   bits 0-6    index of the run's distance in the table of distances (kMaxDistances)
//
// The runs are sorted by first code point and do not interleave, so a binary search over the
// packed values finds the run of a code point. A file that the packing cannot hold (a code
// point beyond 17 bits, too many distances) stops the build with a message.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMaxCodePoint = 1u << 17;
constexpr uint32_t kMaxRunLength = 128;
constexpr size_t kMaxDistances = 128;
constexpr int kStartShift = 15;
constexpr int kLengthShift = 8;
constexpr uint32_t kEveryOtherBit = 1u << 7;

struct Run {
  uint32_t start;
  uint32_t length;
  uint32_t stride;  ///< 1 or 2
  int32_t distance;
};

bool fail(const std::string& message) {
  std::fprintf(stderr, "case_fold_gen: %s\n", message.c_str());
  return false;
}

size_t utf8_size(uint32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

/// Reads the simple foldings of the file into `folds` and its first line (the file's name
/// and version) into `version`.
bool read_foldings(const char* path, std::map<uint32_t, uint32_t>* folds, std::string* version) {
  std::ifstream in(path);
  if (!in) return fail(std::string("cannot read ") + path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1) *version = trimmed(line.substr(line.find_first_not_of("# ")));
    const std::string data = trimmed(line.substr(0, line.find('#')));
    if (data.empty()) continue;
    std::vector<std::string> fields;
    std::stringstream parts(data);
    for (std::string field; std::getline(parts, field, ';');) fields.push_back(trimmed(field));
    if (fields.size() < 3)
      return fail(std::string(path) + ":" + std::to_string(number) + ": bad line");
    if (fields[1] != "C" && fields[1] != "S") continue;
    const uint32_t from = uint32_t(std::stoul(fields[0], nullptr, 16));
    const uint32_t to = uint32_t(std::stoul(fields[2], nullptr, 16));
    // The key of a name (its folded form) must stay within twice the name's bytes.
    if (utf8_size(to) > 2 * utf8_size(from))
      return fail(std::string(path) + ":" + std::to_string(number) +
                  ": a folding that grows too much");
    (*folds)[from] = to;
  }
  if (folds->empty()) return fail(std::string(path) + ": no simple foldings");
  return true;
}

/// Adds to `folds` the folding of the simple upper-case mapping of each code point that has
/// no folding of its own, where that folding is not the code point itself.
bool add_upper_case_foldings(const char* path, std::map<uint32_t, uint32_t>* folds) {
  constexpr size_t kUpperCaseField = 12;
  std::ifstream in(path);
  if (!in) return fail(std::string("cannot read ") + path);
  std::map<uint32_t, uint32_t> added;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream parts(line);
    for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
    if (fields.size() <= kUpperCaseField || fields[kUpperCaseField].empty()) continue;
    const uint32_t c = uint32_t(std::stoul(fields[0], nullptr, 16));
    const uint32_t upper = uint32_t(std::stoul(fields[kUpperCaseField], nullptr, 16));
    const auto upper_fold = folds->find(upper);
    const uint32_t folded = upper_fold == folds->end() ? upper : upper_fold->second;
    if (folds->count(c) == 0 && folded != c) added[c] = folded;
  }
  folds->insert(added.begin(), added.end());
  return true;
}

std::vector<Run> runs_of(const std::map<uint32_t, uint32_t>& folds) {
  std::vector<std::pair<uint32_t, int32_t>> list;
  for (const auto& [from, to] : folds) list.emplace_back(from, int32_t(to) - int32_t(from));
  std::vector<Run> runs;
  for (size_t i = 0; i < list.size();) {
    Run run{list[i].first, 1, 1, list[i].second};
    const bool follows = i + 1 < list.size() && list[i + 1].second == run.distance &&
                         list[i + 1].first - run.start <= 2;
    if (follows) run.stride = list[i + 1].first - run.start;
    while (follows && i + run.length < list.size() && run.length < kMaxRunLength &&
           list[i + run.length].first == run.start + run.length * run.stride &&
           list[i + run.length].second == run.distance)
      ++run.length;
    runs.push_back(run);
    i += run.length;
  }
  return runs;
}

bool write_table(const char* path, const std::vector<Run>& runs, size_t foldings,
                 const std::string& version) {
  std::vector<int32_t> distances;
  std::vector<uint32_t> packed;
  for (const Run& run : runs) {
    if (run.start + (run.length - 1) * run.stride >= kMaxCodePoint)
      return fail("a folding beyond U+1FFFF does not fit the packing");
    size_t index = 0;
    while (index < distances.size() && distances[index] != run.distance) ++index;
    if (index == distances.size()) distances.push_back(run.distance);
    if (distances.size() > kMaxDistances) return fail("too many distances for the packing");
    packed.push_back(run.start << kStartShift | (run.length - 1) << kLengthShift |
                     (run.stride == 2 ? kEveryOtherBit : 0) | uint32_t(index));
  }
  std::ostringstream out;
  out << "// Made by case_fold_gen from " << version << ": " << foldings << " foldings in "
      << runs.size() << " runs. Do not edit.\n";
  out << "constexpr uint32_t kCaseFoldLastCodePoint = 0x" << std::hex
      << runs.back().start + (runs.back().length - 1) * runs.back().stride << std::dec << ";\n";
  out << "constexpr uint32_t kCaseFoldRuns[] = {";
  for (size_t i = 0; i < packed.size(); ++i)
    out << (i % 6 == 0 ? "\n    " : " ") << "0x" << std::hex << packed[i] << std::dec << "u,";
  out << "\n};\nconstexpr int32_t kCaseFoldDistances[] = {";
  for (size_t i = 0; i < distances.size(); ++i)
    out << (i % 8 == 0 ? "\n    " : " ") << distances[i] << ",";
  out << "\n};\n";
  std::ofstream file(path, std::ios::binary);
  file << out.str();
  file.close();
  if (!file) return fail(std::string("cannot write ") + path);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: case_fold_gen CaseFolding.txt UnicodeData.txt OUTPUT\n");
    return 2;
  }
  std::map<uint32_t, uint32_t> folds;
  std::string version;
  if (!read_foldings(argv[1], &folds, &version) || !add_upper_case_foldings(argv[2], &folds))
    return 1;
  if (!write_table(argv[3], runs_of(folds), folds.size(), version)) return 1;
  return 0;
}
