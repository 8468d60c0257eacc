// The self-extractor's dialogue: English, or German when its archive asks for it.
#include "app/dialogue.h"
#include "app/display_name.h"

namespace {

const char* const kEnglishTexts[] = {
    "Error",
    "Extraction failed.",
    "Extraction finished.",
    "Every entry is sound.",
    "Press any key to finish...",
    "No archive appended: nothing to extract",
    "archive damaged (checksum mismatch): download it again",
    "File exists. Overwrite? [(y)es/(n)o/(a)ll]",
    "        Size       Stored  Name",
    "entries",
    "OK      ",
    "FAILED  ",
    "extracting '",
    "cannot make or enter the output folder",
    "unknown option",
    "missing value for",
    "given twice",
    "not allowed together",
    "Usage:",
    "[options]",
    "  -y, --yes           overwrite without asking, no wait at the end",
    "  -n, --no-overwrite  keep every existing file",
    "  -o, --output DIR    extract into DIR (also --target DIR, -d DIR)",
    "  -l, --list          list the entries",
    "  -t, --test          verify the entries, write nothing (also --check)",
    "  -q, --quiet         print failures only",
    "  --no-wait           no wait for a key at the end",
    "  -h, --help          this help",
    "  -V, --version       the version",
    "unsafe name",
    "name given twice",
    "name given twice (differs only in case)",
    "below a file",
    "archive damaged",
    "cannot be read",
    "out of memory",
    "entry damaged (checksum mismatch): download it again",
    "a link or a file is in the way of its folder",
    "a folder, link or read-only file is in the way",
    "not written",
    "folder time not set",
    "no space left on the device",
    "permission denied",
    ("archive cut short: the file ends inside its archive (an incomplete download? "
     "Download it again)"),
    "file",
    "files",
    "into",
    "Extracting",
    "not enough space",
    "needed",
    "available",
    "(--no-space-check skips this check)",
    "of",
    "bytes",
    ".",
    "self-extractor made with entpacker",
    "empty name",
    "name too long",
    "not valid UTF-8",
    "absolute path",
    "empty part in the path",
    "part of the path too long",
    "'.' or '..' in the path",
    "control character in the name",
    "'\\' or ':' in the name",
    "a part ends with a dot or a space",
    "a device name",
    "  --no-space-check    do not compare the free space first",
    "  --info              show what this file holds and runs, write nothing",
    "  --no-run            extract only, do not run the installer's command",
    "  --keep              keep the temporary folder after the command",
    "  --accept            accept the licence without showing it",
    "  -- ARGS             pass ARGS on to the installer's command",
    "Title: ",
    "Files: ",
    "packed",
    "Command: ",
    "Temporary folder: ",
    "Licence: ",
    "yes",
    "no",
    "none",
    "-- more: press any key --",
    "Accept? [y/n]",
    "Licence not accepted: nothing was written.",
    "no temporary folder can be made",
    "Files kept in",
    "the temporary folder could not be removed completely",
    "the command's program is not a file of the archive",
    "the command could not be run",
    "not found",
    "not executable",
    "its folder cannot be entered",
    "its arguments cannot be passed on unchanged",
    "the system refused to start it",
    "the command was ended by signal",

};

static_assert(sizeof kEnglishTexts / sizeof kEnglishTexts[0] == static_cast<size_t>(Text::count));

/// The German texts of the self-extractor's own, from Text::stub_first on.
const char* const kGermanStubTexts[] = {
    ("Archiv unvollstaendig: die Datei endet mitten im Archiv (Download unvollstaendig? "
     "Bitte neu herunterladen)"),
    "Datei",
    "Dateien",
    "nach",
    "Entpacke",
    "nicht genug Platz",
    "noetig",
    "frei",
    "(--no-space-check prueft nicht)",
    "von",
    "Bytes",
    ",",
    "Selbstentpacker von entpacker",
    "leerer Name",
    "Name zu lang",
    "kein gueltiges UTF-8",
    "absoluter Pfad",
    "leerer Teil im Pfad",
    "Teil des Pfads zu lang",
    "'.' oder '..' im Pfad",
    "Steuerzeichen im Namen",
    "'\\' oder ':' im Namen",
    "Teil endet mit Punkt oder Leerzeichen",
    "Geraetename",
    "  --no-space-check    freien Platz nicht vorab pruefen",
    "  --info              Inhalt und Befehl zeigen, nichts schreiben",
    "  --no-run            nur entpacken, den Befehl nicht ausfuehren",
    "  --keep              temporaeren Ordner nach dem Befehl behalten",
    "  --accept            Lizenz annehmen, ohne sie zu zeigen",
    "  -- ARGS             ARGS an den Befehl weitergeben",
    "Titel: ",
    "Dateien: ",
    "gepackt",
    "Befehl: ",
    "Temporaerer Ordner: ",
    "Lizenz: ",
    "ja",
    "nein",
    "keiner",
    "-- weiter: beliebige Taste --",
    "Akzeptieren? [j/n]",
    "Lizenz nicht akzeptiert: nichts wurde geschrieben.",
    "kein temporaerer Ordner anlegbar",
    "Dateien behalten in",
    "der temporaere Ordner konnte nicht ganz entfernt werden",
    "das Programm des Befehls ist keine Datei des Archivs",
    "der Befehl konnte nicht ausgefuehrt werden",
    "nicht gefunden",
    "nicht ausfuehrbar",
    "sein Ordner ist nicht betretbar",
    "seine Argumente sind nicht unveraendert weiterzugeben",
    "das System startet ihn nicht",
    "der Befehl wurde beendet durch Signal",

};

static_assert(sizeof kGermanStubTexts / sizeof kGermanStubTexts[0] ==
              static_cast<size_t>(Text::count) - static_cast<size_t>(Text::stub_first));

Language current_language = Language::english;

}  // namespace

const char* dialogue_text(Text text) {
  const auto index = static_cast<size_t>(text);
  const auto first = static_cast<size_t>(Text::stub_first);
  if (current_language != Language::german) return kEnglishTexts[index];
  return index < first ? german_text(text) : kGermanStubTexts[index - first];
}

void dialogue_set_language(Language language) {
  current_language = language;
}

Language dialogue_language() {
  return current_language;
}

bool dialogue_utf8_names() {
#if defined(_WIN32)
  return false;
#else
  return true;
#endif
}

void dialogue_show_name(const uint8_t* name, size_t size, char* out, size_t capacity) {
  if (dialogue_utf8_names())
    display_name_utf8(name, size, out, capacity);
  else
    display_name(name, size, out, capacity);
}
