// The workers of a batch run: the memory the pairs running at once may
// reserve, and the progress bar on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace batch {

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

class Progress {
 public:
  Progress(size_t total, bool shown) : total(total), shown(shown), start(std::chrono::steady_clock::now()) {}
  void pairDone() {
    const size_t done = ++finished;
    if (!shown) return;
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (done != total && now - lastShown < std::chrono::milliseconds(200)) return;
    lastShown = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double rate = seconds > 0 ? done / seconds : 0;
    const double left = rate > 0 ? (total - done) / rate : 0;
    const int width = 30, filled = total ? static_cast<int>(width * done / total) : width;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu pairs, %.1f pairs/s, %dm%02ds left ", std::string(filled, '=').c_str(),
                 std::string(width - filled, ' ').c_str(), done, total, rate, static_cast<int>(left) / 60,
                 static_cast<int>(left) % 60);
    if (done == total) std::fputc('\n', stderr);
  }

 private:
  size_t total;
  bool shown;
  std::atomic<size_t> finished{0};
  std::mutex mutex;
  std::chrono::steady_clock::time_point start, lastShown;
};

}  // namespace batch
