// Run-time choice of the row routines' instruction set.
#include "simdRows.h"

#include <initializer_list>

namespace seqcorvane::detail {

void bestPathRow_scalar(const BestRowArgs& a);
double probBlock_scalar(const ProbBlockArgs& a);
#if defined(__x86_64__)
void bestPathRow_sse2(const BestRowArgs& a);
double probBlock_sse2(const ProbBlockArgs& a);
void bestPathRow_avx2(const BestRowArgs& a);
double probBlock_avx2(const ProbBlockArgs& a);
void bestPathRow_avx512(const BestRowArgs& a);
double probBlock_avx512(const ProbBlockArgs& a);
#endif

namespace {

SimdLevel detect() {
  SimdLevel best = SimdLevel::scalar;
  for (SimdLevel l : {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (simdLevelSupported(l)) best = l;
  return best;
}

SimdLevel usable(SimdLevel level) {
  return static_cast<int>(level) <= static_cast<int>(bestSimdLevel()) ? level : bestSimdLevel();
}

}  // namespace

const char* simdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::sse2:
      return "sse2";
    case SimdLevel::avx2:
      return "avx2";
    case SimdLevel::avx512:
      return "avx512";
    default:
      return "scalar";
  }
}

bool simdLevelSupported(SimdLevel level) {
#if defined(__x86_64__)
  switch (level) {
    case SimdLevel::scalar:
      return true;
    case SimdLevel::sse2:
      return true;  // part of x86-64
    case SimdLevel::avx2:
      return __builtin_cpu_supports("avx2");
    case SimdLevel::avx512:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
#else
  return level == SimdLevel::scalar;
#endif
}

SimdLevel bestSimdLevel() {
  static const SimdLevel best = detect();
  return best;
}

void bestPathRow(const BestRowArgs& a, SimdLevel level) {
  switch (usable(level)) {
#if defined(__x86_64__)
    case SimdLevel::avx512:
      return bestPathRow_avx512(a);
    case SimdLevel::avx2:
      return bestPathRow_avx2(a);
    case SimdLevel::sse2:
      return bestPathRow_sse2(a);
#endif
    default:
      return bestPathRow_scalar(a);
  }
}

double probBlock(const ProbBlockArgs& a, SimdLevel level) {
  switch (usable(level)) {
#if defined(__x86_64__)
    case SimdLevel::avx512:
      return probBlock_avx512(a);
    case SimdLevel::avx2:
      return probBlock_avx2(a);
    case SimdLevel::sse2:
      return probBlock_sse2(a);
#endif
    default:
      return probBlock_scalar(a);
  }
}

}  // namespace seqcorvane::detail
