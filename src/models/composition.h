// A sequence's residues sent through its own composition, and a joint
// distribution over residue pairs adjusted to two compositions. In nits.
//
//  - iid: every residue sent under fixed frequencies q,
//      I(s | q) = -sum_a c_a ln q_a   (c_a the count of letter a);
//  - the composition stated: the counts c of a sequence of known length n,
//    uniform over the C(n + A - 1, A - 1) ways of splitting n into A counts,
//      I(c | n) = ln C(n + A - 1, A - 1),
//    then the residues iid under q_a = c_a / n. Over the compositions the
//    statement alone sums to exactly 1; statement and residues together sum
//    to less than 1 over the sequences, and two hypotheses that make the same
//    statement pay the same for it.
//
// The adjusted joint: given P(a, b) > 0 over A x A letters and marginals r
// (of the first letter) and c (of the second), each summing to 1,
//   Q(a, b) = x_a y_b P(a, b),   sum_b Q(a, b) = r_a,   sum_a Q(a, b) = c_b,
// by iterative proportional fitting. Q is the distribution of least relative
// entropy to P with these marginals: it keeps every odds ratio of P (the
// association between the letters) and takes its composition from r and c.
// For sequences drawn independently from r and c, a chance pair matched
// under Q has expected log-odds -KL(r c || Q) <= 0 against them: composition
// alone earns nothing. A letter with r_a = 0 (c_b = 0) gets an empty row
// (column).
#pragma once

#include <string>
#include <vector>

#include "matchJoints.h"

namespace seqcorvane::detail {

using ResidueCounts = std::vector<long>;

// The count of each letter of alphabet in seq (other letters ignored).
ResidueCounts residueCounts(const std::string& seq, const std::string& alphabet);
// c_a / n (all 0 for an empty sequence).
std::vector<double> countFrequencies(const ResidueCounts& c);
// -sum_a c_a ln q_a; +infinity where a counted letter has q_a = 0.
double iidMsgLen(const ResidueCounts& c, const std::vector<double>& q);
// ln C(n + A - 1, A - 1): the counts of a sequence of length n over A letters.
double compositionStatementMsgLen(long n, int A);
// The statement of the counts, then the residues iid under c_a / n.
double statedCompositionMsgLen(const ResidueCounts& c);

// Q from P (row-major A x A, positive), r and c (A each, non-negative, each
// summing to 1 within 1e-9), fitted until both marginals are within
// tolerance; the largest marginal error left in *error when given.
std::vector<double> adjustJoint(const std::vector<double>& P, const std::vector<double>& r,
                                const std::vector<double>& c, double tolerance = 1e-13, double* error = nullptr);
// The same over the 20 x 20 table of a match state.
PairTable adjustJoint(const PairTable& P, const std::vector<double>& r, const std::vector<double>& c);

}  // namespace seqcorvane::detail
