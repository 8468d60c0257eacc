#include "tools/jcpack_options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

#include "pack/named_archive.h"
#include "pack/named_settings.h"
#include "tools/sfx_installer.h"

namespace {

/// The commands, one bit each, for the options each one takes.
enum CommandBit : unsigned {
  kCompress = 1u << 0,
  kDecompress = 1u << 1,
  kPack = 1u << 2,
  kList = 1u << 3,
  kUnpack = 1u << 4,
  kTest = 1u << 5,
  kSfx = 1u << 6,
  kEveryCommand = kCompress | kDecompress | kPack | kList | kUnpack | kTest | kSfx,
};

struct CommandName {
  const char* name;
  CommandBit bit;
};

constexpr CommandName kCommands[] = {
    {"compress", kCompress}, {"decompress", kDecompress}, {"pack", kPack},
    {"list", kList},         {"unpack", kUnpack},         {"test", kTest},
    {"sfx", kSfx},
};

/// The value getopt_long gives an option that has no short form: above every character.
enum LongOnly : int {
  kStoreOption = 256,
  kBlockSizeOption,
  kPlatformOption,
  kStubOption,
  kTitleOption,
  kLanguageOption,
  kRunOption,
  kTempOption,
  kLicenseOption,
};

/// One option: its short character (or LongOnly value), long name, whether it takes a
/// value, and the commands that take it.
struct OptionEntry {
  int id;
  const char* long_name;
  int has_arg;
  unsigned commands;
};

constexpr OptionEntry kOptions[] = {
    {'l', "level", required_argument, kCompress | kPack | kSfx},
    {kStoreOption, "store", no_argument, kPack},
    {'f', "force", no_argument, kCompress | kDecompress | kPack | kSfx},
    {'o', "output", required_argument, kSfx},
    {'T', "threads", required_argument, kSfx},
    {kBlockSizeOption, "block-size", required_argument, kSfx},
    {kPlatformOption, "platform", required_argument, kSfx},
    {kStubOption, "stub", required_argument, kSfx},
    {kTitleOption, "title", required_argument, kSfx},
    {kLanguageOption, "lang", required_argument, kSfx},
    {kRunOption, "run", required_argument, kSfx},
    {kTempOption, "temp", no_argument, kSfx},
    {kLicenseOption, "license", required_argument, kSfx},
    {'q', "quiet", no_argument, kEveryCommand},
    {'v', "verbose", no_argument, kEveryCommand},
    {'h', "help", no_argument, kEveryCommand},
    {'V', "version", no_argument, kEveryCommand},
};

/// The short options for getopt_long: `-` hands over every operand in its place (so that
/// options are read anywhere whatever POSIXLY_CORRECT says), `:` tells a missing value
/// apart from an unknown option.
constexpr char kShortOptions[] = "-:l:fo:T:qvhV";

/// Marks an operand in what getopt_long returns with the leading `-`.
constexpr int kOperand = 1;

/// The most digits a count may have.
constexpr size_t kCountMaxDigits = 6;

constexpr const char* kUsage =
    "usage: jcpack COMMAND [OPTION...] OPERAND...\n"
    "  jcpack compress [-f] [-l LEVEL] IN OUT     IN as one JC block\n"
    "  jcpack decompress [-f] IN OUT              the bytes of the JC block IN\n"
    "  jcpack pack [-f] [--store] [-l LEVEL] OUT FILE...\n"
    "                                             a pack archive of the FILEs, in order\n"
    "  jcpack list ARCHIVE                        the entries and whether they unpack\n"
    "  jcpack test ARCHIVE                        unpacks and checks every entry (of a\n"
    "                                             self-extractor: every check its --test\n"
    "                                             makes)\n"
    "  jcpack unpack ARCHIVE DIR [NAME...]        the entries into DIR, under the NAMEs\n"
    "                                             or entry-1, entry-2, ...\n"
    "  jcpack sfx [-f] [-l LEVEL] [-T THREADS] [--block-size MIB] [--title TEXT]\n"
    "             [--lang en|de] [--run 'CMD ARGS' [--temp]] [--license FILE]\n"
    "             [--platform linux|win32|win64 | --stub FILE] -o OUT PATH...\n"
    "                                             a self-extractor of the files and\n"
    "                                             folders PATH, named from the PATH down\n"
    "ARCHIVE is a pack archive or a self-extractor, whose entries go under their own names.\n"
    "Options go anywhere before --, as -l9, -l 9, --level=9 or --level 9:\n"
    "  -f, --force          replace an existing OUT\n"
    "  -l, --level LEVEL    1 (fastest) to 9 (smallest, the default; sfx: 6, the default)\n"
    "  --store              pack: every entry stored as it is\n"
    "  -o, --output OUT     sfx: the self-extractor to write\n"
    "  -T, --threads N      sfx: compress on N threads (default 0: one per core; the output\n"
    "                       is the same for any number)\n"
    "  --block-size MIB     sfx: the files' bytes, back to back, are cut into blocks of MIB\n"
    "                       MiB (1 to 8, default 8), each compressed alone\n"
    "  --platform PLATFORM  sfx: the stub beside jcpack for linux (the default), win32 or\n"
    "                       win64\n"
    "  --stub FILE          sfx: FILE as the stub\n"
    "  --title TEXT         sfx: the self-extractor's title, 1 to 200 bytes of UTF-8 text\n"
    "                       without control characters\n"
    "  --lang en|de         sfx: the language of its dialogue (default en)\n"
    "  --run 'CMD ARGS'     sfx: an installer, which runs CMD with ARGS after a complete\n"
    "                       extraction; CMD is a file of the archive, by its path in it\n"
    "                       (for Linux executable, or a script starting with #! or named\n"
    "                       *.sh; for Windows named *.exe, *.cmd or *.bat). Blanks\n"
    "                       separate words; 'single' and \"double\" quotes group; a\n"
    "                       backslash escapes the next character (in double quotes only\n"
    "                       \" and \\, in single quotes none); nothing goes through a shell\n"
    "  --temp               sfx, with --run: extract into a new private folder, removed\n"
    "                       after the command\n"
    "  --license FILE       sfx: the licence text shown, and accepted, before extracting:\n"
    "                       1 byte to 256 KiB of UTF-8 text\n"
    "  -q, --quiet          no messages but errors\n"
    "  -v, --verbose        what is done: each file, and the totals\n"
    "  -h, --help           this text\n"
    "  -V, --version        jcpack's version\n"
    "Entries are also stored as they are where compression would not make them smaller.\n"
    "- as IN, ARCHIVE or one FILE reads standard input; - as OUT writes standard output.\n"
    "An existing OUT is replaced only with -f; a device or FIFO given as OUT is written\n"
    "directly, without. OUT is written once complete (a regular file keeps its permission\n"
    "bits, a symbolic link is replaced, not written through). On failure nothing is left\n"
    "behind and the exit code is 1; a usage mistake exits with 2.\n";

const OptionEntry* find_option(int id) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

/// How a message names an option: "-l (--level)" or "--store".
std::string option_name(const OptionEntry& entry) {
  const std::string long_form = std::string("--") + entry.long_name;
  if (entry.id >= kStoreOption) return long_form;
  return std::string("-") + char(entry.id) + " (" + long_form + ")";
}

/// Reads a decimal number from 0 to `most` into `*value`; false when `text` is not one.
bool parse_count(const std::string& text, unsigned most, unsigned* value) {
  if (text.empty() || text.size() > kCountMaxDigits) return false;
  unsigned n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + unsigned(c - '0');
  }
  if (n > most) return false;
  *value = n;
  return true;
}

