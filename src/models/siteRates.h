// Rate variation among sites: positions of a protein change at different
// rates, some hardly at all, some fast. The discrete gamma model takes n
// equally probable rate categories of a gamma distribution of shape alpha and
// mean 1 and uses each category's mean rate; a small alpha means strong
// variation.
#pragma once

#include <vector>

namespace seqcorvane::detail {

// The mean rate of each of n equally probable categories, in increasing
// order; they average to 1. Needs alpha > 0 and n >= 1.
std::vector<double> gammaRateCategories(double alpha, int n);

// The regularized lower incomplete gamma function P(a, x), a > 0, x >= 0.
double regularizedGammaP(double a, double x);

}  // namespace seqcorvane::detail
