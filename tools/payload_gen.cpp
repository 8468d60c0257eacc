// payload_gen OUTDIR: writes the program's six payload files into OUTDIR.
//
// The files are made from fixed seeds, so every build makes the same bytes. The five
// programs are laid out like Windows executables: an MZ header with a short stub, a PE
// header with a section table, then a code section of functions built from recurring
// instruction patterns, a read-only section with import names and message strings, a data
// section of tables and zeros, and a resource section that holds one region of random
// (incompressible) bytes. The large library repeats some of its functions far apart, so
// that the packer finds matches at long distances. The text file is a German description
// of the bundle.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kHeaderSize = 0x400;
constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kRandomRegionSize = 4096;
constexpr uint32_t kImageBase = 0x400000;

/// A small deterministic generator (splitmix64).
struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  uint8_t byte() { return static_cast<uint8_t>(next()); }
};

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
void append(Bytes& b, std::initializer_list<uint8_t> bytes) {
  b.insert(b.end(), bytes);
}
void append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void append_text(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}
uint32_t round_down(uint32_t v, uint32_t a) {
  return v / a * a;
}

/// A file's name and size, from the one table of the six files.
struct PayloadFact {
  const char* name;
  uint32_t size;
};

constexpr PayloadFact kPayload[] = {
#define PAYLOAD_ENTRY(name, size) {name, size},
#include "app/payload_entries.def"
#undef PAYLOAD_ENTRY
};

/// The first five files are programs; the sixth is the text.
constexpr size_t kProgramCount = 5;
constexpr size_t kTextIndex = 5;
static_assert(std::size(kPayload) == kProgramCount + 1, "five programs and a text");

struct ProgramLayout {
  const char* name;
  uint32_t size;
  uint64_t seed;
  bool library;
};

const ProgramLayout kPrograms[kProgramCount] = {
    {kPayload[0].name, kPayload[0].size, 0x51ull, false},
    {kPayload[1].name, kPayload[1].size, 0x7Eull, true},
    {kPayload[2].name, kPayload[2].size, 0x3Cull, false},
    {kPayload[3].name, kPayload[3].size, 0x4Dull, false},
    {kPayload[4].name, kPayload[4].size, 0x2Bull, false},
};

const char* const kImports[] = {
    "CreateFileA",      "ReadFile",        "WriteFile",
    "CloseHandle",      "GetFileSize",     "SetFilePointer",
    "HeapAlloc",        "HeapFree",        "HeapCreate",
    "GetModuleHandleA", "GetProcAddress",  "LoadLibraryA",
    "ExitProcess",      "GetCommandLineA", "GetStdHandle",
    "WriteConsoleA",    "GetLastError",    "MultiByteToWideChar",
    "lstrlenA",         "lstrcpyA",        "MessageBoxA",
    "wsprintfA",        "GetTickCount",    "Sleep",
};

const char* const kMessages[] = {
    "Fehler beim Lesen der Datei %s",
    "Speicher reicht nicht aus",
    "Konfiguration wird geladen ...",
    "Verbindung zum Dienst hergestellt",
    "Ungueltiger Parameter: %d",
    "Die Datei ist beschaedigt",
    "Bitte legen Sie den Datentraeger ein",
    "Vorgang abgebrochen",
    "Protokoll wird geschrieben",
    "Zugriff verweigert",
    "Version %d.%02d vom %s",
    "Alle Rechte vorbehalten",
};

/// Emits one function of code-like bytes: a frame, a body of common instructions with
/// varying operands, calls to earlier functions and imports, and an epilogue.
void emit_function(Bytes& code, Random& r, uint32_t code_base, const std::vector<uint32_t>& starts,
                   uint32_t import_table) {
  append(code, {0x55, 0x8B, 0xEC, 0x83, 0xEC, static_cast<uint8_t>(4 * (1 + r.below(16)))});
  const uint32_t body = 8 + r.below(40);
  for (uint32_t i = 0; i < body; ++i) {
    const uint8_t slot = static_cast<uint8_t>(0x100 - 4 * (1 + r.below(8)));
    switch (r.below(12)) {
      case 0:
        append(code, {0x8B, 0x45, slot});
        break;
      case 1:
        append(code, {0x89, 0x45, slot});
        break;
      case 2:
        append(code, {0x8B, 0x4D, static_cast<uint8_t>(8 + 4 * r.below(4))});
        break;
      case 3:
        append(code, {0x50, 0x51});
        break;
      case 4:
        append(code, {0x6A, static_cast<uint8_t>(r.below(3))});
        break;
      case 5:
        code.push_back(0xFF);
        code.push_back(0x15);
        append32(code, import_table + 4 * r.below(24));
        break;
      case 6:
        if (!starts.empty()) {
          const uint32_t here = code_base + static_cast<uint32_t>(code.size()) + 5;
          code.push_back(0xE8);
          append32(code, starts[r.below(static_cast<uint32_t>(starts.size()))] - here);
        }
        break;
      case 7:
        append(code, {0x85, 0xC0, 0x74, static_cast<uint8_t>(2 + r.below(30))});
        break;
      case 8:
        append(code, {0x33, 0xC0});
        break;
      case 9:
        append(code, {0xC7, 0x45, slot});
        append32(code, r.below(4) == 0 ? r.below(0x10000) : 0);
        break;
      case 10:
        append(code, {0x83, 0xC4, static_cast<uint8_t>(4 * (1 + r.below(4)))});
        break;
      default:
        append(code, {0x8B, 0x55, slot, 0x03, 0xC2});
        break;
    }
  }
  if (r.below(2))
    append(code, {0x8B, 0xE5, 0x5D, 0xC3});
  else
    append(code, {0xC9, 0xC2, static_cast<uint8_t>(4 * r.below(4)), 0x00});
  while (code.size() % 16) code.push_back(0xCC);
}

