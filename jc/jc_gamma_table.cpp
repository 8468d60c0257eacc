// The fast decoder's gamma table (see jc_decode_fast.h), filled at its first use.
#include <atomic>

#include "jc/jc_decode_fast.h"

uint16_t jc_gamma_table[kGammaTableSize];

namespace {

/// Where the table is: empty, being filled by one thread, or ready for every thread.
enum TableState : int { kEmpty, kFilling, kReady };

std::atomic<int> table_state{kEmpty};

void fill_table() {
  for (uint32_t index = 0; index < kGammaTableSize; ++index) {
    uint32_t value = 1, pairs = 0;
    bool done = false;
    for (int pair = kGammaPairs - 1; pair >= 0 && !done; --pair) {
      value = (value << 1) | ((index >> (2 * pair + 1)) & 1);
      done = ((index >> (2 * pair)) & 1) == 0;
      ++pairs;
    }
    jc_gamma_table[index] = uint16_t(2 * pairs | value << 6 | uint32_t(done) << 15);
  }
}

}  // namespace

void jc_gamma_table_prepare() {
  if (table_state.load(std::memory_order_acquire) == kReady) return;
  int expected = kEmpty;
  if (table_state.compare_exchange_strong(expected, kFilling, std::memory_order_acq_rel)) {
    fill_table();
    table_state.store(kReady, std::memory_order_release);
    return;
  }
  // Another thread fills it, a matter of microseconds.
  while (table_state.load(std::memory_order_acquire) != kReady) {
  }
}
