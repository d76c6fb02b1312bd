// Code lengths: the tree code of an integer (lengths are stated with it),
// and the constants of the message lengths (the nit/bit conversion is
// seqcorvane::nits2bits).
#pragma once

#include <cstdint>

#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::detail {

// ln 2, the nit/bit conversion constant.
constexpr double LN2 = 0.6931471805599453;
// ln 3: the uniform choice of a path's first state (towards the sink, its last).
constexpr double LN3 = 1.0986122886681098;
// ln 1000: stating the distance K, uniform over 1..1000.
constexpr double LN1000 = 6.907755278982137;

// The largest integer the tree code can state: C_0 + ... + C_18 - 1. One more
// would need C_19 in the running sum, which overflows 32 bits. No sequence,
// and no alignment, can be longer.
constexpr int MAX_TREE_CODE_VALUE = 656043856;

// The k-th Catalan number, k <= 19.
int catalan_C(int k);
// The tree code's length for n >= 0 (at most 656043856).
double wtCodeLen_bits(int n);
double wtCodeLen_nits(int n);

}  // namespace seqcorvane::detail
