// The signals after which jcpack removes its temporary output, and a guard that holds them
// off while a temporary's name and its file change together.
#pragma once

#include <signal.h>

inline constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

/// Blocks the handled signals while it lives.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kHandledSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};
