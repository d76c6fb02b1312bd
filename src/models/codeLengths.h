// Code lengths: the tree code of an integer (lengths are stated with it),
// the log* code, and the nit/bit conversion.
#pragma once

#include <cstdint>

#include "seqcorvane/seqcorvane.h"

// ln 2, the nit/bit conversion constant.
constexpr double LN2 = 0.6931471805599453;
// ln 3: the uniform choice of a path's first state (towards the sink, its last).
constexpr double LN3 = 1.0986122886681098;
// ln 1000: stating the distance K, uniform over 1..1000.
constexpr double LN1000 = 6.907755278982137;

// The k-th Catalan number, k <= 19.
int catalan_C(int k);
// The tree code's length for n >= 0 (at most 656043856).
double wtCodeLen_bits(int n);
double wtCodeLen_nits(int n);
double logStar_bits(uint64_t n);
double logStar_nits(uint64_t n);
using seqcorvane::nits2bits;
double bits2nits(double x);
