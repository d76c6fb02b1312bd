// The bracketing search over the evolutionary distance K in 1..1000 shared by
// the choice of K for one alignment and the marginal search.
//
// The bracket starts as [1, 1000] with the probes at its quarter points, 251
// and 750. Each step evaluates both probes: when the upper probe costs more,
// the lower one is the step's candidate and the bracket's top moves down to
// the upper probe; otherwise the upper one is the candidate and the bottom
// moves up to the lower probe. A candidate replaces the best so far only when
// strictly cheaper. The next probes sit at the quarter points of the shrunken
// bracket, rounded half away from zero; the search stops once the two probes
// just evaluated differ by at most 1 or the bracket is empty.
//
// With scanWhenFlat, two probes whose costs differ by less than 0.3 nits end
// the bracketing: every distance of the current bracket is then taken in
// ascending order, each replacing the best only when strictly cheaper.
//
// No distance is evaluated twice. The cost function gets the distances to
// evaluate in batches (the two probes of a step, or the scan), so that it can
// evaluate a batch at once.
#pragma once

#include <functional>
#include <vector>

namespace seqcorvane::detail {

struct DistanceSearchResult {
  int bestK = 0;  // 0 when no distance had a cost below +infinity
  double bestCost = 0;
  int evaluated = 0;         // distinct distances evaluated
  int evaluatedExactly = 0;  // of those, with the exact costs too (near ties)
};

using DistanceCosts = std::function<std::vector<double>(const std::vector<int>& ks)>;

DistanceSearchResult searchDistance(const DistanceCosts& costs, bool scanWhenFlat);

// The same search over approximate costs, each within margin(cost) of the
// exact cost: wherever two costs compared lie within the sum of their
// margins, both are replaced by their exact values before the comparison, so
// that every decision is the one the exact costs make. (No scan: the scan
// compares differences with a threshold.) bestCost is exact only when refined.
DistanceSearchResult searchDistance(const DistanceCosts& approximate, const DistanceCosts& exact,
                                    const std::function<double(double)>& margin);

}  // namespace seqcorvane::detail
