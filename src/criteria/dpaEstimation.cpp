// Parameter estimation (the distance K for an alignment, the transition
// probabilities for K, the alternation with the optimal alignment) and the
// message length of a given alignment.
#include <algorithm>
#include <cmath>

#include "check.h"
#include "distanceSearch.h"
#include "paths.h"
#include "threeStateDPAClass.h"

namespace {

// The two parts of a path's message length that depend on the parameters:
// its state choices (ln 3 for the first column, then -ln of each
// transition) and its residues given the states (a match's pair cost, a
// gap's residue under the null model), each summed column by column.
struct PathParts {
  double choices = 0;
  double residues = 0;
};

PathParts pathParts(const std::string& fsastr, const std::string& S, const std::string& T, const SubmatClass_t& model,
                    const NullProbs& pnull, const TransitionTable& p) {
  PathParts parts;
  parts.choices = LN3;
  size_t i = 0, j = 0;
  int prev = -1;
  for (char c : fsastr) {
    const int st = stateOfLetter(c);
    SC_CHECK(st >= 0);
    if (st == STATE_M) {
      SC_CHECK(i < S.length() && j < T.length());
      parts.residues += matchMsgLen(model, pnull, S[i++], T[j++]);
    } else if (st == STATE_D) {
      SC_CHECK(i < S.length());
      parts.residues += -std::log(pnull[static_cast<unsigned char>(S[i++])]);
    } else {
      SC_CHECK(j < T.length());
      parts.residues += -std::log(pnull[static_cast<unsigned char>(T[j++])]);
    }
    if (prev >= 0) parts.choices += -std::log(p[prev][st]);
    prev = st;
  }
  return parts;
}

}  // namespace

double threeStateDPAClass_t::evalNegLogMatches_fullAlignment(const std::string& fsastr, int n) const {
  SC_CHECK(n > 0);
  SC_CHECK(n <= 1000);
  // The model at distance n, independent of the machine's own: a copy of it
  // set to n (the same data; the power M^n is formed once per process).
  SubmatClass_t model = pam;
  model.exp(n);
  const PathParts parts = pathParts(fsastr, S, T, model, pnull, modelTransitions(model));
  return wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000 + parts.residues + parts.choices;
}

void threeStateDPAClass_t::estimateSubmatParam(const std::string& fsastr) {
  if (fsastr.empty()) return;
  // Bracketing over K; once the two probes differ by less than 0.3 nits the
  // curve is flat there and the rest of the bracket is scanned.
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        std::vector<double> c;
        for (int k : ks) c.push_back(evalNegLogMatches_fullAlignment(fsastr, k));
        return c;
      },
      true);
  // No distance with a finite cost: keep the current one.
  if (r.bestK != 0) pam.exp(r.bestK);
}

void threeStateDPAClass_t::estimate3StateMachineParams_dirichlet() {
  fsaPr = modelTransitions(pam);
  for (int x = 0; x < 3; ++x) SC_CHECK(fsaPr[x][STATE_M] + fsaPr[x][STATE_I] + fsaPr[x][STATE_D] > 0.999999999999999);
}

void threeStateDPAClass_t::estimateParams(const std::string& fsastr) {
  paramMsgLen = LN1000;
  if (!fsastr.empty()) {
    estimateSubmatParam(fsastr);
    estimate3StateMachineParams_dirichlet();
  }
}

void threeStateDPAClass_t::EM() {
  // Alternate: estimate the parameters from the current alignment, then find
  // the optimal alignment under them, until an alignment reproduces itself.
  // Every alignment traced is kept; should one recur after a longer cycle,
  // the cycle's alignment of least message length (at the parameters
  // estimated for it) is the result.
  paramMsgLen = 0;
  std::vector<std::string> traced;
  std::string previous, current;
  while (true) {
    estimateParams(current);
    fillDPMatrices();
    previous = current;
    current.clear();
    traceback(current, -1, -1, -1);
    fwdFilled = false;  // the codes are stale once the parameters move
    if (current == previous) break;
    auto seen = std::find(traced.begin(), traced.end(), current);
    if (seen != traced.end()) {
      std::string bestA;
      double bestL = std::numeric_limits<double>::infinity();
      int bestK = pam.getK();
      for (auto it = seen; it != traced.end(); ++it) {
        estimateParams(*it);
        const double len = evalNegLogMatches_fullAlignment(*it, pam.getK());
        if (len < bestL) {
          bestL = len;
          bestA = *it;
          bestK = pam.getK();
        }
      }
      setDistance(bestK);
      optAlignFSAstr = bestA;
      optAlignMsgLen = bestL;
      break;
    }
    traced.push_back(current);
  }
}

// ---------------------------------------------------------------------------
// Message length of a given alignment

double threeStateDPAClass_t::fsa2IA(const std::string& fsastr) const {
  const PathParts parts = pathParts(fsastr, S, T, pam, pnull, fsaPr);
  return parts.choices + (wtCodeLen_nits(static_cast<int>(fsastr.length())) + paramMsgLen);
}

double threeStateDPAClass_t::fsa2ISTgA(const std::string& fsastr) const {
  return pathParts(fsastr, S, T, pam, pnull, fsaPr).residues;
}

seqcorvane::ScoreResult threeStateDPAClass_t::scoreGiven(const std::string& fsastr) {
  estimateParams(fsastr);
  seqcorvane::ScoreResult r;
  r.parameters = parameters();
  r.pathMsgLen = fsa2IA(fsastr);
  r.residuesMsgLen = fsa2ISTgA(fsastr);
  r.msgLen = r.pathMsgLen + r.residuesMsgLen;
  r.nullMsgLen = sequenceNullMsgLen(S, models->nullMdl) + sequenceNullMsgLen(T, models->nullMdl);
  r.compressionBits = nits2bits(r.nullMsgLen - r.msgLen);
  return r;
}