/// The code section: functions, and in a library copies of earlier functions emitted
/// again far behind their first appearance.
Bytes make_code(Random& r, uint32_t size, uint32_t base, uint32_t import_table, bool library) {
  Bytes code;
  std::vector<uint32_t> starts;
  std::vector<std::pair<size_t, size_t>> functions;
  while (code.size() < size) {
    const size_t begin = code.size();
    if (library && functions.size() > 64 && r.below(5) == 0) {
      const auto& f = functions[r.below(static_cast<uint32_t>(functions.size() / 4))];
      code.insert(code.end(), code.begin() + static_cast<long>(f.first),
                  code.begin() + static_cast<long>(f.second));
    } else {
      emit_function(code, r, base, starts, import_table);
    }
    starts.push_back(base + static_cast<uint32_t>(begin));
    functions.emplace_back(begin, code.size());
  }
  code.resize(size);
  return code;
}

/// The read-only section: import address table, import names, and message strings.
Bytes make_rdata(Random& r, uint32_t size, const char* dll_name) {
  Bytes data;
  for (size_t i = 0; i < std::size(kImports); ++i)
    append32(data, 0x1000 + 32 * static_cast<uint32_t>(i));
  append32(data, 0);
  for (const char* name : kImports) {
    data.push_back(static_cast<uint8_t>(r.below(200)));
    data.push_back(0);
    append_text(data, name);
    if (data.size() % 2) data.push_back(0);
  }
  append_text(data, "KERNEL32.dll");
  append_text(data, "USER32.dll");
  append_text(data, dll_name);
  while (data.size() < size) {
    append_text(data, kMessages[r.below(static_cast<uint32_t>(std::size(kMessages)))]);
    if (r.below(3) == 0) {
      char id[48];
      std::snprintf(id, sizeof id, "%s_%04X", dll_name, r.below(0x10000));
      append_text(data, id);
    }
  }
  data.resize(size);
  return data;
}

/// The data section: tables of small numbers and pointers, mostly zeros.
Bytes make_data(Random& r, uint32_t size) {
  Bytes data(size, 0);
  for (uint32_t at = 0; at + 4 <= size / 2; at += 4) {
    const uint32_t v = at < size / 8 ? kImageBase + 0x1000 + 16 * r.below(4096) : r.below(64);
    put32(data, at, r.below(3) == 0 ? 0 : v);
  }
  return data;
}

/// The resource section: a header table, one region of random bytes, then bitmap-like rows.
Bytes make_resources(Random& r, uint32_t size) {
  Bytes data(size, 0);
  for (uint32_t at = 0; at < 64 && at + 4 <= size; at += 4) put32(data, at, r.below(256));
  for (uint32_t i = 0; i < kRandomRegionSize && 64 + i < size; ++i) data[64 + i] = r.byte();
  const uint32_t bitmap = 64 + kRandomRegionSize;
  for (uint32_t at = bitmap; at < size; ++at)
    data[at] =
        static_cast<uint8_t>(((at - bitmap) / 32 % 7 == 0) ? 0xFF : ((at - bitmap) % 32) * 8);
  return data;
}

struct Section {
  const char* name;
  Bytes bytes;
  uint32_t characteristics;
};

