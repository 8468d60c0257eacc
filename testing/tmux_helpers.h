// Test support: a tmux server of the test process's own, 80 x 25, to run programs in a
// real terminal, type keys into them and read their screen back.
#pragma once

#ifndef _WIN32

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

inline constexpr int kColumns = 80;
inline constexpr int kRows = 25;
inline constexpr auto kScreenTimeout = std::chrono::seconds(10);

inline std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

inline std::string trim_right(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

/// A tmux server of this test object alone: each one has a socket name of its own, so a
/// server that is still shutting down never meets the next one.
class Tmux {
 public:
  Tmux()
      : socket_("entpacker-test-" + std::to_string(::getpid()) + "-" +
                std::to_string(next_number()++)) {}
  ~Tmux() { run(prefix() + "kill-server 2>/dev/null"); }

  bool start(const std::string& command) {
    return std::system((prefix() + "new-session -d -s t -x " + std::to_string(kColumns) + " -y " +
                        std::to_string(kRows) + " '" + command + "'")
                           .c_str()) == 0;
  }
  void keys(const std::string& keys) { run(prefix() + "send-keys -t t " + keys); }
  std::vector<std::string> screen() {
    std::istringstream in(run(prefix() + "capture-pane -p -t t"));
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);) rows.push_back(trim_right(line));
    rows.resize(kRows);
    return rows;
  }
  std::string cursor() { return run(prefix() + "display -p -t t '#{cursor_x} #{cursor_y}'"); }
  /// Waits until a row of the screen holds `text`, for `timeout` at most.
  std::vector<std::string> wait_for(const std::string& text,
                                    std::chrono::seconds timeout = kScreenTimeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> rows;
    while (std::chrono::steady_clock::now() < end) {
      rows = screen();
      for (const std::string& row : rows)
        if (row.find(text) != std::string::npos) return rows;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return rows;
  }

 private:
  static int& next_number() {
    static int number = 0;
    return number;
  }
  std::string prefix() const { return "LC_ALL=C.UTF-8 tmux -u -L " + socket_ + " "; }
  std::string socket_;
};

/// The whole content of the file at `path` (empty when it cannot be read).
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

#endif
