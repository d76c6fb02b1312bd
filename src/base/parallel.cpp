#include "parallel.h"

#include <algorithm>
#include <exception>
#include <future>

namespace seqcorvane::detail {

std::vector<double> mapInParallel(int nThreads, const std::vector<int>& xs, const std::function<double(int)>& f) {
  std::vector<double> out(xs.size());
  const size_t threads = std::min<size_t>(static_cast<size_t>(std::max(1, nThreads)), xs.size());
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

}  // namespace seqcorvane::detail
