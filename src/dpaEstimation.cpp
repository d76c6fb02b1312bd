// Parameter estimation (the distance K for an alignment, the transition
// probabilities for K, the alternation with the optimal alignment) and the
// message length of a given alignment.
#include <algorithm>
#include <cmath>
#include <iomanip>

#include "check.h"
#include "distanceSearch.h"
#include "misc.h"
#include "threeStateDPAClass.h"

namespace {

int stateOfLetter(char c) {
  switch (c) {
    case 'm': return STATE_M;
    case 'd': return STATE_D;
    case 'i': return STATE_I;
    default: return -1;
  }
}

}  // namespace

double threeStateDPAClass_t::evalNegLogMatches_fullAlignment(std::string fsastr, std::vector<std::string> A, int n) {
  SC_CHECK(fsastr.length() == A.size());
  SC_CHECK(n > 0);
  SC_CHECK(n <= 1000);
  // The model at distance n, independent of the machine's own: a copy of it
  // set to n (the same data; the power M^n is formed once per process).
  SubmatClass_t model = pam;
  model.exp(n);
  const TransitionTable p = modelTransitions(model);
  // The cost of K, of the length, then per column its emission and its
  // transition (ln 3 for the first).
  double total = wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000;
  int prev = -1;
  for (size_t l = 0; l < fsastr.length(); ++l) {
    const char x = A[l][0], y = A[l][1];
    const int st = stateOfLetter(fsastr[l]);
    switch (st) {
      case STATE_M:
        SC_CHECK(A[l][0] != '-' && A[l][1] != '-');
        total += matchMsgLen(model, pnull, x, y);
        break;
      case STATE_D:
        SC_CHECK(A[l][0] != '-' && A[l][1] == '-');
        total += -std::log(pnullOf(x));
        break;
      case STATE_I:
        SC_CHECK(A[l][0] == '-' && A[l][1] != '-');
        total += -std::log(pnullOf(y));
        break;
      default:
        SC_CHECK(st == STATE_M || st == STATE_D || st == STATE_I);
    }
    total += (l == 0) ? LN3 : -std::log(p[prev][st]);
    prev = st;
  }
  return total;
}

void threeStateDPAClass_t::estimateSubmatParam(std::string fsastr) {
  if (fsastr.empty()) return;
  // The columns of the alignment as residue pairs ('-' for a gap).
  std::vector<std::string> A;
  A.reserve(fsastr.size());
  size_t i = 0, j = 0;
  for (char c : fsastr) {
    if (c == 'm') {
      SC_CHECK(i < S.length() && j < T.length());
      A.push_back(std::string{S[i++], T[j++]});
    } else if (c == 'd') {
      SC_CHECK(i < S.length());
      A.push_back(std::string{S[i++], '-'});
    } else if (c == 'i') {
      SC_CHECK(j < T.length());
      A.push_back(std::string{'-', T[j++]});
    } else {
      *out << c << " " << "Something wierd!" << "\n";
    }
  }
  // Bracketing over K; once the two probes differ by less than 0.3 nits the
  // curve is flat there and the rest of the bracket is scanned.
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        std::vector<double> c;
        for (int k : ks) c.push_back(evalNegLogMatches_fullAlignment(fsastr, A, k));
        return c;
      },
      true);
  // No distance with a finite cost: keep the current one.
  if (r.bestK != 0) pam.exp(r.bestK);
}

TransitionTable threeStateDPAClass_t::modelTransitions(const SubmatClass_t& model) const {
  TransitionTable p = transitionsAt(model);
  if (gapOpenScale != 1) {
    const double open = (1 - p[STATE_M][STATE_M]) * gapOpenScale;
    p[STATE_M][STATE_M] = 1 - open;
    p[STATE_M][STATE_I] = p[STATE_M][STATE_D] = open * 0.5;
  }
  return p;
}

void threeStateDPAClass_t::estimate3StateMachineParams_dirichlet() {
  const TransitionTable p = modelTransitions(pam);
  for (int x : {STATE_M, STATE_I, STATE_D})
    for (int y : {STATE_M, STATE_I, STATE_D}) fsaPr[transitionKey(x, y)] = p[x][y];
  SC_CHECK(fsaPr["MM"] + fsaPr["MI"] + fsaPr["MD"] > 0.999999999999999);
  SC_CHECK(fsaPr["IM"] + fsaPr["II"] + fsaPr["ID"] > 0.999999999999999);
  SC_CHECK(fsaPr["DM"] + fsaPr["DI"] + fsaPr["DD"] > 0.999999999999999);
}

