// The settings the programs take from the environment:
//   SEQCORVANE_THREADS  threads for one alignment (1 or more; default 2, at most the cores)
//   SEQCORVANE_SIMD     the widest instruction set: scalar, sse2, avx2, avx512
#pragma once

#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::shell {

// Fills the config's threads and instruction set from the environment, and
// returns one sentence for each setting that has no effect as given, saying
// what is used instead (for a notice).
std::vector<std::string> settingsFromEnvironment(AlignConfig& config);

// Threads for one alignment: SEQCORVANE_THREADS when it is a number, else 2,
// at most the cores.
int threadsFromEnvironment();

}  // namespace seqcorvane::shell
