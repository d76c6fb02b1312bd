#include "environment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "simdRows.h"

namespace seqcorvane::shell {

namespace {

// SEQCORVANE_THREADS as a number of threads, 0 when unset or not one.
long threadsSetting(const char* v) {
  if (v == nullptr) return 0;
  char* end = nullptr;
  const long x = std::strtol(v, &end, 10);
  return end != v && *end == '\0' && x >= 1 ? x : 0;
}

}  // namespace

int threadsFromEnvironment() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const long set = threadsSetting(std::getenv("SEQCORVANE_THREADS"));
  const int n = set > 0 ? static_cast<int>(std::min<long>(set, 1024)) : 2;
  return std::max(1, std::min(n, static_cast<int>(cores)));
}

std::vector<std::string> settingsFromEnvironment(AlignConfig& config) {
  using detail::SimdLevel;
  std::vector<std::string> notes;
  config.threads = threadsFromEnvironment();
  if (const char* v = std::getenv("SEQCORVANE_THREADS"); v != nullptr && threadsSetting(v) == 0)
    notes.push_back(std::string("SEQCORVANE_THREADS='") + v + "' is not a number of threads (1 or more): " +
                    std::to_string(config.threads) + (config.threads == 1 ? " is" : " are") + " used");
  if (const char* want = std::getenv("SEQCORVANE_SIMD")) {
    bool named = false;
    for (SimdLevel l : {SimdLevel::scalar, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
      if (std::strcmp(want, detail::simdLevelName(l)) == 0) {
        config.instructionSet = static_cast<InstructionSet>(static_cast<int>(l) + 1);
        named = true;
      }
    if (!named)
      notes.push_back(std::string("SEQCORVANE_SIMD='") + want + "' is not one of scalar, sse2, avx2, avx512: " +
                      detail::simdLevelName(detail::bestSimdLevel()) + " (the widest this CPU has) is used");
  }
  return notes;
}

}  // namespace seqcorvane::shell