/// Takes the option `id` with `value` into `line`. False with the mistake in `error`.
bool apply_option(int id, const std::string& value, CommandLine* line, std::string* error) {
  switch (id) {
    case 'l':
      if (!parse_level(value, &line->level)) *error = "the level must be a number from 1 to 9";
      break;
    case kStoreOption:
      line->store = true;
      break;
    case 'f':
      line->force = true;
      break;
    case 'q':
      line->verbosity = Verbosity::quiet;
      break;
    case 'v':
      line->verbosity = Verbosity::verbose;
      break;
    case 'o':
      line->output = value;
      break;
    case 'T':
      if (!parse_count(value, kMaxThreads, &line->threads)) {
        *error =
            "the threads must be a number from 0 (one per core) to " + std::to_string(kMaxThreads);
      }
      break;
    case kBlockSizeOption:
      if (!parse_count(value, kNamedBlockMaxSize >> 20, &line->block_mib) || line->block_mib == 0) {
        *error = "the block size must be a number of MiB from 1 to " +
                 std::to_string(kNamedBlockMaxSize >> 20);
      }
      break;
    case kPlatformOption:
      line->platform = value;
      if (value != "linux" && value != "win32" && value != "win64") {
        *error = "the platform must be linux, win32 or win64";
      }
      break;
    case kStubOption:
      line->stub = value;
      break;
    case kTitleOption:
      line->title = value;
      if (!named_title_valid(reinterpret_cast<const uint8_t*>(value.data()), value.size())) {
        *error = "the title must be 1 to " + std::to_string(kNamedTitleMaxSize) +
                 " bytes of UTF-8 text without control characters";
      }
      break;
    case kLanguageOption:
      line->language = value;
      if (value != kNamedLanguageEnglish && value != kNamedLanguageGerman) {
        *error = std::string("the language must be ") + kNamedLanguageEnglish + " or " +
                 kNamedLanguageGerman;
      }
      break;
    case kRunOption:
      line->run = value;
      if (const std::string mistake = run_command_mistake(value); !mistake.empty()) {
        *error = "--run: " + mistake;
      }
      break;
    case kTempOption:
      line->temp = true;
      break;
    case kLicenseOption:
      line->license = value;
      if (value.empty()) *error = "--license needs a file";
      break;
    default:
      break;
  }
  return error->empty();
}

