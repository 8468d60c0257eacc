// The built-in program's dialogue: German alone, whatever an archive's settings say, so
// that the program's own bytes stay small.
#include "app/dialogue.h"

const char* dialogue_text(Text text) {
  return kGermanTexts[static_cast<size_t>(text)];
}

void dialogue_set_language(Language /*language*/) {}

Language dialogue_language() {
  return Language::german;
}

bool dialogue_utf8_names() {
  return false;
}
