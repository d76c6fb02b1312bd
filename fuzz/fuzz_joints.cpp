// The fitted match-emission tables reader: whatever it accepts is a set of
// distributions over residue pairs, at increasing distances.
#include <cmath>

#include "fuzzTarget.h"
#include "matchJoints.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("joints.txt", data, size);
  try {
    const MatchJoints m = readMatchJoints(fuzz::scratch().path("joints.txt"), "ARNDCQEGHILKMFPSTWYV");
    for (size_t t = 0; t < m.K.size(); ++t) {
      if (!(m.K[t] >= 1 && m.K[t] <= 1000) || (t > 0 && !(m.K[t] > m.K[t - 1]))) std::abort();
      const PairTable at = m.at(0.5 * (m.K[t] + (t > 0 ? m.K[t - 1] : 1)));
      double sum = 0;
      for (const auto& row : at)
        for (double p : row) {
          if (!(p > 0)) std::abort();
          sum += p;
        }
      if (!(std::fabs(sum - 1) < 1e-6)) std::abort();
    }
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
