#include "distanceSearch.h"

#include <cmath>
#include <limits>
#include <map>

#include "check.h"

DistanceSearchResult searchDistance(const DistanceCosts& costs, bool scanWhenFlat) {
  std::map<int, double> known;
  // The costs of ks, evaluating only those not known yet, in one batch.
  auto costsOf = [&](const std::vector<int>& ks) {
    std::vector<int> fresh;
    for (int k : ks)
      if (!known.count(k)) fresh.push_back(k);
    if (!fresh.empty()) {
      const std::vector<double> c = costs(fresh);
      SC_CHECK(c.size() == fresh.size());
      for (size_t n = 0; n < fresh.size(); ++n) known.emplace(fresh[n], c[n]);
    }
    std::vector<double> result;
    for (int k : ks) result.push_back(known.at(k));
    return result;
  };

  DistanceSearchResult r;
  double best = std::numeric_limits<double>::infinity();
  int lo = 1, hi = 1000, k1 = 251, k2 = 750;
  while (true) {
    const std::vector<double> f = costsOf({k1, k2});
    const double f1 = f[0], f2 = f[1];
    if (scanWhenFlat && std::fabs(f2 - f1) < 0.3) {
      std::vector<int> all;
      for (int k = lo; k <= hi; ++k) all.push_back(k);
      const std::vector<double> c = costsOf(all);
      for (size_t n = 0; n < all.size(); ++n) {
        if (c[n] < best) {
          best = c[n];
          r.bestK = all[n];
        }
      }
      break;
    }
    if (f2 > f1) {
      if (f1 < best) {
        best = f1;
        r.bestK = k1;
      }
      hi = k2;
    } else {
      if (f2 < best) {
        best = f2;
        r.bestK = k2;
      }
      lo = k1;
    }
    if (std::abs(k2 - k1) <= 1 || lo >= hi) break;
    const double step = (hi - lo) * 0.25;
    k1 = static_cast<int>(std::round(lo + step));
    k2 = static_cast<int>(std::round(hi - step));
  }
  r.bestCost = best;
  r.evaluated = static_cast<int>(known.size());
  return r;
}
