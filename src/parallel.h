// Work spread over a few threads: the evaluations of one step of a distance
// search run at once. The results never depend on the number of threads.
#pragma once

#include <functional>
#include <vector>

// The threads a single alignment may use: SEQCORVANE_THREADS when set (at
// least 1), else 2, never more than the machine's cores; setThreadsPerPair
// overrides both (the batch program runs many pairs at once, one thread each).
int threadsPerPair();
void setThreadsPerPair(int n);

// f(x) for every x, on up to threadsPerPair() threads; in the order of xs.
// An exception thrown by f reaches the caller.
std::vector<double> mapInParallel(const std::vector<int>& xs, const std::function<double(int)>& f);