/// The usage mistake getopt_long reported with `c` ('?' or ':') for the argument before
/// `argv[optind]`.
std::string getopt_mistake(int c, char** argv) {
  const OptionEntry* entry = optopt != 0 ? find_option(optopt) : nullptr;
  if (c == ':' && entry != nullptr) return option_name(*entry) + " needs a value";
  if (entry != nullptr && entry->has_arg == no_argument)
    return option_name(*entry) + " takes no value";
  if (optopt != 0 && optopt < kStoreOption) return std::string("unknown option -") + char(optopt);
  std::string text = argv[optind - 1];
  text = text.substr(0, text.find('='));
  std::string matches;
  for (const OptionEntry& option : kOptions) {
    const std::string long_form = std::string("--") + option.long_name;
    if (text.size() > 2 && long_form.compare(0, text.size(), text) == 0) {
      matches += (matches.empty() ? "" : ", ") + long_form;
    }
  }
  if (!matches.empty()) return "ambiguous option " + text + " (" + matches + ")";
  return "unknown option " + text;
}

}  // namespace

bool parse_command_line(int argc, char** argv, CommandLine* line, int* exit_code) {
  std::vector<option> long_options;
  for (const OptionEntry& entry : kOptions) {
    long_options.push_back({entry.long_name, entry.has_arg, nullptr, entry.id});
  }
  long_options.push_back({nullptr, 0, nullptr, 0});
  struct Given {
    const OptionEntry* entry;
    std::string value;
  };
  std::vector<Given> given;
  std::vector<std::string> words;
  bool help = false;
  bool version = false;
  opterr = 0;
  optind = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, kShortOptions, long_options.data(), nullptr);
    if (c == -1) break;
    if (c == kOperand) {
      words.push_back(optarg);
    } else if (c == '?' || c == ':') {
      *exit_code = usage_error(getopt_mistake(c, argv));
      return false;
    } else {
      help = help || c == 'h';
      version = version || c == 'V';
      given.push_back({find_option(c), optarg != nullptr ? optarg : ""});
    }
  }
  for (int i = optind; i < argc; ++i) words.push_back(argv[i]);
  *exit_code = kExitOk;
  if (help || (!words.empty() && words[0] == "help")) {
    std::fputs(kUsage, stdout);
    return false;
  }
  if (version) {
    std::printf("jcpack %s\n", JCPACK_VERSION);
    return false;
  }
  if (words.empty()) {
    std::fprintf(stderr, "jcpack: no command given\n%s", kUsage);
    *exit_code = kExitUsage;
    return false;
  }
  line->command = words[0];
  line->operands.assign(words.begin() + 1, words.end());
  unsigned bit = 0;
  for (const CommandName& command : kCommands) {
    if (line->command == command.name) bit = command.bit;
  }
  if (bit == 0) {
    *exit_code = usage_error("unknown command '" + line->command + "'");
    return false;
  }
  for (const Given& option : given) {
    if ((option.entry->commands & bit) == 0) {
      *exit_code = usage_error(line->command + " takes no option " + option_name(*option.entry));
      return false;
    }
    std::string error;
    if (!apply_option(option.entry->id, option.value, line, &error)) {
      *exit_code = usage_error(error);
      return false;
    }
  }
  return true;
}
