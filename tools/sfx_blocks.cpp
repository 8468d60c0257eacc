#include "tools/sfx_blocks.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "jc/jc.h"
#include "jc/jc_encode.h"
#include "jc/jc_entry.h"
#include "tools/tool_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

/// One block on its way: read by the main thread, compressed by a worker, written by the
/// main thread.
struct Slot {
  Bytes input;
  Bytes entry;
  enum class State { empty, pending, working, done } state = State::empty;
  bool ok = false;
  bool out_of_memory = false;
};

/// The ring and the workers' hand-off.
class Pipeline {
 public:
  Pipeline(unsigned threads, int level) : slots_(threads * kSfxSlotsPerThread), level_(level) {
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_workers_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  size_t size() const { return slots_.size(); }
  Slot& slot(uint64_t index) { return slots_[index % slots_.size()]; }

  /// Hands the read slot to the workers.
  void submit(uint64_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot(index).state = Slot::State::pending;
      queue_.push_back(index);
    }
    wake_workers_.notify_one();
  }

  /// Waits until the slot is compressed.
  void wait_done(uint64_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return slot(index).state == Slot::State::done; });
  }

 private:
  void work() {
    for (;;) {
      uint64_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_workers_.wait(lock, [&] { return stopping_ || next_ < queue_.size(); });
        if (next_ == queue_.size()) return;
        index = queue_[next_++];
        slot(index).state = Slot::State::working;
      }
      compress(slot(index));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot(index).state = Slot::State::done;
      }
      done_.notify_all();
    }
  }

  void compress(Slot& s) {
    s.entry.clear();
    s.out_of_memory = false;
    try {
      s.ok = jc_append_pack_entry(s.entry, s.input.data(), s.input.size(), level_, false);
    } catch (const std::bad_alloc&) {
      s.ok = false;
      s.out_of_memory = true;
    }
  }

  std::vector<Slot> slots_;
  int level_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_workers_;
  std::condition_variable done_;
  std::vector<uint64_t> queue_;  ///< slots in the order they were read; next_ is the first open
  size_t next_ = 0;
  bool stopping_ = false;
};

}  // namespace

uint64_t compress_memory_per_thread(size_t chunk, int level) {
  return kSfxSlotsPerThread * (uint64_t(chunk) + jc_compress_bound(chunk)) +
         jc_encode_memory(chunk, level);
}

bool compress_content(uint64_t total, size_t chunk, int level, unsigned threads,
                      const ContentRead& read, const BlockWrite& write) {
  if (total == 0) return true;
  Pipeline pipeline(threads < 1 ? 1 : threads, level);
  const uint64_t blocks = (total + chunk - 1) / chunk;
  uint64_t read_count = 0;
  uint64_t written = 0;
  uint64_t done_bytes = 0;
  bool ok = true;
  while (written < blocks) {
    while (ok && read_count < blocks && read_count - written < pipeline.size()) {
      Slot& s = pipeline.slot(read_count);
      const uint64_t offset = read_count * chunk;
      const size_t size = size_t(std::min<uint64_t>(chunk, total - offset));
      try {
        s.input.resize(size);
      } catch (const std::bad_alloc&) {
        return fail("out of memory for a block of " + std::to_string(size) + " bytes");
      }
      if (!read(s.input.data(), size)) {
        ok = false;
        break;
      }
      pipeline.submit(read_count++);
    }
    if (written == read_count) break;
    pipeline.wait_done(written);
    Slot& s = pipeline.slot(written);
    if (ok && !s.ok) {
      ok = fail(s.out_of_memory
                    ? out_of_memory_text("a block", s.input.size(), level)
                    : "a block of " + std::to_string(s.input.size()) + " bytes cannot be packed");
    }
    done_bytes += s.input.size();
    if (ok) ok = write(s.entry, done_bytes);
    s.state = Slot::State::empty;
    ++written;
    if (!ok && written == read_count) break;
  }
  return ok;
}
