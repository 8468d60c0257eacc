// A program for the tests of platform_run and of installers: `run_probe OUT CODE ARGS...`
// writes to the file OUT its working folder, the values of the variables named in
// RUN_PROBE_VARIABLES (separated by commas; RUN_PROBE_ADDED and RUN_PROBE_REPLACED when it
// is not set; "<unset>" for a missing one) and each of ARGS, all in UTF-8 and each followed
// by a zero byte, then exits with CODE. A relative OUT lies in the folder RUN_PROBE_REPORTS
// when that is set, else in the working folder.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/process.h"

#if defined(_WIN32)
#include <windows.h>

#include "platform/win32/utf16.h"

namespace {

std::string utf8(const wchar_t* text, DWORD length) {
  std::string out(length * kMaxUtf8BytesPerUnit, '\0');
  const int bytes = wide_to_utf8(text, length, out.data(), static_cast<uint32_t>(out.size()));
  out.resize(bytes < 0 ? 0 : static_cast<size_t>(bytes));
  return out;
}

std::string working_folder() {
  wchar_t folder[kMaxPathSize];
  return utf8(folder, GetCurrentDirectoryW(kMaxPathSize, folder));
}

std::string variable(const std::string& name) {
  WidePath wide;
  wchar_t value[kMaxPathSize];
  if (!utf8_to_wide(name.c_str(), &wide)) return "<unset>";
  const DWORD length = GetEnvironmentVariableW(wide.text, value, kMaxPathSize);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return "<unset>";
  return utf8(value, length);
}

FILE* open_report(const char* path) {
  WidePath wide;
  return utf8_to_wide(path, &wide) ? _wfopen(wide.text, L"wb") : nullptr;
}

}  // namespace

#else
#include <unistd.h>

namespace {

std::string working_folder() {
  char folder[kMaxPathSize];
  return getcwd(folder, sizeof(folder)) ? folder : "";
}

std::string variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "<unset>";
}

FILE* open_report(const char* path) {
  return std::fopen(path, "wb");
}

}  // namespace

#endif

namespace {

/// The values of the variables the report names, each followed by a zero byte.
std::string variables() {
  std::string names = variable("RUN_PROBE_VARIABLES");
  if (names == "<unset>") names = "RUN_PROBE_ADDED,RUN_PROBE_REPLACED";
  std::string values;
  for (size_t start = 0; start <= names.size();) {
    size_t comma = names.find(',', start);
    if (comma == std::string::npos) comma = names.size();
    values += variable(names.substr(start, comma - start)) + '\0';
    start = comma + 1;
  }
  return values;
}

/// Where the report goes.
std::string report_path() {
  const std::string out = platform_argument(0);
  const std::string folder = variable("RUN_PROBE_REPORTS");
  const bool relative =
      !out.empty() && out[0] != '/' && out[0] != '\\' && (out.size() < 2 || out[1] != ':');
  return folder != "<unset>" && relative ? folder + "/" + out : out;
}

}  // namespace

int main() {
  if (platform_argument_count() < 2) return 2;
  std::string report = working_folder() + '\0';
  report += variables();
  for (int i = 2; i < platform_argument_count(); ++i) {
    report += platform_argument(i);
    report += '\0';
  }
  FILE* out = open_report(report_path().c_str());
  if (!out) return 3;
  std::fwrite(report.data(), 1, report.size(), out);
  std::fclose(out);
  return std::atoi(platform_argument(1));
}
