#include "composition.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "check.h"

namespace seqcorvane::detail {

namespace {

// Row sums of Q to r, then column sums to c, until the rows stay within
// tolerance after the columns were fitted (the columns are exact then). The
// fit converges linearly; the cap only guards against a tolerance below
// what rounding allows.
constexpr int MAX_FITTING_PASSES = 100000;

double fitRows(std::vector<double>& Q, const std::vector<double>& r, std::size_t A) {
  double error = 0;
  for (std::size_t a = 0; a < A; ++a) {
    double s = 0;
    for (std::size_t b = 0; b < A; ++b) s += Q[a * A + b];
    error = std::max(error, std::fabs(s - r[a]));
    // An empty row stays empty (its letter does not occur).
    const double x = r[a] > 0 ? r[a] / s : 0.0;
    for (std::size_t b = 0; b < A; ++b) Q[a * A + b] *= x;
  }
  return error;
}

void fitColumns(std::vector<double>& Q, const std::vector<double>& c, std::size_t A) {
  std::vector<double> colSum(A, 0.0);
  for (std::size_t a = 0; a < A; ++a)
    for (std::size_t b = 0; b < A; ++b) colSum[b] += Q[a * A + b];
  for (std::size_t b = 0; b < A; ++b) {
    // A column with c_b = 0 becomes empty; the others have mass from the
    // rows with r_a > 0, P being positive.
    SC_CHECK(colSum[b] > 0 || c[b] == 0);
    const double y = c[b] > 0 ? c[b] / colSum[b] : 0.0;
    for (std::size_t a = 0; a < A; ++a) Q[a * A + b] *= y;
  }
}

}  // namespace

ResidueCounts residueCounts(const std::string& seq, const std::string& alphabet) {
  ResidueCounts c(alphabet.size(), 0);
  std::array<int, 256> index;
  index.fill(-1);
  for (std::size_t a = 0; a < alphabet.size(); ++a)
    index[static_cast<unsigned char>(alphabet[a])] = static_cast<int>(a);
  for (const char x : seq) {
    const int a = index[static_cast<unsigned char>(x)];
    if (a >= 0) ++c[static_cast<std::size_t>(a)];
  }
  return c;
}

std::vector<double> countFrequencies(const ResidueCounts& c) {
  long n = 0;
  for (const long x : c) n += x;
  std::vector<double> q(c.size(), 0.0);
  if (n > 0)
    for (std::size_t a = 0; a < c.size(); ++a) q[a] = static_cast<double>(c[a]) / static_cast<double>(n);
  return q;
}

double iidMsgLen(const ResidueCounts& c, const std::vector<double>& q) {
  SC_CHECK(c.size() == q.size());
  double len = 0;
  for (std::size_t a = 0; a < c.size(); ++a) {
    if (c[a] == 0) continue;
    if (!(q[a] > 0)) return std::numeric_limits<double>::infinity();
    len -= static_cast<double>(c[a]) * std::log(q[a]);
  }
  return len;
}

double compositionStatementMsgLen(long n, int A) {
  SC_CHECK(n >= 0 && A >= 1);
  const double N = static_cast<double>(n), K = A - 1.0;
  return std::lgamma(N + K + 1) - std::lgamma(K + 1) - std::lgamma(N + 1);
}

double statedCompositionMsgLen(const ResidueCounts& c) {
  long n = 0;
  for (const long x : c) n += x;
  return compositionStatementMsgLen(n, static_cast<int>(c.size())) + iidMsgLen(c, countFrequencies(c));
}

std::vector<double> adjustJoint(const std::vector<double>& P, const std::vector<double>& r,
                                const std::vector<double>& c, double tolerance, double* error) {
  const std::size_t A = r.size();
  SC_CHECK(A > 0 && c.size() == A && P.size() == A * A);
  double sr = 0, sc = 0;
  for (std::size_t a = 0; a < A; ++a) {
    SC_CHECK(r[a] >= 0 && c[a] >= 0);
    sr += r[a];
    sc += c[a];
  }
  SC_CHECK(std::fabs(sr - 1) < 1e-9 && std::fabs(sc - 1) < 1e-9);
  for (const double p : P) SC_CHECK(p > 0);
  std::vector<double> Q = P;
  double left = std::numeric_limits<double>::infinity();
  fitRows(Q, r, A);
  for (int pass = 0; pass < MAX_FITTING_PASSES && left > tolerance; ++pass) {
    fitColumns(Q, c, A);
    left = fitRows(Q, r, A);
  }
  if (error != nullptr) *error = left;
  return Q;
}

PairTable adjustJoint(const PairTable& P, const std::vector<double>& r, const std::vector<double>& c) {
  std::vector<double> flat(400);
  for (std::size_t a = 0; a < 20; ++a)
    for (std::size_t b = 0; b < 20; ++b) flat[a * 20 + b] = P[a][b];
  const std::vector<double> Q = adjustJoint(flat, r, c);
  PairTable out{};
  for (std::size_t a = 0; a < 20; ++a)
    for (std::size_t b = 0; b < 20; ++b) out[a][b] = Q[a * 20 + b];
  return out;
}

}  // namespace seqcorvane::detail
