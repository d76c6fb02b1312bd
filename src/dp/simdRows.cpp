// Run-time choice of the row routines' instruction set.
#include "simdRows.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

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

std::atomic<int> chosen{-1};

SimdLevel detect() {
  SimdLevel best = SimdLevel::scalar;
  for (SimdLevel l : {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (simdLevelSupported(l)) best = l;
  if (const char* want = std::getenv("SEQCORVANE_SIMD")) {
    for (SimdLevel l : {SimdLevel::scalar, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
      if (std::strcmp(want, simdLevelName(l)) == 0 && static_cast<int>(l) < static_cast<int>(best)) best = l;
  }
  return best;
}

}  // namespace

std::string simdSettingNote() {
  const char* want = std::getenv("SEQCORVANE_SIMD");
  if (want == nullptr) return "";
  for (SimdLevel l : {SimdLevel::scalar, SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (std::strcmp(want, simdLevelName(l)) == 0) return "";
  return std::string("SEQCORVANE_SIMD='") + want +
         "' is not one of scalar, sse2, avx2, avx512: " + simdLevelName(bestSimdLevel()) +
         " (the widest this CPU has) is used";
}

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

SimdLevel currentSimdLevel() {
  const int c = chosen.load();
  return c < 0 ? bestSimdLevel() : static_cast<SimdLevel>(c);
}

void setSimdLevel(SimdLevel level) { chosen.store(simdLevelSupported(level) ? static_cast<int>(level) : -1); }

void bestPathRow(const BestRowArgs& a) {
  switch (currentSimdLevel()) {
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

double probBlock(const ProbBlockArgs& a) {
  switch (currentSimdLevel()) {
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
