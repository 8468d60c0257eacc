// The built-in program's dialogue: German alone, whatever an archive's settings say, so
// that the program's own bytes stay small.
#include "app/dialogue.h"
#include "app/display_name.h"

const char* dialogue_text(Text text) {
  return text < Text::stub_first ? german_text(text) : "";
}

void dialogue_set_language(Language /*language*/) {}

Language dialogue_language() {
  return Language::german;
}

bool dialogue_utf8_names() {
  return false;
}

void dialogue_show_name(const uint8_t* name, size_t size, char* out, size_t capacity) {
  display_name(name, size, out, capacity);
}
