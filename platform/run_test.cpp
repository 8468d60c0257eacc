#include "platform/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path from_utf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

/// The probe program, beside this test program.
std::string probe_path() {
  char self[kMaxPathSize];
  platform_module_file_name(self, sizeof(self));
  std::string path = self;
  path.resize(path.rfind(kPathSeparator) + 1);
#if defined(_WIN32)
  return path + "run_probe.exe";
#else
  return path + "run_probe";
#endif
}

/// A fresh folder for one test, removed with it.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / (std::string("entpacker-run-") + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    folder_ = fs::canonical(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  PlatformRunResult run(const std::string& program, const std::vector<std::string>& arguments,
                        const char* folder = nullptr,
                        const PlatformRunEnvironment* added = nullptr) {
    std::vector<const char*> pointers;
    for (const auto& a : arguments) pointers.push_back(a.c_str());
    PlatformRunResult result{};
    const bool exited = platform_run(program.c_str(), pointers.data(),
                                     static_cast<int>(pointers.size()), folder, added, &result);
    EXPECT_EQ(exited, result.outcome == PlatformRunOutcome::kExited);
    return result;
  }

  /// What the probe wrote to `out`: its folder, two variables, then its arguments.
  static std::vector<std::string> report(const fs::path& out) {
    std::ifstream in(out, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t zero; (zero = text.find('\0', start)) != std::string::npos; start = zero + 1)
      fields.push_back(text.substr(start, zero - start));
    return fields;
  }

  void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  fs::path folder_;
};

TEST_F(RunTest, PassesArgumentsExactlyAndReturnsTheExitCode) {
  struct Case {
    uint32_t code;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {0, {}},
      {7,
       {"two words", "", "say \"hi\"", "ends in a backslash\\", "back\\\\\"quote", "tab\there",
        "Grüße € 日本", "\\\\server\\share\\", "a\\b"}},
      {255, {"--option=1", "\"", "\\", " "}},
  };
  const fs::path out = folder_ / "report";
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {utf8(out), std::to_string(c.code)};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const PlatformRunResult result = run(probe_path(), arguments);
    ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited) << result.error;
    EXPECT_EQ(result.exit_code, c.code);
    const std::vector<std::string> fields = report(out);
    ASSERT_GE(fields.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 3, fields.end()), c.arguments);
  }
}

TEST_F(RunTest, RunsInTheFolderWithAddedAndReplacedVariables) {
#if defined(_WIN32)
  SetEnvironmentVariableW(L"RUN_PROBE_REPLACED", L"old");
#else
  setenv("RUN_PROBE_REPLACED", "old", 1);
#endif
  const fs::path inside = folder_ / from_utf8("folder ü");
  fs::create_directories(inside);
  const fs::path out = folder_ / "report";
  const std::string folder = utf8(inside);
  // The earlier of two variables of one name gives way to the later.
  PlatformRunEnvironment added{{{"RUN_PROBE_ADDED", "first"},
                                {"RUN_PROBE_ADDED", "Wert ü = 1"},
                                {"RUN_PROBE_REPLACED", "new"}},
                               3};
  PlatformRunResult result = run(probe_path(), {utf8(out), "0"}, folder.c_str(), &added);
  ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited) << result.error;
  EXPECT_EQ(report(out), (std::vector<std::string>{folder, "Wert ü = 1", "new"}));

  // Without additions the program has this process's environment and folder.
  result = run(probe_path(), {utf8(out), "0"});
  ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited) << result.error;
  const std::vector<std::string> fields = report(out);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], utf8(fs::current_path()));
  EXPECT_EQ(fields[1], "<unset>");
  EXPECT_EQ(fields[2], "old");
}

