// The alignment machine's transition probabilities at a distance, from the
// Dirichlet priors of that distance.
#pragma once

#include "SubmatClass.h"
#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::detail {

// [from][to], indexed by seqcorvane::State: probabilities, or their costs (-ln).
using TransitionTable = Transitions;

// The transitions at the model's distance from the modes m of the match
// prior and g of the gap prior: MM = m0, MI = MD = (1 - m0)/2; for both gap
// states: stay = g0, back to match = g1, switch = 1 - g0 - g1. With a
// gapOpenScale below 1 the opening (1 - MM) is that much smaller, shared
// equally by MI and MD.
TransitionTable estimate3StateMachineParams_dirichlet(const SubmatClass_t& pam, double gapOpenScale = 1);

// -ln of the nine transition probabilities.
TransitionTable transitionCosts(const TransitionTable& fsaPr);

}  // namespace seqcorvane::detail
