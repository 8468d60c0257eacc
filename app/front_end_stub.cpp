// The self-extractor's front end (see front_end.h).
#include <cstring>

#include "app/console_report.h"
#include "app/dialogue.h"
#include "app/front_end.h"
#include "app/installer.h"
#include "app/progress_line.h"
#include "console/console.h"
#include "pack/named_settings.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

/// The output folder's full path, for the run's first line.
char current_folder[kMaxPathSize];

}  // namespace

void front_end_count(const ArchiveSource& source, uint32_t* files, uint64_t* bytes) {
  *files = 0;
  *bytes = 0;
  ArchiveWalk walk = archive_walk_start(source);
  ArchiveItem item;
  while (archive_walk_next(source, walk, &item)) {
    if ((item.flags & kNamedEntryDirectory) != 0) continue;
    ++*files;
    *bytes += item.size;
  }
}

namespace {

/// The run's first line: "TITLE: 76 files, 10.3 MB, into DIR" ("Extracting 76 files, ..."
/// without a title).
void announce_run(const RunSettings& settings, uint32_t files, uint64_t bytes) {
  const bool titled = settings.title[0] != 0;
  report_line_start(titled ? settings.title : dialogue_text(Text::extracting));
  report_line_append(titled ? ": " : " ");
  report_line_append_number(files);
  report_line_append(" ");
  report_line_append(dialogue_text(files == 1 ? Text::file : Text::files));
  report_line_append(", ");
  report_line_append_size(bytes);
  report_line_append(", ");
  report_line_append(dialogue_text(Text::into));
  report_line_append(" ");
  report_line_append(current_folder);
  console_report_line(report_line());
}

/// Whether the output folder's file system has room for `bytes`; when it has not, says so
/// with both figures. A system that cannot tell passes.
bool room_for(uint64_t bytes) {
  uint64_t available = 0;
  if (!platform_free_space(".", &available) || available >= bytes) return true;
  report_line_start_failure(Text::no_space);
  report_line_append(": ");
  report_line_append_size(bytes);
  report_line_append(" ");
  report_line_append(dialogue_text(Text::needed));
  report_line_append(", ");
  report_line_append_size(available);
  report_line_append(" ");
  report_line_append(dialogue_text(Text::available));
  report_line_append(" ");
  report_line_append(dialogue_text(Text::no_space_hint));
  console_print_line(report_line());
  return false;
}

}  // namespace

bool front_end_self_extractor() {
  return true;
}

void front_end_settings(const char* own_file, RunSettings* settings) {
  installer_start(own_file);
  ArchiveSettings found;
  appended_archive_settings(own_file, &found);
  dialogue_set_language(dialogue_language_of(found.language, found.language_size));
  *settings = RunSettings{};
  settings->appended = found.appended;
  settings->installer = found.installer;
  if (found.title_size > 0)
    console_report_name(found.title, found.title_size, settings->title, sizeof settings->title);
}

bool front_end_begin(const ArchiveSource& source, const RunSettings& settings, bool space_check,
                     bool terminal, bool quiet) {
  if (!platform_current_directory(current_folder, sizeof current_folder))
    std::memcpy(current_folder, ".", 2);
  uint32_t files = 0;
  uint64_t bytes = 0;
  front_end_count(source, &files, &bytes);
  announce_run(settings, files, bytes);
  if (space_check && !room_for(bytes)) return false;
  progress_line_start(bytes, terminal, quiet);
  return true;
}

void front_end_end() {
  progress_line_end();
}

bool archive_setting_known(uint16_t tag) {
  return named_setting_is_installer(tag);
}
