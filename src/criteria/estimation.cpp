#include "estimation.h"

#include <cmath>
#include <vector>

#include "check.h"
#include "codeLengths.h"
#include "distanceSearch.h"
#include "paths.h"
#include "transitions.h"

namespace seqcorvane::detail {

namespace {

// The two parts of a path's message length that depend on the parameters:
// its state choices and its residues given the states, each summed column
// by column.
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
    if (st == stateMatch) {
      SC_CHECK(i < S.length() && j < T.length());
      parts.residues += matchMsgLen(model, pnull, S[i++], T[j++]);
    } else if (st == stateDelete) {
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

PathParts partsAt(const threeStateDPAClass_t& m, const std::string& fsastr) {
  return pathParts(fsastr, m.S(), m.T(), m.substitution(), m.models().pnull, m.fsaPr());
}

}  // namespace

double evalNegLogMatches_fullAlignment(const threeStateDPAClass_t& m, const std::string& fsastr, int n) {
  SC_CHECK(n > 0);
  SC_CHECK(n <= 1000);
  // The model at distance n (the same data; the power M^n is formed once per process).
  SubmatClass_t model = m.substitution();
  model.exp(n);
  const PathParts parts = pathParts(fsastr, m.S(), m.T(), model, m.models().pnull,
                                    estimate3StateMachineParams_dirichlet(model, m.model().gapOpenScale));
  return wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000 + parts.residues + parts.choices;
}

int estimateSubmatParam(const threeStateDPAClass_t& m, const std::string& fsastr) {
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        std::vector<double> c;
        for (int k : ks) c.push_back(evalNegLogMatches_fullAlignment(m, fsastr, k));
        return c;
      },
      true);
  return r.bestK != 0 ? r.bestK : m.K();
}

threeStateDPAClass_t estimateParams(const threeStateDPAClass_t& m, const std::string& fsastr) {
  return fsastr.empty() ? m : atDistance(m, estimateSubmatParam(m, fsastr));
}

double fsa2IA(const threeStateDPAClass_t& m, const std::string& fsastr) {
  return partsAt(m, fsastr).choices + (wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000);
}

double fsa2ISTgA(const threeStateDPAClass_t& m, const std::string& fsastr) { return partsAt(m, fsastr).residues; }

ScoreResult scoreGiven(const threeStateDPAClass_t& m, const std::string& fsastr, double nullMsgLen) {
  const threeStateDPAClass_t at = estimateParams(m, fsastr);
  ScoreResult r;
  r.parameters = at.parameters();
  r.pathMsgLen = fsa2IA(at, fsastr);
  r.residuesMsgLen = fsa2ISTgA(at, fsastr);
  r.msgLen = r.pathMsgLen + r.residuesMsgLen;
  r.nullMsgLen = nullMsgLen;
  r.compressionBits = nits2bits(r.nullMsgLen - r.msgLen);
  return r;
}

}  // namespace seqcorvane::detail
