// The German texts of the dialogue, linked into every program; the English ones are the
// stub's alone (dialogue_stub.cpp).
#include "app/dialogue.h"

#include <cstring>

namespace {

/// The German texts up to Text::stub_first (the rest are the stub's own), each ended by a
/// zero, in Text's order: one block without a table of addresses, which keeps the built-in
/// program small.
constexpr char kGermanTexts[] =
    "FEHLER Entpacken\0"
    "FEHLER Entpacken\0"
    "Entpacken erfolgreich beendet!\0"
    "Pruefung erfolgreich beendet!\0"
    "Beliebige Taste zum beenden...\0"
    "Kein Archiv angehaengt: nichts zu entpacken\0"
    "Archiv beschaedigt (Pruefsumme falsch): bitte neu herunterladen\0"
    "Datei bereits vorhanden! Ueberschreiben? [(J)a/(N)ein/(A)lle]\0"
    "     Groesse      Gepackt  Name\0"
    "Eintraege\0"
    "OK      \0"
    "FEHLER  \0"
    "entpacke '\0"
    "Zielordner nicht anlegbar\0"
    "unbekannte Option\0"
    "fehlender Wert fuer\0"
    "doppelt angegeben\0"
    "nicht zusammen erlaubt\0"
    "Aufruf:\0"
    "[Optionen]\0"
    "  -y, --yes           ueberschreiben ohne Frage, nicht warten\0"
    "  -n, --no-overwrite  vorhandene Dateien behalten\0"
    "  -o, --output DIR    nach DIR entpacken (auch --target DIR, -d DIR)\0"
    "  -l, --list          Eintraege auflisten\0"
    "  -t, --test          Eintraege pruefen (auch --check)\0"
    "  -q, --quiet         nur Fehler ausgeben\0"
    "  --no-wait           am Ende nicht warten\0"
    "  -h, --help          Hilfe\0"
    "  -V, --version       Version\0"
    "unsicherer Name\0"
    "Name doppelt\0"
    "Name doppelt (Gross-/Kleinschreibung)\0"
    "unter einer Datei\0"
    "Archiv beschaedigt\0"
    "nicht lesbar\0"
    "kein Speicher\0"
    "Eintrag beschaedigt (Pruefsumme falsch): bitte neu herunterladen\0"
    "Link oder Datei im Weg des Ordners\0"
    "Ordner, Link oder schreibgeschuetzte Datei im Weg\0"
    "nicht geschrieben\0"
    "Ordnerzeit nicht gesetzt\0"
    "kein Platz auf dem Datentraeger\0"
    "keine Berechtigung\0";

/// The number of texts in `texts` (`size` bytes, each ended by a zero).
constexpr size_t text_count(const char* texts, size_t size) {
  size_t count = 0;
  for (size_t i = 0; i < size; ++i) count += texts[i] == 0 ? 1 : 0;
  return count;
}

}  // namespace

// The literal's own closing zero follows the last text's.
static_assert(text_count(kGermanTexts, sizeof kGermanTexts) - 1 ==
              static_cast<size_t>(Text::stub_first));

const char* german_text(Text text) {
  const char* at = kGermanTexts;
  for (size_t index = static_cast<size_t>(text); index > 0; --index) at += std::strlen(at) + 1;
  return at;
}

Language dialogue_language_of(const uint8_t* code, size_t size) {
  return size == 2 && code[0] == 'd' && code[1] == 'e' ? Language::german : Language::english;
}
