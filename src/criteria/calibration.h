// The calibrated verdict: beside each criterion's, a second pair of
// hypotheses from which composition alone cannot earn compression. Both send
// each sequence's residues with its own composition, its counts stated
// first, alike in both; the alignment hypothesis's matches come from its
// joint adjusted to the two compositions (composition.h), so that a chance
// pair of residues of the two sequences earns -KL <= 0 on average. The
// alignment, or the sum over alignments, is the criterion's own, under its
// hypothesis (global or local) and model:
//   optimal: its alignment, at the distance estimated for it under these
//     costs (as a given alignment's);
//   marginal and posterior: every alignment summed at the criterion's own
//     distance (the marginal search's).
// In nits; the compression is (null - alignment) in bits.
#pragma once

#include <string>

#include "machine.h"

namespace seqcorvane::detail {

struct CalibratedMessage {
  int K = 0;
  double nullMsgLen = 0;  // the pair under their own compositions, with the statements
  double msgLen = 0;      // the alignment hypothesis
};

// The alignment fsastr of the criterion's machine m (any distance).
CalibratedMessage calibratedAlignment(const threeStateDPAClass_t& m, const std::string& fsastr);
// Every alignment summed at the machine's distance.
CalibratedMessage calibratedSum(const threeStateDPAClass_t& m);

}  // namespace seqcorvane::detail
