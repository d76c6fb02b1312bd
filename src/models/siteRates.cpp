#include "siteRates.h"

#include <cmath>

#include "check.h"

namespace seqcorvane::detail {

double regularizedGammaP(double a, double x) {
  SC_CHECK(a > 0 && x >= 0);
  if (x == 0) return 0;
  const double logPrefix = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1) {
    // Series: P(a, x) = e^-x x^a / Gamma(a) * sum_k x^k / (a (a+1) ... (a+k)).
    double term = 1 / a, sum = term;
    for (int k = 1; k < 100000 && std::fabs(term) > 1e-17 * std::fabs(sum); ++k) {
      term *= x / (a + k);
      sum += term;
    }
    return std::exp(logPrefix) * sum;
  }
  // Continued fraction for Q(a, x) = 1 - P(a, x) (modified Lentz).
  const double tiny = 1e-300;
  double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
  for (int k = 1; k < 100000; ++k) {
    const double an = -k * (k - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-16) break;
  }
  return 1 - std::exp(logPrefix) * h;
}

std::vector<double> gammaRateCategories(double alpha, int n) {
  SC_CHECK(alpha > 0 && n >= 1);
  // A rate of a gamma distribution of shape alpha and mean 1 has the
  // distribution P(alpha, alpha r). The category bounds are its quantiles
  // k/n, and the mean of the rates between bounds lo and hi is
  // n (P(alpha + 1, alpha hi) - P(alpha + 1, alpha lo)).
  auto cdf = [&](double r) { return regularizedGammaP(alpha, alpha * r); };
  std::vector<double> bounds{0};
  for (int k = 1; k < n; ++k) {
    const double target = static_cast<double>(k) / n;
    double lo = 0, hi = 1;
    while (cdf(hi) < target) hi *= 2;
    for (int it = 0; it < 200 && hi - lo > 1e-15 * hi; ++it) {
      const double mid = 0.5 * (lo + hi);
      (cdf(mid) < target ? lo : hi) = mid;
    }
    bounds.push_back(0.5 * (lo + hi));
  }
  std::vector<double> means;
  double upperBelow = 0;
  for (int k = 0; k < n; ++k) {
    const double upper = k + 1 < n ? regularizedGammaP(alpha + 1, alpha * bounds[k + 1]) : 1.0;
    means.push_back(n * (upper - upperBelow));
    upperBelow = upper;
  }
  return means;
}

}  // namespace seqcorvane::detail
