#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "seqcorvane/io.h"

namespace {

int fromEnvironment() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  int n = 2;
  if (const char* v = std::getenv("SEQCORVANE_THREADS")) {
    char* end = nullptr;
    const long x = std::strtol(v, &end, 10);
    if (end != v && *end == '\0' && x >= 1) n = static_cast<int>(std::min<long>(x, 1024));
  }
  return std::max(1, std::min(n, static_cast<int>(cores)));
}

}  // namespace

std::string threadsSettingNote() {
  const char* v = std::getenv("SEQCORVANE_THREADS");
  if (v == nullptr) return "";
  char* end = nullptr;
  const long x = std::strtol(v, &end, 10);
  if (end != v && *end == '\0' && x >= 1) return "";
  const int n = seqcorvane::defaultThreads();
  return std::string("SEQCORVANE_THREADS='") + v + "' is not a number of threads (1 or more): " + std::to_string(n) +
         (n == 1 ? " is" : " are") + " used";
}

int seqcorvane::defaultThreads() {
  static const int n = fromEnvironment();
  return n;
}

std::vector<double> mapInParallel(int nThreads, const std::vector<int>& xs, const std::function<double(int)>& f) {
  std::vector<double> out(xs.size());
  const int wanted = nThreads > 0 ? nThreads : seqcorvane::defaultThreads();
  const size_t threads = std::min<size_t>(static_cast<size_t>(wanted), xs.size());
  if (threads <= 1) {
    for (size_t k = 0; k < xs.size(); ++k) out[k] = f(xs[k]);
    return out;
  }
  // Worker t takes the entries t, t + threads, ...; the caller is worker 0.
  auto work = [&](size_t t) {
    for (size_t k = t; k < xs.size(); k += threads) out[k] = f(xs[k]);
  };
  std::vector<std::future<void>> others;
  for (size_t t = 1; t < threads; ++t) others.push_back(std::async(std::launch::async, work, t));
  std::exception_ptr first;
  try {
    work(0);
  } catch (...) {
    first = std::current_exception();
  }
  for (auto& o : others) {
    try {
      o.get();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
  return out;
}
