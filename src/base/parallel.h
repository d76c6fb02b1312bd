// Work spread over a few threads: the evaluations of one step of a distance
// search run at once. The results never depend on the number of threads.
#pragma once

#include <functional>
#include <vector>

namespace seqcorvane::detail {

// f(x) for every x, on up to nThreads threads (at least one), in the order
// of xs. An exception thrown by f reaches the caller.
std::vector<double> mapInParallel(int nThreads, const std::vector<int>& xs, const std::function<double(int)>& f);

}  // namespace seqcorvane::detail
