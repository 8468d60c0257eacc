// A program for the tests of platform_run: `run_probe OUT CODE ARGS...` writes to the file
// OUT its working folder, the values of RUN_PROBE_ADDED and RUN_PROBE_REPLACED ("<unset>"
// when missing) and each of ARGS, all in UTF-8 and each followed by a zero byte, then
// exits with CODE.
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

std::string variable(const wchar_t* name) {
  wchar_t value[kMaxPathSize];
  const DWORD length = GetEnvironmentVariableW(name, value, kMaxPathSize);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return "<unset>";
  return utf8(value, length);
}

FILE* open_report(const char* path) {
  WidePath wide;
  return utf8_to_wide(path, &wide) ? _wfopen(wide.text, L"wb") : nullptr;
}

}  // namespace

#define PROBE_NAME(text) L##text
#else
#include <unistd.h>

namespace {

std::string working_folder() {
  char folder[kMaxPathSize];
  return getcwd(folder, sizeof(folder)) ? folder : "";
}

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "<unset>";
}

FILE* open_report(const char* path) {
  return std::fopen(path, "wb");
}

}  // namespace

#define PROBE_NAME(text) text
#endif

int main() {
  if (platform_argument_count() < 2) return 2;
  std::string report = working_folder() + '\0';
  report += variable(PROBE_NAME("RUN_PROBE_ADDED")) + '\0';
  report += variable(PROBE_NAME("RUN_PROBE_REPLACED")) + '\0';
  for (int i = 2; i < platform_argument_count(); ++i) {
    report += platform_argument(i);
    report += '\0';
  }
  FILE* out = open_report(platform_argument(0));
  if (!out) return 3;
  std::fwrite(report.data(), 1, report.size(), out);
  std::fclose(out);
  return std::atoi(platform_argument(1));
}
