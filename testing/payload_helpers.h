// Test helpers over the payload table: the six target names and the transcript of a clean
// run, made from the one table of the six files and the program's own messages.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "app/payload_table.h"

/// The target name of the i-th entry.
inline std::string payload_target(size_t i) {
  return payload_entries[i].target_name;
}

/// The six target names, in archive order.
inline std::vector<std::string> payload_targets() {
  std::vector<std::string> names;
  for (const PayloadEntry& entry : payload_entries) names.push_back(entry.target_name);
  return names;
}

/// The lines of a run that finds none of the six files, down to the closing prompt.
inline std::vector<std::string> clean_run_lines() {
  std::vector<std::string> lines = {kArchiveOpened};
  for (const PayloadEntry& entry : payload_entries) lines.push_back(entry.announcement);
  for (const char* line : {"", kExtractionDone, "", kClosingPrompt}) lines.push_back(line);
  return lines;
}
