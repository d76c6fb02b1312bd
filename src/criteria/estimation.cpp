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

// A local alignment's message length in two parts, from the machine's
// (log-odds) costs: I(A) states the lengths as the null does, K, the
// region's first cell, its transitions and its end; I(<S,T>|A) the
// residues, under the null model but for the matches' log-odds.
PathParts localParts(const threeStateDPAClass_t& m, const std::string& fsastr) {
  const PathRegion r = regionOfPath(fsastr);
  if (!r.any) inputError("a local alignment has at least one matched column: this one has none");
  const CostTable& c = m.costs();
  const std::size_t nS = m.S().size(), nT = m.T().size();
  const double lengths = wtCodeLen_nits(static_cast<int>(nS)) + wtCodeLen_nits(static_cast<int>(nT));
  PathParts parts;
  parts.choices = lengths + LN1000 + std::log(static_cast<double>(nS) * static_cast<double>(nT));
  parts.residues = m.nullMsgLen() - lengths;
  std::size_t i = r.beforeS, j = r.beforeT;
  for (std::size_t k = r.firstColumn; k <= r.lastColumn; ++k) {
    const int st = stateOfLetter(fsastr[k]);
    SC_CHECK(st >= 0);
    if (st == stateMatch) parts.residues += c.match[c.resS[i]][c.resT[j]];
    i += st != stateInsert;
    j += st != stateDelete;
    if (k > r.firstColumn) parts.choices += c.trans[stateOfLetter(fsastr[k - 1])][st];
  }
  parts.choices += c.endCost;
  return parts;
}

// A global alignment's whole message from the machine's costs: K, the
// alignment's length, the statements of the compositions, ln 3 for the
// first column, the transitions and the residues. The same as
// evalNegLogMatches_fullAlignment for the plain machine; it serves the
// machines whose costs are not the substitution model's alone.
double globalMsgLenFromCosts(const threeStateDPAClass_t& m, const std::string& fsastr) {
  const CostTable& c = m.costs();
  double len = LN1000 + wtCodeLen_nits(static_cast<int>(fsastr.length())) + m.compositionStatements() + LN3;
  std::size_t i = 0, j = 0;
  for (std::size_t k = 0; k < fsastr.size(); ++k) {
    const int st = stateOfLetter(fsastr[k]);
    SC_CHECK(st >= 0);
    if (st == stateMatch) {
      SC_CHECK(i < c.nS && j < c.nT);
      len += c.match[c.resS[i++]][c.resT[j++]];
    } else if (st == stateDelete) {
      SC_CHECK(i < c.nS);
      len += c.gapS[i++];
    } else {
      SC_CHECK(j < c.nT);
      len += c.gapT[j++];
    }
    if (k > 0) len += c.trans[stateOfLetter(fsastr[k - 1])][st];
  }
  SC_CHECK(i == c.nS && j == c.nT);
  return len;
}

}  // namespace

PathRegion regionOfPath(const std::string& fsastr) {
  PathRegion r;
  const std::size_t first = fsastr.find('m'), last = fsastr.rfind('m');
  if (first == std::string::npos) return r;
  r.any = true;
  r.firstColumn = first;
  r.lastColumn = last;
  for (std::size_t k = 0; k < fsastr.size(); ++k) {
    std::size_t& s = k < first ? r.beforeS : r.inS;
    std::size_t& t = k < first ? r.beforeT : r.inT;
    if (k > last) break;
    s += fsastr[k] != 'i';
    t += fsastr[k] != 'd';
  }
  return r;
}

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
  if (m.model().ownComposition) {
    // Every distance's machine, its costs adjusted to the compositions.
    const DistanceSearchResult r = searchDistance(
        [&](const std::vector<int>& ks) {
          std::vector<double> c;
          for (int k : ks) c.push_back(alignmentMsgLen(atDistance(m, k), fsastr));
          return c;
        },
        true);
    return r.bestK != 0 ? r.bestK : m.K();
  }
  if (m.local()) {
    const PathRegion r = regionOfPath(fsastr);
    if (!r.any) inputError("a local alignment has at least one matched column: this one has none");
    MachineModel global = m.model();
    global.local = false;
    const threeStateDPAClass_t region = makeMachine(m.S().substr(r.beforeS, r.inS), m.T().substr(r.beforeT, r.inT),
                                                    m.models(), m.K(), global, m.settings());
    return estimateSubmatParam(region, fsastr.substr(r.firstColumn, r.lastColumn - r.firstColumn + 1));
  }
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
  if (m.local()) return localParts(m, fsastr).choices;
  return partsAt(m, fsastr).choices + (wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000);
}

double fsa2ISTgA(const threeStateDPAClass_t& m, const std::string& fsastr) {
  return m.local() ? localParts(m, fsastr).residues : partsAt(m, fsastr).residues;
}

double alignmentMsgLen(const threeStateDPAClass_t& m, const std::string& fsastr) {
  if (!m.local() && m.model().ownComposition) return globalMsgLenFromCosts(m, fsastr);
  if (!m.local()) return evalNegLogMatches_fullAlignment(m, fsastr, m.K());
  const PathParts parts = localParts(m, fsastr);
  return parts.choices + parts.residues;
}

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
