#include "distanceSearch.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "check.h"

namespace seqcorvane::detail {

namespace {

// The bracketing itself, over the costs that costsOf gives and the order
// that greater(ka, kb, fa, fb) decides ("the cost of ka exceeds that of kb").
template <class Costs, class Greater>
DistanceSearchResult bracket(Costs costsOf, Greater greater, bool scanWhenFlat) {
  DistanceSearchResult r;
  double best = std::numeric_limits<double>::infinity();
  int lo = 1, hi = 1000, k1 = 251, k2 = 750;
  while (true) {
    const std::vector<double> f = costsOf(std::vector<int>{k1, k2});
    if (scanWhenFlat && std::fabs(f[1] - f[0]) < 0.3) {
      std::vector<int> all;
      for (int k = lo; k <= hi; ++k) all.push_back(k);
      const std::vector<double> c = costsOf(all);
      for (size_t n = 0; n < all.size(); ++n) {
        if (greater(r.bestK, all[n], best, c[n])) {
          best = c[n];
          r.bestK = all[n];
        }
      }
      break;
    }
    if (greater(k2, k1, f[1], f[0])) {
      if (greater(r.bestK, k1, best, f[0])) {
        best = costsOf(std::vector<int>{k1})[0];
        r.bestK = k1;
      }
      hi = k2;
    } else {
      if (greater(r.bestK, k2, best, f[1])) {
        best = costsOf(std::vector<int>{k2})[0];
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
  return r;
}

// Costs by distance, each evaluated once, in batches.
class CostCache {
 public:
  explicit CostCache(const DistanceCosts& f) : costs(f) {}
  std::vector<double> operator()(const std::vector<int>& ks) {
    std::vector<int> fresh;
    for (int k : ks)
      if (!known.count(k) && std::find(fresh.begin(), fresh.end(), k) == fresh.end()) fresh.push_back(k);
    if (!fresh.empty()) {
      const std::vector<double> c = costs(fresh);
      SC_CHECK(c.size() == fresh.size());
      for (size_t n = 0; n < fresh.size(); ++n) known.emplace(fresh[n], c[n]);
    }
    std::vector<double> result;
    for (int k : ks) result.push_back(known.at(k));
    return result;
  }
  std::map<int, double> known;

 private:
  const DistanceCosts& costs;
};

}  // namespace

DistanceSearchResult searchDistance(const DistanceCosts& costs, bool scanWhenFlat) {
  CostCache cache(costs);
  // bestK 0 stands for no distance yet, whose cost is +infinity.
  auto greater = [](int, int, double fa, double fb) { return fa > fb; };
  DistanceSearchResult r = bracket(std::ref(cache), greater, scanWhenFlat);
  r.evaluated = static_cast<int>(cache.known.size());
  return r;
}

DistanceSearchResult searchDistance(const DistanceCosts& approximate, const DistanceCosts& exact,
                                    const std::function<double(double)>& margin) {
  CostCache fast(approximate), slow(exact);
  // The exact cost where it is known, else the approximate one.
  auto costsOf = [&](const std::vector<int>& ks) {
    std::vector<double> c = fast(ks);
    for (size_t n = 0; n < ks.size(); ++n)
      if (slow.known.count(ks[n])) c[n] = slow.known.at(ks[n]);
    return c;
  };
  auto greater = [&](int ka, int kb, double fa, double fb) {
    // A distance is never greater than itself: no exact pass to tell.
    if (ka == kb) return false;
    if (ka != 0 && kb != 0 && std::fabs(fa - fb) <= margin(fa) + margin(fb)) {
      const std::vector<double> e = slow(std::vector<int>{ka, kb});
      return e[0] > e[1];
    }
    return fa > fb;
  };
  DistanceSearchResult r = bracket(costsOf, greater, false);
  r.evaluated = static_cast<int>(fast.known.size());
  r.evaluatedExactly = static_cast<int>(slow.known.size());
  return r;
}

}  // namespace seqcorvane::detail