/// The MZ and PE headers with the section table, padded to kHeaderSize.
Bytes make_headers(const ProgramLayout& program, const std::vector<Section>& sections) {
  Bytes h(kHeaderSize, 0);
  h[0] = 'M';
  h[1] = 'Z';
  put16(h, 0x02, 0x90);
  put16(h, 0x04, 3);
  put16(h, 0x08, 4);
  put16(h, 0x0C, 0xFFFF);
  put16(h, 0x10, 0xB8);
  put16(h, 0x18, 0x40);
  put32(h, 0x3C, kPeOffset);
  const char stub[] = "Dieses Programm laeuft nur unter Windows.\r\r\n$";
  std::memcpy(&h[0x4E], stub, sizeof stub - 1);
  std::memcpy(&h[kPeOffset], "PE\0\0", 4);
  const size_t coff = kPeOffset + 4;
  put16(h, coff, 0x14C);
  put16(h, coff + 2, static_cast<uint32_t>(sections.size()));
  put32(h, coff + 4, 0x5F3A2C10 + static_cast<uint32_t>(program.seed));
  put16(h, coff + 16, 0xE0);
  put16(h, coff + 18, program.library ? 0x2102 : 0x0102);
  const size_t opt = coff + 20;
  put16(h, opt, 0x10B);
  put32(h, opt + 16, 0x1000);
  put32(h, opt + 28, program.library ? 0x10000000 : kImageBase);
  put32(h, opt + 32, 0x1000);
  put32(h, opt + 36, kFileAlignment);
  put16(h, opt + 40, 4);
  put16(h, opt + 68, 3);  // console subsystem
  put32(h, opt + 92, 16);
  size_t entry = opt + 0xE0;
  uint32_t raw = kHeaderSize;
  uint32_t virtual_address = 0x1000;
  for (const Section& s : sections) {
    std::memcpy(&h[entry], s.name, std::strlen(s.name));
    const uint32_t length = static_cast<uint32_t>(s.bytes.size());
    put32(h, entry + 8, length);
    put32(h, entry + 12, virtual_address);
    put32(h, entry + 16, length);
    put32(h, entry + 20, raw);
    put32(h, entry + 36, s.characteristics);
    raw += length;
    virtual_address += (length + 0xFFF) / 0x1000 * 0x1000;
    entry += 40;
  }
  return h;
}

Bytes make_program(const ProgramLayout& program) {
  Random r{program.seed};
  const uint32_t body = program.size - kHeaderSize;
  const uint32_t code_size = round_down(body * 55 / 100, kFileAlignment);
  const uint32_t rdata_size = round_down(body * 18 / 100, kFileAlignment);
  const uint32_t data_size = round_down(body * 12 / 100, kFileAlignment);
  const uint32_t rsrc_size = body - code_size - rdata_size - data_size;
  const uint32_t import_table = kImageBase + 0x1000 + code_size;
  std::vector<Section> sections;
  sections.push_back({".text",
                      make_code(r, code_size, kImageBase + 0x1000, import_table, program.library),
                      0x60000020});
  sections.push_back({".rdata", make_rdata(r, rdata_size, program.name), 0x40000040});
  sections.push_back({".data", make_data(r, data_size), 0xC0000040});
  sections.push_back({".rsrc", make_resources(r, rsrc_size), 0x40000040});
  Bytes file = make_headers(program, sections);
  for (const Section& s : sections) file.insert(file.end(), s.bytes.begin(), s.bytes.end());
  return file;
}

constexpr uint32_t kTextSize = kPayload[kTextIndex].size;