TEST_F(RunTest, ReportsWhyAProgramDidNotRun) {
  const std::string missing_folder = utf8(folder_ / "no folder");
  PlatformRunEnvironment bad_name{{{"A=B", "c"}}, 1};
  PlatformRunEnvironment empty_name{{{"", "c"}}, 1};
  struct Case {
    std::string program;
    const char* folder;
    const PlatformRunEnvironment* added;
    PlatformRunOutcome outcome;
  };
  const Case cases[] = {
      {utf8(folder_ / "missing.exe"), nullptr, nullptr, PlatformRunOutcome::kNotFound},
      {utf8(folder_ / "no folder" / "missing.exe"), nullptr, nullptr,
       PlatformRunOutcome::kNotFound},
      {probe_path(), missing_folder.c_str(), nullptr, PlatformRunOutcome::kFolderFailed},
      {probe_path(), nullptr, &bad_name, PlatformRunOutcome::kRefused},
      {probe_path(), nullptr, &empty_name, PlatformRunOutcome::kRefused},
  };
  for (const Case& c : cases) {
    const PlatformRunResult result = run(c.program, {}, c.folder, c.added);
    EXPECT_EQ(result.outcome, c.outcome) << c.program;
  }
  std::vector<std::string> too_many(kPlatformRunMaxArguments + 1, "x");
  EXPECT_EQ(run(probe_path(), too_many).outcome, PlatformRunOutcome::kRefused);
}

#if defined(_WIN32)

TEST_F(RunTest, RunsABatchFileThroughTheInterpreter) {
  const fs::path script = folder_ / "batch dir" / "Script.CMD";
  fs::create_directories(script.parent_path());
  write_file(
      script,
      "@if \"%~1\"==\"a b\" if \"%~2\"==\"x&y\" if \"%~3\"==\"\" exit /b 7\r\n@exit /b 1\r\n");
  PlatformRunResult result = run(utf8(script), {"a b", "x&y", ""});
  ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited) << result.error;
  EXPECT_EQ(result.exit_code, 7u);
  // What the interpreter would change is refused, not passed on altered.
  for (const char* argument : {"50%", "say \"hi\"", "two\nlines"})
    EXPECT_EQ(run(utf8(script), {argument}).outcome, PlatformRunOutcome::kRefused) << argument;
  EXPECT_EQ(run(utf8(folder_ / "missing.bat"), {}).outcome, PlatformRunOutcome::kNotFound);
}

#else

TEST_F(RunTest, RunsScriptsAndReportsSignalsAndPermissions) {
  const fs::path script = folder_ / "script";
  write_file(script, "#!/bin/sh\n[ \"$1\" = 'a b' ] && exit 5\nexit 1\n");
  chmod(script.c_str(), 0755);
  PlatformRunResult result = run(script.string(), {"a b"});
  ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited) << result.error;
  EXPECT_EQ(result.exit_code, 5u);

  chmod(script.c_str(), 0644);
  result = run(script.string(), {"a b"});
  EXPECT_EQ(result.outcome, PlatformRunOutcome::kNotExecutable);
  EXPECT_NE(result.error, 0);

  result = run("/bin/sh", {"-c", "kill -TERM $$"});
  EXPECT_EQ(result.outcome, PlatformRunOutcome::kSignalled);
  EXPECT_EQ(result.signal, SIGTERM);
}

TEST_F(RunTest, OutlivesAnInterruptAndPassesATerminationOn) {
  // The program interrupts this process while it waits: the wait goes on and the
  // program's exit code comes back.
  PlatformRunResult result = run("/bin/sh", {"-c", "kill -INT $PPID; sleep 0.2; exit 3"});
  ASSERT_EQ(result.outcome, PlatformRunOutcome::kExited);
  EXPECT_EQ(result.exit_code, 3u);

  // A termination of this process reaches the program; afterwards it is taken here by the
  // handling in force before the run, which this test makes countable.
  static volatile sig_atomic_t terminations = 0;
  struct sigaction count {
  }, previous{};
  count.sa_handler = [](int) { terminations = terminations + 1; };
  sigemptyset(&count.sa_mask);
  sigaction(SIGTERM, &count, &previous);
  result = run("/bin/sh", {"-c", "trap 'kill $!; exit 9' TERM; kill -TERM $PPID; sleep 5 & wait"});
  sigaction(SIGTERM, &previous, nullptr);
  EXPECT_EQ(result.outcome, PlatformRunOutcome::kExited);
  EXPECT_EQ(result.exit_code, 9u);
  EXPECT_EQ(terminations, 1);
}

#endif

}  // namespace
