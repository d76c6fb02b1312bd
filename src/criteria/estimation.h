// Parameter estimation for one alignment (its distance K and the transitions
// of the priors there) and the message length of a given alignment:
//   I(A)        the cost of K, the code length of the path's length and its
//               state choices (ln 3 for the first column, then -ln of each
//               transition);
//   I(<S,T>|A)  its residues given the states (a match's pair cost, a gap's
//               residue under the null model).
#pragma once

#include <string>

#include "machine.h"

namespace seqcorvane::detail {

// The region of a local alignment's path: its columns from the first match
// to the last, the residues of S and T before them and in them; none
// without a match.
struct PathRegion {
  bool any = false;
  std::size_t firstColumn = 0, lastColumn = 0;
  std::size_t beforeS = 0, beforeT = 0, inS = 0, inT = 0;
};
PathRegion regionOfPath(const std::string& fsastr);

// The alignment's whole message length at distance n (1..1000): the cost of
// K, its length, its residues and its state choices.
double evalNegLogMatches_fullAlignment(const threeStateDPAClass_t& m, const std::string& fsastr, int n);
// The distance of least message length for the alignment (bracketing over
// K; once the two probes differ by less than 0.3 nits the rest of the
// bracket is scanned); the machine's own when no distance has a finite cost.
// Under the local hypothesis, the region's alone: the flanks' cost does not
// depend on K, and the region's differs from its global message length by
// terms that do not either. Under own compositions, the least of
// alignmentMsgLen over the distances' machines.
int estimateSubmatParam(const threeStateDPAClass_t& m, const std::string& fsastr);
// The machine moved to the distance estimated for the alignment, with the
// transitions of the priors there (an empty alignment moves nothing).
threeStateDPAClass_t estimateParams(const threeStateDPAClass_t& m, const std::string& fsastr);

// The message length of the alignment at the machine's parameters, under
// the machine's hypothesis.
double alignmentMsgLen(const threeStateDPAClass_t& m, const std::string& fsastr);

// I(A) and I(<S,T>|A) at the machine's parameters.
double fsa2IA(const threeStateDPAClass_t& m, const std::string& fsastr);
double fsa2ISTgA(const threeStateDPAClass_t& m, const std::string& fsastr);

// The message length of a given alignment, K estimated for it from the
// machine's; nullMsgLen as given.
ScoreResult scoreGiven(const threeStateDPAClass_t& m, const std::string& fsastr, double nullMsgLen);

}  // namespace seqcorvane::detail
