// The progress bar of a batch run on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace batch {

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
