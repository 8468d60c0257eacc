// The built-in program's front end: German, no title, its archive opened line before an
// extraction, no free-space check and no progress line (see front_end.h).
#include "app/console_report.h"
#include "app/extraction.h"
#include "app/front_end.h"
#include "app/progress_line.h"

bool front_end_self_extractor() {
  return false;
}

void front_end_settings(const char* /*own_file*/, RunSettings* settings) {
  *settings = RunSettings{};
}

bool front_end_begin(const ArchiveSource& /*source*/, const RunSettings& /*settings*/,
                     bool /*space_check*/, bool /*terminal*/, bool /*quiet*/) {
  console_report_line(kArchiveOpened);
  return true;
}

void front_end_end() {}

bool archive_setting_known(uint16_t /*tag*/) {
  return false;
}

// The built-in program runs no command: it has no options of an installer.

bool front_end_option(OptionParser& /*parser*/, const char* /*argument*/) {
  return false;
}

void front_end_usage(const RunSettings& /*settings*/, void (* /*print*/)(const char*)) {}

void front_end_info(const ArchiveSource& /*source*/, const RunSettings& /*settings*/) {}

bool front_end_install_begin(const ArchiveSource& /*source*/, ProgramOptions* /*options*/,
                             bool /*terminal*/) {
  return true;
}

int front_end_install_end(const ArchiveSource& /*source*/, bool /*sound*/,
                          const ProgramOptions& /*options*/) {
  return -1;
}

// The console report asks after a progress line the program never shows.

bool progress_line_active() {
  return false;
}

void progress_line_name(const char* /*name*/) {}

void progress_line_to(uint64_t /*bytes*/) {}

void progress_line_clear() {}