void threeStateDPAClass_t::estimateParams(std::string fsastr) {
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
  std::vector<std::string> traced;
  std::string previous, current;
  double L = 0;
  while (true) {
    estimateParams(current);
    fillDPMatrices();
    previous = current;
    current.clear();
    L = traceback(current, -1, -1, -1);
    resetDPMatrices();
    if (current == previous) break;
    auto seen = std::find(traced.begin(), traced.end(), current);
    if (seen != traced.end()) {
      std::string bestA;
      double bestL = std::numeric_limits<double>::infinity();
      int bestK = pam.getK();
      for (auto it = seen; it != traced.end(); ++it) {
        estimateParams(*it);
        std::vector<std::string> cols;
        const std::vector<std::string> rows = fsastr2Algn(*it, S, T);
        for (size_t l = 0; l < it->size(); ++l) cols.push_back(std::string{rows[0][l], rows[1][l]});
        const double len = evalNegLogMatches_fullAlignment(*it, cols, pam.getK());
        if (len < bestL) {
          bestL = len;
          bestA = *it;
          bestK = pam.getK();
        }
      }
      pam.exp(bestK);
      estimate3StateMachineParams_dirichlet();
      optAlignFSAstr = bestA;
      optAlignMsgLen = bestL;
      L = bestL;
      break;
    }
    traced.push_back(current);
  }
  printParams();
  *out << "Information measure:\n";
  *out << "I(" << getTerminalColorString("best-A", 46) << ",<S,T>)  = "
       << getTerminalColorString(formatFixed(nits2bits(L), 3), 43) << " bits " << "\n";
  printFSAstr2Algn(optAlignFSAstr, S, T, *out);
}

double threeStateDPAClass_t::evalNegLogMatches(std::vector<std::string> pairs, int K) {
  double total = 0;
  for (const std::string& ab : pairs) {
    const int x = pam.getIndx(ab[0]), y = pam.getIndx(ab[1]);
    double s = 0;
    for (int k = 0; k < 20; ++k) s += std::pow(pam.getD(k, k), K) * pam.getS(x, k) * pam.getSinv(k, y);
    total -= std::log(s);
  }
  return total;
}

// ---------------------------------------------------------------------------
// Message length of a given alignment

double threeStateDPAClass_t::fsa2IA(std::string fsastr) {
  double total = LN3;
  for (size_t l = 1; l < fsastr.length(); ++l) {
    const int x = stateOfLetter(fsastr[l - 1]), y = stateOfLetter(fsastr[l]);
    if (x >= 0 && y >= 0) total += -std::log(fsaPr[transitionKey(x, y)]);
  }
  total += wtCodeLen_nits(static_cast<int>(fsastr.length())) + paramMsgLen;
  *out << "I(A)         = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(total) << " bits"
       << "\n";
  return total;
}

double threeStateDPAClass_t::fsa2ISTgA(std::string fsastr) {
  estimateParams(fsastr);
  double total = 0;
  size_t i = 0, j = 0;
  for (char c : fsastr) {
    if (c == 'd') {
      SC_CHECK(i < S.length());
      total += -std::log(pnullOf(S[i++]));
    } else if (c == 'i') {
      SC_CHECK(j < T.length());
      total += -std::log(pnullOf(T[j++]));
    } else if (c == 'm') {
      SC_CHECK(i < S.length() && j < T.length());
      const char a = S[i++], b = T[j++];
      total += matchMsgLen(pam, pnull, a, b);
    } else {
      *out << c << " " << "Something wierd!" << "\n";
    }
  }
  *out << "I(<S,T>|A)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(total) << " bits"
       << "\n";
  return total;
}

void threeStateDPAClass_t::printJoints() {
  SC_CHECK(nullMdl.getOrder() == 0);
  const std::string alphabet = pam.getAlphabet();
  double total = 0;
  *out << std::fixed << std::setprecision(3);
  for (char b : alphabet) {
    double colSum = 0;
    for (char a : alphabet) {
      const double p1 = pam.pr(a, b) * pnullOf(b);
      const double p2 = pam.pr(b, a) * pnullOf(a);
      colSum += (p1 + p2) * 0.5;
      *out << "Delta Pr(" << a << "," << b << ") = " << std::setw(8) << p1 - p2 << "\n";
    }
    *out << "===> Pr(*," << b << ") = " << std::setw(8) << colSum << " " << pnullOf(b) << "\n";
    total += colSum;
  }
  *out << "Total prob = " << total << "\n";
}
