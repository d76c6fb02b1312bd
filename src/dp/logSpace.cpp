#include "logSpace.h"

#include <algorithm>

#include "check.h"

namespace seqcorvane::detail {

template <size_t N>
double findNeglogSum(std::array<double, N> v) {
  // Insertion sort: for so few entries the quickest, and the sorted result
  // is the same whatever the sort.
  for (size_t k = 1; k < N; ++k) {
    const double x = v[k];
    size_t q = k;
    for (; q > 0 && x < v[q - 1]; --q) v[q] = v[q - 1];
    v[q] = x;
  }
  return neglogSumOfSorted(v.data(), N);
}
template double findNeglogSum<3>(std::array<double, 3>);
template double findNeglogSum<4>(std::array<double, 4>);
template double findNeglogSum<9>(std::array<double, 9>);

double neglogSumUnordered(const double* v, std::size_t n) {
  std::size_t least = n;
  for (std::size_t q = 0; q < n; ++q)
    if (std::fabs(v[q]) <= DBL_MAX && (least == n || v[q] < v[least])) least = q;
  if (least == n) return std::numeric_limits<double>::infinity();  // nothing finite: probability 0
  const double r = v[least];
  double s = 0;
  // e^d is 0 below d = -745.2; the library takes a slow path to say so
  for (std::size_t q = 0; q < n; ++q)
    if (q != least && r - v[q] > -746) s += std::exp(r - v[q]);
  return r - std::log1p(s);
}

double findMinIvalue(double a, double b, double c, int& pos) {
  double best = a;
  pos = 0;
  if (best > b) {
    best = b;
    pos = 1;
  }
  if (best > c) {
    best = c;
    pos = 2;
  }
  return best;
}

double findMinAndArgMinInArray(const std::vector<double>& array, int& argmin) {
  SC_CHECK(array.size() > 0);
  argmin = 0;
  double best = array[0];
  for (size_t k = 1; k < array.size(); ++k) {
    if (array[k] < best) {
      best = array[k];
      argmin = static_cast<int>(k);
    }
  }
  return best;
}

}  // namespace seqcorvane::detail
