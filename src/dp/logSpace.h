// Log-space sums and minima: probabilities summed while held as negative
// logarithms (message lengths in nits), and the minimum finders of the
// best-path choices. Every sum over paths goes through these.
#pragma once

#include <array>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace seqcorvane::detail {

// -ln of the summed probabilities of the entries v[0..n-1], sorted ascending:
// the smallest finite entry r, less log1p of the sum of e^(r - v) over the
// later entries. -infinity entries are skipped (the reference is the
// smallest finite value, so every term is at most 1); a NaN counts as finite.
inline double neglogSumOfSorted(const double* v, std::size_t n) {
  std::size_t p = 0;
  while (p < n && std::fabs(v[p]) > DBL_MAX) ++p;
  if (p >= n) return std::numeric_limits<double>::infinity();  // nothing finite: probability 0
  const double r = v[p];
  if (p == n - 1) return r;
  double s = 0;
  for (std::size_t q = p + 1; q < n; ++q) s += std::exp(r - v[q]);
  return r - std::log1p(s);
}

// -ln(e^-a + e^-b + e^-c), with the same operations as neglogSumOfSorted on
// the sorted three.
inline double neglogSum3(double a, double b, double c) {
  if (b < a) std::swap(a, b);
  if (c < b) std::swap(b, c);
  if (b < a) std::swap(a, b);
  // The usual case, a finite least value.
  if (std::fabs(a) <= DBL_MAX) return a - std::log1p(std::exp(a - b) + std::exp(a - c));
  const double v[3] = {a, b, c};
  return neglogSumOfSorted(v, 3);
}
inline double findNeglogSum3(const std::array<double, 3>& v) { return neglogSum3(v[0], v[1], v[2]); }

// -ln(sum of e^-x) over many entries in one pass, unsorted: the least finite
// one, then the others' exponentials in their order (the same value as the
// sorted sum to rounding).
double neglogSumUnordered(const double* v, std::size_t n);

// -ln(sum of e^-x) over a fixed number of entries, sorted first (the same
// operations as neglogSumOfSorted); allocates nothing.
template <size_t N>
double findNeglogSum(std::array<double, N> v);

// The least of a, b, c, its position (0..2) in pos; ties to the lower position.
double findMinIvalue(double a, double b, double c, int& pos);
// The least entry and its first position.
double findMinAndArgMinInArray(const std::vector<double>& array, int& argmin);

}  // namespace seqcorvane::detail
