#include "codeLengths.h"

#include <cmath>

#include "check.h"

namespace seqcorvane::detail {

// ---- code lengths ----

int catalan_C(int K) {
  SC_CHECK(K >= 0);
  SC_CHECK(K <= 19);  // C_20 does not fit a signed 32-bit integer
  if (K <= 1) return 1;
  double product = 1.0;
  for (int d = 2; d <= K; ++d) product *= static_cast<double>(K + d) / d;
  return static_cast<int>(std::round(product));
}

// Tree code: value + 1 is stated as a binary tree with j internal nodes, one
// bit per node, j being the smallest with C_0 + ... + C_j >= value + 1.
double wtCodeLen_bits(int value) {
  SC_CHECK(value <= MAX_TREE_CODE_VALUE);
  const int n = value + 1;
  // clang-format off
  SC_CHECK(n>0);  // the condition's text is what a failure reports
  // clang-format on
  if (n == 1) return 1;
  int32_t cumulative = 0;
  int j = 0;
  while (true) {
    cumulative += catalan_C(j);
    if (cumulative >= n) break;
    ++j;
  }
  return 2 * j + 1;
}

double wtCodeLen_nits(int n) { return wtCodeLen_bits(n) * LN2; }

}  // namespace seqcorvane::detail

double seqcorvane::nits2bits(double x) { return x / seqcorvane::detail::LN2; }