const char* const kTextParagraphs[] = {
    "LOSTRAND - Hinweise zum Programmpaket\r\n"
    "=====================================\r\n\r\n",
    "Dieses Paket enthaelt fuenf Programme und diese Textdatei. Das Entpackprogramm legt alle "
    "Dateien in dem Verzeichnis ab, in dem es selbst liegt. Bereits vorhandene Dateien werden "
    "nur nach Rueckfrage ueberschrieben: mit J wird die Datei ersetzt, mit N bleibt sie "
    "erhalten, mit A werden diese und alle folgenden Dateien ohne weitere Frage ersetzt.\r\n\r\n",
    "quorvane.exe\r\n"
    "    Das Hauptprogramm. Es liest die Einstellungen aus seinem Verzeichnis, oeffnet das "
    "Hauptfenster und bindet die Bibliothek tessalor.dll ein. Beim ersten Start legt es eine "
    "neue Protokolldatei an.\r\n\r\n",
    "tessalor.dll\r\n"
    "    Die gemeinsame Bibliothek aller Programme des Pakets. Sie enthaelt die Routinen fuer "
    "Dateizugriffe, Zeichensaetze, die Ausgabe von Meldungen und die Verwaltung des "
    "Speichers. Ohne diese Datei startet keines der Programme.\r\n\r\n",
    "mirkel.exe\r\n"
    "    Ein kleines Werkzeug zum Pruefen der Datenbestaende. Es meldet beschaedigte oder "
    "unvollstaendige Dateien und schreibt eine Zusammenfassung in das Protokoll.\r\n\r\n",
    "fandost.exe\r\n"
    "    Das Programm zur Datensicherung. Es kopiert die Datenbestaende in ein frei waehlbares "
    "Verzeichnis und kann eine Sicherung auch wieder einspielen.\r\n\r\n",
    "brovix.exe\r\n"
    "    Der Druckdienst. Er bereitet Berichte fuer den Drucker auf und kann sie auch als "
    "Textdatei ablegen.\r\n\r\n",
    "Systemvoraussetzungen\r\n"
    "---------------------\r\n"
    "Ein Rechner mit Windows ab Version 95 oder NT 4.0, mindestens 8 MB Arbeitsspeicher und "
    "etwa 2 MB freier Platz auf der Festplatte. Eine Maus wird empfohlen, ist aber nicht "
    "notwendig: alle Funktionen sind auch ueber die Tastatur erreichbar.\r\n\r\n",
    "Installation\r\n"
    "------------\r\n"
    "Kopieren Sie das Entpackprogramm in das gewuenschte Verzeichnis und starten Sie es dort. "
    "Waehrend des Entpackens entsteht kurzzeitig die Datei pactest.pac; sie wird am Ende "
    "wieder geloescht. Danach kann das Entpackprogramm entfernt werden.\r\n\r\n",
    "Bekannte Einschraenkungen\r\n"
    "-------------------------\r\n"
    "Auf schreibgeschuetzten Datentraegern kann nicht entpackt werden. Ist eine Zieldatei "
    "schreibgeschuetzt oder gibt es ein Verzeichnis gleichen Namens, bleibt sie unveraendert, "
    "und das Entpackprogramm meldet einen Fehler.\r\n\r\n",
    "Versionsgeschichte\r\n"
    "------------------\r\n",
};

constexpr size_t kTextColumns = 76;

/// Breaks each line of `paragraph` that is longer than kTextColumns at blanks, keeping the
/// line's indentation on its continuation lines.
std::string wrap(const std::string& paragraph) {
  std::string out;
  size_t start = 0;
  while (start < paragraph.size()) {
    size_t end = paragraph.find("\r\n", start);
    if (end == std::string::npos) end = paragraph.size();
    std::string line = paragraph.substr(start, end - start);
    const std::string indent = line.substr(0, line.find_first_not_of(' '));
    while (line.size() > kTextColumns) {
      const size_t cut = line.rfind(' ', kTextColumns);
      if (cut == std::string::npos || cut <= indent.size()) break;
      out += line.substr(0, cut) + "\r\n";
      line = indent + line.substr(cut + 1);
    }
    out += line;
    if (end < paragraph.size()) out += "\r\n";
    start = end + 2;
  }
  return out;
}

const char* const kMonths[] = {"Januar", "Maerz", "Mai", "Juli", "September", "November"};

const char* const kHistory[] = {
    "neue Sicherung in mehreren Teilen",
    "schnellerer Start des Hauptprogramms",
    "Fehler beim Drucken langer Berichte behoben",
    "Pruefung grosser Datenbestaende",
    "Meldungen ueberarbeitet",
    "weniger Speicherbedarf der Bibliothek",
    "Protokoll mit Datum und Uhrzeit",
    "Korrekturen an der Tastaturbedienung",
};

std::string make_text() {
  std::string text;
  for (const char* p : kTextParagraphs) text += wrap(p);
  Random r{0x7A};
  const std::string closing = "\r\nViel Freude mit dem Paket!\r\n";
  for (int version = 0;; ++version) {
    char line[160];
    std::snprintf(line, sizeof line, "  %d.%d (%s %d): %s\r\n", 1 + version / 4, version % 4,
                  kMonths[version % 6], 1994 + version / 3,
                  kHistory[r.below(static_cast<uint32_t>(std::size(kHistory)))]);
    if (text.size() + std::strlen(line) + closing.size() + 4 > kTextSize) break;
    text += line;
  }
  text += closing;
  // Fill up to the exact size with a closing rule line.
  const size_t rule = kTextSize - text.size() - 2;
  text += std::string(rule, '-') + "\r\n";
  return text;
}

bool write_file(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: payload_gen OUTDIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  for (const ProgramLayout& program : kPrograms) {
    const Bytes file = make_program(program);
    if (file.size() != program.size || !write_file(dir + program.name, file.data(), file.size())) {
      std::fprintf(stderr, "payload_gen: cannot write %s%s\n", dir.c_str(), program.name);
      return 1;
    }
  }
  const std::string text = make_text();
  const char* text_name = kPayload[kTextIndex].name;
  if (text.size() != kTextSize || !write_file(dir + text_name, text.data(), text.size())) {
    std::fprintf(stderr, "payload_gen: cannot write %s%s\n", dir.c_str(), text_name);
    return 1;
  }
  return 0;
}
