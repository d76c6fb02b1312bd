// Memory for the alignments that run at once in one process (the batch
// program's pairs, the Python module's many pairs).
#pragma once

#include <condition_variable>
#include <mutex>

namespace seqcorvane::shell {

// Memory for the pairs that run at once: each pair reserves what it needs
// before it starts, with room for one more thread's allocations (perThread)
// when others run, and waits while they hold too much; a pair that runs
// alone is never refused what it could have alone, and a pair that cannot
// fit alone fails.
class MemoryGate {
 public:
  MemoryGate(double capacity, double perThread) : capacity(capacity), perThread(perThread) {}
  bool enter(double bytes) {
    std::unique_lock<std::mutex> lock(mutex);
    if (bytes > capacity) return false;
    freed.wait(lock, [&] { return running == 0 || reserved + bytes + perThread * (running + 1) <= capacity; });
    reserved += bytes;
    ++running;
    return true;
  }
  void leave(double bytes) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      reserved -= bytes;
      --running;
    }
    freed.notify_all();
  }
  double room() const { return capacity; }

 private:
  double capacity, perThread, reserved = 0;
  int running = 0;
  std::mutex mutex;
  std::condition_variable freed;
};

}  // namespace seqcorvane::shell
