#include "threeStateDPAClass.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "check.h"
#include "misc.h"

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
// ln 3: the uniform choice of a path's first (or, towards the sink, last) state.
constexpr double LN3 = 1.0986122886681098;
// ln 1000: stating the distance K, uniform over 1..1000.
constexpr double LN1000 = 6.907755278982137;

constexpr const char* STATE_LETTERS = "MDI";  // transition-key letter of each state code
constexpr const char* FSA_LETTERS = "mdi";    // state-string letter of each state code

std::string transKey(int x, int y) { return std::string{STATE_LETTERS[x], STATE_LETTERS[y]}; }

// -ln of the summed probabilities of the sorted entries v[0..n-1].
double neglogSumOfSorted(const double* v, size_t n) {
  // Skip the -infinity entries: the reference is the smallest finite value
  // (the largest probability), so every term below is at most 1. A NaN is
  // taken as finite.
  size_t p = 0;
  while (p < n && std::fabs(v[p]) > DBL_MAX) ++p;
  if (p >= n) return INF;  // nothing finite: probability 0
  const double r = v[p];
  if (p == n - 1) return r;
  double s = 0;
  for (size_t q = p + 1; q < n; ++q) s += std::exp(r - v[q]);
  return r - std::log1p(s);
}

// Index (0, 1, 2) of the least of three totals; ties go to the lower index.
inline int argMin3(double t0, double t1, double t2) {
  int k = 0;
  double best = t0;
  if (best > t1) {
    k = 1;
    best = t1;
  }
  if (best > t2) k = 2;
  return k;
}

// The cell becomes the cheapest of three candidates, one per neighbouring
// state k: the neighbour's cell (*mats[k])[ni][nj], plus the step cost
// step[k] and the emission. Equal totals keep the lower state code (M, then D,
// then I); prevState records k. No temporary cells are built.
inline void relaxCell(const DPMatrix* const mats[3], size_t ni, size_t nj, const double (&step)[3], double emit,
                      int64_t addMatch, dpcell_t& out) {
  double tr[3], em[3], tot[3];
  for (int k = 0; k < 3; ++k) {
    const dpcell_t& n = (*mats[k])[ni][nj];
    tr[k] = n.transMsgLen + step[k];
    em[k] = n.emitMsgLen + emit;
    tot[k] = tr[k] + em[k];
  }
  const int k = argMin3(tot[0], tot[1], tot[2]);
  const dpcell_t& n = (*mats[k])[ni][nj];
  out.transMsgLen = tr[k];
  out.emitMsgLen = em[k];
  out.totalMsgLen = tot[k];
  out.nMatches = n.nMatches + addMatch;
  out.nColumns = n.nColumns + 1;
  out.prevState = k;
  out.fwdMsgLen = INF;
  out.bwdMsgLen = INF;
}

// The nine transition probabilities at a distance, in the order of state
// codes [from][to], from the modes of the match prior m and the gap prior g:
// the two ways out of match into a gap are equally likely, and both gap
// states share the gap prior (stay, back to match, switch to the other gap).
std::array<std::array<double, 3>, 3> transitionsFromModes(const std::vector<double>& m, const std::vector<double>& g) {
  std::array<std::array<double, 3>, 3> p{};
  p[STATE_M][STATE_M] = m[0];
  p[STATE_M][STATE_I] = (1 - m[0]) * 0.5;
  p[STATE_M][STATE_D] = (1 - m[0]) * 0.5;
  p[STATE_I][STATE_M] = g[1];
  p[STATE_I][STATE_I] = g[0];
  p[STATE_I][STATE_D] = 1 - g[0] - g[1];
  p[STATE_D][STATE_M] = g[1];
  p[STATE_D][STATE_I] = 1 - g[0] - g[1];
  p[STATE_D][STATE_D] = g[0];
  return p;
}

std::array<std::array<double, 3>, 3> transitionsAt(const SubmatClass_t& model) {
  return transitionsFromModes(model.getDirichlet("match").getMode(), model.getDirichlet("insert").getMode());
}

std::string fixed3(double x) {
  std::ostringstream ss;
  ss << std::fixed << std::setprecision(3) << x;
  return ss.str();
}

int stateOfLetter(char c) {
  switch (c) {
    case 'm': return STATE_M;
    case 'd': return STATE_D;
    case 'i': return STATE_I;
    default: return -1;
  }
}

// A traced path met a cell without predecessor: the parameters gave the path
// zero probability, or the trace started in a cell that no path reaches.
[[noreturn]] void corruptPath(const std::string& soFar, long i, long j, int64_t state) {
  std::cout << "Wierd!\n" << soFar << "\n" << i << " " << j << " in State " << state << "\n";
  std::cout.flush();
  fatalError("alignment trace met a cell without predecessor at (" + std::to_string(i) + "," + std::to_string(j) +
             ") in state " + std::to_string(state));
}

}  // namespace

// ---------------------------------------------------------------------------
// Log-space sums and minima

double findNeglogSum(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return neglogSumOfSorted(v.data(), v.size());
}

template <size_t N>
double findNeglogSum(std::array<double, N> v) {
  std::sort(v.begin(), v.end());
  return neglogSumOfSorted(v.data(), N);
}
template double findNeglogSum<3>(std::array<double, 3>);
template double findNeglogSum<9>(std::array<double, 9>);

const dpcell_t& findMin(const dpcell_t& c0, const dpcell_t& c1, const dpcell_t& c2) {
  const dpcell_t* best = &c0;
  if (best->totalMsgLen > c1.totalMsgLen) best = &c1;
  if (best->totalMsgLen > c2.totalMsgLen) best = &c2;
  return *best;
}

dpcell_t findMin(const std::vector<dpcell_t>& cells) {
  SC_CHECK(cells.size() >= 3);
  return findMin(cells[0], cells[1], cells[2]);
}

double findMinIvalue(double a, double b, double c, int& pos) {
  double best = a;
  pos = 0;
  if (best > b) {
    best = b;
    pos = 1;
  }
  if (best > c) {
    best = c;
    pos = 2;
  }
  return best;
}

double findMinInArray(const std::vector<double>& array) {
  int argmin = 0;
  return findMinAndArgMinInArray(array, argmin);
}

double findMinAndArgMinInArray(const std::vector<double>& array, int& argmin) {
  SC_CHECK(array.size() > 0);
  argmin = 0;
  double best = array[0];
  for (size_t k = 1; k < array.size(); ++k) {
    if (array[k] < best) {
      best = array[k];
      argmin = static_cast<int>(k);
    }
  }
  return best;
}

// ---------------------------------------------------------------------------
// Construction, parameters and report

threeStateDPAClass_t::threeStateDPAClass_t(std::string& S_, std::string& T_, nullModelClass_t& nullMdl_,
                                           SubmatClass_t& pam_, std::string criterion_, std::string outPrefix_)
    : S(S_), T(T_), nullMdl(nullMdl_), pam(pam_), criterion(std::move(criterion_)), outPrefix(std::move(outPrefix_)) {
  const size_t nS = S.length(), nT = T.length();
  SC_CHECK(nS > 0);
  SC_CHECK(nT > 0);
  cacheNullProbs();
  init();
  SC_CHECK(dpmat[0].size() == dpmat[2].size());
  SC_CHECK(dpmat[1].size() == dpmat[2].size());
  if (criterion == "optimal") {
    std::cout << "-------------------" << getTerminalColorString("EVALUATING OPTIMAL ALIGNMENT", 45)
              << "------------------\n";
    EM();
  } else if (criterion == "marginal" || criterion == "marginal-interactive") {
    std::cout << "------------" << getTerminalColorString("EVALUATING MARGINAL PROBABILITY LANDSCAPE", 45)
              << "------------\n";
    searchTotalProbOfST();
  }
  std::cout << "-----------------------------------------------------------------\n\n";
}

threeStateDPAClass_t::threeStateDPAClass_t(std::string& S_, std::string& T_, std::string& fsastr,
                                           nullModelClass_t& nullMdl_, SubmatClass_t& pam_)
    : S(S_), T(T_), nullMdl(nullMdl_), pam(pam_) {
  const size_t nS = S.length(), nT = T.length();
  SC_CHECK(nS > 0);
  SC_CHECK(nT > 0);
  cacheNullProbs();
  initParams();
  paramMsgLen = 0;
  estimateSubmatParam(fsastr);
  estimateParams(fsastr);
  printParams();
  const double IA = fsa2IA(fsastr);
  const double ISTgA = fsa2ISTgA(fsastr);
  optAlignMsgLen = IA + ISTgA;
  std::cout << "I(A,<S,T>)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(optAlignMsgLen)
            << " bits" << "\n";
}

threeStateDPAClass_t::~threeStateDPAClass_t() = default;

void threeStateDPAClass_t::cacheNullProbs() {
  pnullOfChar.fill(0.0);
  for (char c : pam.getAlphabet()) pnullOfChar[static_cast<unsigned char>(c)] = nullMdl.pr(std::string(1, c));
}

void threeStateDPAClass_t::init() {
  // Built in place: a spare copy of a matrix would raise the peak memory by a
  // third.
  const size_t rows = S.length() + 1, cols = T.length() + 1;
  dpmat.reserve(3);
  for (int s = 0; s < 3; ++s) dpmat.emplace_back(rows, cols);
  if (criterion == "marginal-interactive") {
    dpmat_cell2sink.reserve(3);
    for (int s = 0; s < 3; ++s) dpmat_cell2sink.emplace_back(rows, cols);
  }
  initParams();
  paramMsgLen = 0;
}

void threeStateDPAClass_t::initParams() {
  SC_CHECK(fsaPr.size() == 0);
  const std::vector<double> m = pam.getDirichlet("match").getMode();
  const std::vector<double> g = pam.getDirichlet("insert").getMode();
  fsaPr["MM"] = m[0];
  fsaPr["MI"] = (1 - m[0]) * 0.5;
  fsaPr["MD"] = (1 - m[0]) * 0.5;
  fsaPr["IM"] = g[1];
  fsaPr["II"] = g[0];
  fsaPr["ID"] = 1 - g[0] - g[1];
  fsaPr["DM"] = g[1];
  fsaPr["DI"] = 1 - g[0] - g[1];
  fsaPr["DD"] = g[0];
}

void threeStateDPAClass_t::resetDPMatrices() {
  for (DPMatrix& mat : dpmat) {
    for (dpcell_t& c : mat.allCells()) {
      c.transMsgLen = INF;
      c.emitMsgLen = INF;
      c.totalMsgLen = INF;
      c.nMatches = 0;
      c.nColumns = 0;
      c.prevState = STATE_NONE;
    }
  }
}

void threeStateDPAClass_t::printParams() {
  std::cout << "Inferred params ";
  if (criterion == "optimal")
    std::cout << "(biased estimates for a single best alignment):\n";
  else
    std::cout << "(unbaised estimates over all alignments):\n";
  std::cout << "SeqDist n = " << std::setw(3) << pam.getK() << "\n";
  std::cout << std::fixed;
  for (const auto& kv : fsaPr)
    std::cout << "Pr(" << kv.first << ") = " << std::setprecision(3) << std::setw(6) << kv.second << std::endl;
  std::cout << "\n";
}

void threeStateDPAClass_t::prepareCosts() {
  const size_t nS = S.length(), nT = T.length();
  gapCostS.resize(nS);
  gapCostT.resize(nT);
  idxS.resize(nS);
  idxT.resize(nT);
  for (size_t i = 0; i < nS; ++i) {
    gapCostS[i] = -std::log(pnull(S[i]));
    idxS[i] = pam.getIndx(S[i]);
  }
  for (size_t j = 0; j < nT; ++j) {
    gapCostT[j] = -std::log(pnull(T[j]));
    idxT[j] = pam.getIndx(T[j]);
  }
  // matchPr(a, b) = 0.5 (Pnull(a) Pr(b|a) + Pnull(b) Pr(a|b)): the mean of the
  // two directions, so that the cost of a pair does not depend on which
  // sequence is S.
  const std::string alphabet = pam.getAlphabet();
  SC_CHECK(alphabet.size() == 20);
  for (int x = 0; x < 20; ++x) {
    for (int y = 0; y < 20; ++y) {
      const char a = alphabet[x], b = alphabet[y];
      matchCost[x][y] = -std::log(0.5 * (pnull(a) * pam.pr(b, a) + pnull(b) * pam.pr(a, b)));
    }
  }
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) transCost[x][y] = -std::log(fsaPr.at(transKey(x, y)));
}

// ---------------------------------------------------------------------------
// Optimal alignment: fill, traceback, traceforward

void threeStateDPAClass_t::fillDPMatrices() {
  prepareCosts();
  const size_t nS = S.length(), nT = T.length();
  DPMatrix& M = dpmat[STATE_M];
  DPMatrix& D = dpmat[STATE_D];
  DPMatrix& I = dpmat[STATE_I];

  for (DPMatrix* mat : {&M, &D, &I}) {
    dpcell_t& c = (*mat)[0][0];
    c.transMsgLen = c.emitMsgLen = c.totalMsgLen = 0;
  }
  // Column 0: only deletes. D[i][0] extends D[i-1][0].
  for (size_t i = 1; i <= nS; ++i) {
    const dpcell_t& p = D[i - 1][0];
    dpcell_t& c = D[i][0];
    c.transMsgLen = p.transMsgLen + (i == 1 ? LN3 : transCost[STATE_D][STATE_D]);
    c.emitMsgLen = p.emitMsgLen + gapCostS[i - 1];
    c.nColumns = p.nColumns + 1;
    c.prevState = STATE_D;
    c.totalMsgLen = c.transMsgLen + c.emitMsgLen;
  }
  // Row 0: only inserts. I[0][j] extends I[0][j-1].
  for (size_t j = 1; j <= nT; ++j) {
    const dpcell_t& p = I[0][j - 1];
    dpcell_t& c = I[0][j];
    c.transMsgLen = p.transMsgLen + (j == 1 ? LN3 : transCost[STATE_I][STATE_I]);
    c.emitMsgLen = p.emitMsgLen + gapCostT[j - 1];
    c.nColumns = p.nColumns + 1;
    c.prevState = STATE_I;
    c.totalMsgLen = c.transMsgLen + c.emitMsgLen;
  }

  // Interior, row by row. For each target state Y and predecessor X in the
  // order M, D, I:
  //   M[i][j] <- X[i-1][j-1] + trans(X->M) + match(S[i-1], T[j-1])   (ln 3 instead of trans at (1,1))
  //   D[i][j] <- X[i-1][j]   + trans(X->D) + gap(S[i-1])
  //   I[i][j] <- X[i][j-1]   + trans(X->I) + gap(T[j-1])
  // and the cell takes the candidate of least total; equal totals keep the
  // earlier predecessor (M before D before I).
  const DPMatrix* from[3] = {&M, &D, &I};
  const double startStep[3] = {LN3, LN3, LN3};
  double intoM[3], intoD[3], intoI[3];
  for (int x = 0; x < 3; ++x) {
    intoM[x] = transCost[x][STATE_M];
    intoD[x] = transCost[x][STATE_D];
    intoI[x] = transCost[x][STATE_I];
  }
  for (size_t i = 1; i <= nS; ++i) {
    const auto& matchRow = matchCost[idxS[i - 1]];
    const double gapS = gapCostS[i - 1];
    for (size_t j = 1; j <= nT; ++j) {
      const double match = matchRow[idxT[j - 1]];
      const double gapT = gapCostT[j - 1];
      const bool first = (i == 1 && j == 1);
      relaxCell(from, i - 1, j - 1, first ? startStep : intoM, match, 1, M[i][j]);
      relaxCell(from, i - 1, j, intoD, gapS, 0, D[i][j]);
      relaxCell(from, i, j - 1, intoI, gapT, 0, I[i][j]);
    }
  }
  const dpcell_t& best = findMin(M[nS][nT], D[nS][nT], I[nS][nT]);
  optAlignMsgLen = best.totalMsgLen + paramMsgLen + wtCodeLen_nits(static_cast<int>(best.nColumns));
}

namespace {

// One trace through a set of three matrices, shared by the trace from the end
// back to the start and the trace from the start forward to the end. It
// starts at cell (i, j) of matrix `state`, or, when any of the three is -1, at
// the default position (defI, defJ) in the cheapest of its three cells (M
// before D before I on equal cost). It then follows the prevState links one
// column per step, moving by `dir` (-1 back, +1 forward), until (endI, endJ),
// appending the letter of each state in walking order. Returns the start
// cell's totalMsgLen; `defaultStart` tells which start was taken.
double walkPath(const std::vector<DPMatrix>& mats, std::string& fsastr, int32_t i, int32_t j, int32_t state,
                long nS, long nT, long defI, long defJ, long endI, long endJ, int dir, bool& defaultStart) {
  defaultStart = (i == -1 || j == -1 || state == -1);
  long ci, cj;
  int64_t st;
  double cost;
  if (defaultStart) {
    ci = defI;
    cj = defJ;
    int pos = 0;
    cost = findMinIvalue(mats[STATE_M][ci][cj].totalMsgLen, mats[STATE_D][ci][cj].totalMsgLen,
                         mats[STATE_I][ci][cj].totalMsgLen, pos);
    st = pos;
  } else {
    SC_CHECK(i >= 0 && i <= nS);
    SC_CHECK(j >= 0 && j <= nT);
    SC_CHECK(state >= 0 && state <= 2);
    ci = i;
    cj = j;
    st = state;
    cost = mats[st][ci][cj].totalMsgLen;
  }
  fsastr.clear();
  while (!(ci == endI && cj == endJ)) {
    if (st < 0 || st > 2) corruptPath(fsastr, ci, cj, st);
    const dpcell_t& c = mats[st][ci][cj];
    fsastr.push_back(FSA_LETTERS[st]);
    if (st != STATE_I) ci += dir;  // M and D consume a residue of S
    if (st != STATE_D) cj += dir;  // M and I consume a residue of T
    st = c.prevState;
  }
  return cost;
}

}  // namespace

double threeStateDPAClass_t::traceback(std::string& fsastr, int32_t i, int32_t j, int32_t state) {
  const long nS = static_cast<long>(S.length()), nT = static_cast<long>(T.length());
  bool defaultStart = false;
  const double cost = walkPath(dpmat, fsastr, i, j, state, nS, nT, nS, nT, 0, 0, -1, defaultStart);
  std::reverse(fsastr.begin(), fsastr.end());
  if (!defaultStart) return cost;
  optAlignFSAstr = fsastr;
  return cost + paramMsgLen + wtCodeLen_nits(static_cast<int>(fsastr.length()));
}

double threeStateDPAClass_t::traceforward(std::string& fsastr, int32_t i, int32_t j, int32_t state) {
  const long nS = static_cast<long>(S.length()), nT = static_cast<long>(T.length());
  bool defaultStart = false;
  const double cost = walkPath(dpmat_cell2sink, fsastr, i, j, state, nS, nT, 0, 0, nS, nT, +1, defaultStart);
  if (!defaultStart) return cost;
  cell2sinkFSAstr = fsastr;
  return cost + wtCodeLen_nits(static_cast<int>(fsastr.length())) + paramMsgLen;
}

// ---------------------------------------------------------------------------
// Parameter estimation

double threeStateDPAClass_t::evalNegLogMatches_fullAlignment(std::string fsastr, std::vector<std::string> A, int n) {
  SC_CHECK(fsastr.length() == A.size());
  SC_CHECK(n > 0);
  SC_CHECK(n <= 1000);
  const SubmatClass_t model(n);
  const auto p = transitionsAt(model);
  double total = wtCodeLen_nits(static_cast<int>(fsastr.length())) + LN1000;
  int prev = -1;
  for (size_t l = 0; l < fsastr.length(); ++l) {
    const char x = A[l][0], y = A[l][1];
    const int st = stateOfLetter(fsastr[l]);
    switch (st) {
      case STATE_M:
        SC_CHECK(A[l][0] != '-' && A[l][1] != '-');
        total += -std::log(0.5 * (pnull(x) * model.pr(y, x) + pnull(y) * model.pr(x, y)));
        break;
      case STATE_D:
        SC_CHECK(A[l][0] != '-' && A[l][1] == '-');
        total += -std::log(pnull(x));
        break;
      case STATE_I:
        SC_CHECK(A[l][0] == '-' && A[l][1] != '-');
        total += -std::log(pnull(y));
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
      std::cout << c << " " << "Something wierd!" << "\n";
    }
  }
  auto cost = [&](int k) { return evalNegLogMatches_fullAlignment(fsastr, A, k); };

  // Bracketing search over 1..1000 with probes at the quarter points of the
  // shrinking bracket; once the two probes differ by less than 0.3 nits the
  // curve is flat there and the remaining bracket is scanned exhaustively.
  int lo = 1, hi = 1000;
  int bestK = -1;
  double bestCost = INF;
  int k1 = 251, k2 = 750;
  while (true) {
    const double f1 = cost(k1), f2 = cost(k2);
    if (std::fabs(f2 - f1) < 0.3) {
      for (int k = lo; k <= hi; ++k) {
        const double c = cost(k);
        if (c < bestCost) {
          bestK = k;
          bestCost = c;
        }
      }
      break;
    }
    if (f2 <= f1) {
      lo = k1;
      if (f2 < bestCost) {
        bestK = k2;
        bestCost = f2;
      }
    } else {
      hi = k2;
      if (f1 < bestCost) {
        bestK = k1;
        bestCost = f1;
      }
    }
    if (std::abs(k2 - k1) <= 1 || lo >= hi) break;
    const double d = (hi - lo) * 0.25;
    k1 = static_cast<int>(std::round(lo + d));
    k2 = static_cast<int>(std::round(hi - d));
  }
  // No distance with a finite cost: keep the current one.
  if (bestK != -1) pam.exp(bestK);
}

void threeStateDPAClass_t::estimate3StateMachineParams_dirichlet() {
  const auto p = transitionsAt(pam);
  for (int x : {STATE_M, STATE_I, STATE_D})
    for (int y : {STATE_M, STATE_I, STATE_D}) fsaPr[transKey(x, y)] = p[x][y];
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
      double bestL = INF;
      int bestK = pam.getK();
      for (auto it = seen; it != traced.end(); ++it) {
        estimateParams(*it);
        std::vector<std::string> cols;
        std::string s = *it;
        std::vector<std::string> rows = fsastr2Algn(s, S, T);
        for (size_t l = 0; l < s.size(); ++l) cols.push_back(std::string{rows[0][l], rows[1][l]});
        const double len = evalNegLogMatches_fullAlignment(s, cols, pam.getK());
        if (len < bestL) {
          bestL = len;
          bestA = s;
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
  std::cout << "Information measure:\n";
  std::cout << "I(" << getTerminalColorString("best-A", 46) << ",<S,T>)  = "
            << getTerminalColorString(fixed3(nits2bits(L)), 43) << " bits " << "\n";
  printFSAstr2Algn(optAlignFSAstr, S, T);
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
    if (x >= 0 && y >= 0) total += -std::log(fsaPr[transKey(x, y)]);
  }
  total += wtCodeLen_nits(static_cast<int>(fsastr.length())) + paramMsgLen;
  std::cout << "I(A)         = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(total) << " bits"
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
      total += -std::log(pnull(S[i++]));
    } else if (c == 'i') {
      SC_CHECK(j < T.length());
      total += -std::log(pnull(T[j++]));
    } else if (c == 'm') {
      SC_CHECK(i < S.length() && j < T.length());
      const char a = S[i++], b = T[j++];
      total += -std::log(0.5 * (pnull(a) * pam.pr(b, a) + pnull(b) * pam.pr(a, b)));
    } else {
      std::cout << c << " " << "Something wierd!" << "\n";
    }
  }
  std::cout << "I(<S,T>|A)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(total) << " bits"
            << "\n";
  return total;
}

void threeStateDPAClass_t::printJoints() {
  SC_CHECK(nullMdl.getOrder() == 0);
  const std::string alphabet = pam.getAlphabet();
  double total = 0;
  std::cout << std::fixed << std::setprecision(3);
  for (char b : alphabet) {
    double colSum = 0;
    for (char a : alphabet) {
      const double p1 = pam.pr(a, b) * pnull(b);
      const double p2 = pam.pr(b, a) * pnull(a);
      colSum += (p1 + p2) * 0.5;
      std::cout << "Delta Pr(" << a << "," << b << ") = " << std::setw(8) << p1 - p2 << "\n";
    }
    std::cout << "===> Pr(*," << b << ") = " << std::setw(8) << colSum << " " << pnull(b) << "\n";
    total += colSum;
  }
  std::cout << "Total prob = " << total << "\n";
}

// ---------------------------------------------------------------------------
// Marginal probability over all alignments

double threeStateDPAClass_t::computeTotalProbOfST(int K, bool verbose) {
  pam.exp(K);
  estimate3StateMachineParams_dirichlet();
  prepareCosts();
  const size_t nS = S.length(), nT = T.length();
  DPMatrix& M = dpmat[STATE_M];
  DPMatrix& D = dpmat[STATE_D];
  DPMatrix& I = dpmat[STATE_I];
  const DPMatrix* from[3] = {&M, &D, &I};

  M[0][0].fwdMsgLen = 0;
  D[1][0].fwdMsgLen = LN3 + gapCostS[0];
  for (size_t i = 2; i <= nS; ++i)
    D[i][0].fwdMsgLen = D[i - 1][0].fwdMsgLen + transCost[STATE_D][STATE_D] + gapCostS[i - 1];
  I[0][1].fwdMsgLen = LN3 + gapCostT[0];
  for (size_t j = 2; j <= nT; ++j)
    I[0][j].fwdMsgLen = I[0][j - 1].fwdMsgLen + transCost[STATE_I][STATE_I] + gapCostT[j - 1];

  // Interior: the optimal fill's recurrences with the minimum over the three
  // predecessors replaced by their log-space sum:
  //   F_M(i,j) = lse_X[ F_X(i-1,j-1) + trans(X->M) + match(S[i-1],T[j-1]) ]   (ln 3 at (1,1))
  //   F_D(i,j) = lse_X[ F_X(i-1,j)   + trans(X->D) + gap(S[i-1]) ]
  //   F_I(i,j) = lse_X[ F_X(i,j-1)   + trans(X->I) + gap(T[j-1]) ]
  for (size_t i = 1; i <= nS; ++i) {
    const auto& matchRow = matchCost[idxS[i - 1]];
    const double gapS = gapCostS[i - 1];
    for (size_t j = 1; j <= nT; ++j) {
      const double match = matchRow[idxT[j - 1]];
      const bool first = (i == 1 && j == 1);
      std::array<double, 3> v;
      for (int x = 0; x < 3; ++x) v[x] = (*from[x])[i - 1][j - 1].fwdMsgLen + (first ? LN3 : transCost[x][STATE_M]) + match;
      M[i][j].fwdMsgLen = findNeglogSum(v);
      for (int x = 0; x < 3; ++x) v[x] = (*from[x])[i - 1][j].fwdMsgLen + transCost[x][STATE_D] + gapS;
      D[i][j].fwdMsgLen = findNeglogSum(v);
      for (int x = 0; x < 3; ++x) v[x] = (*from[x])[i][j - 1].fwdMsgLen + transCost[x][STATE_I] + gapCostT[j - 1];
      I[i][j].fwdMsgLen = findNeglogSum(v);
    }
  }
  marginalProbMsgLen = findNeglogSum(std::array<double, 3>{M[nS][nT].fwdMsgLen, D[nS][nT].fwdMsgLen, I[nS][nT].fwdMsgLen}) +
                       LN1000 + wtCodeLen_nits(static_cast<int>(std::max(nS, nT)));
  if (verbose) {
    std::cout << "......................................" << std::endl;
    printParams();
    std::cout << "Information measure:\n";
    std::cout << "-log(" << getTerminalColorString("marginal probability", 46) << ") = I_marginal(<S,T>) = "
              << getTerminalColorString(fixed3(nits2bits(marginalProbMsgLen)), 43) << " bits." << std::endl;
  }
  return marginalProbMsgLen;
}

void threeStateDPAClass_t::computeTotalProbOfST_2sink(bool /*flag*/) {
  prepareCosts();
  const size_t nS = S.length(), nT = T.length();
  DPMatrix& M = dpmat[STATE_M];
  DPMatrix& D = dpmat[STATE_D];
  DPMatrix& I = dpmat[STATE_I];
  const DPMatrix* to[3] = {&M, &D, &I};

  M[nS][nT].bwdMsgLen = 0;
  D[nS - 1][nT].bwdMsgLen = LN3 + gapCostS[nS - 1];
  for (size_t i = nS - 1; i-- > 0;)
    D[i][nT].bwdMsgLen = D[i + 1][nT].bwdMsgLen + transCost[STATE_D][STATE_D] + gapCostS[i];
  I[nS][nT - 1].bwdMsgLen = LN3 + gapCostT[nT - 1];
  for (size_t j = nT - 1; j-- > 0;)
    I[nS][j].bwdMsgLen = I[nS][j + 1].bwdMsgLen + transCost[STATE_I][STATE_I] + gapCostT[j];

  // Interior, from the end backwards, over the state Y of the next column:
  //   G_M(i,j) = lse_Y[ G_Y(i+1,j+1) + trans(M->Y) + match(S[i],T[j]) ]   (ln 3 at (|S|-1,|T|-1))
  //   G_D(i,j) = lse_Y[ G_Y(i+1,j)   + trans(D->Y) + gap(S[i]) ]
  //   G_I(i,j) = lse_Y[ G_Y(i,j+1)   + trans(I->Y) + gap(T[j]) ]
  for (size_t i = nS; i-- > 0;) {
    const auto& matchRow = matchCost[idxS[i]];
    const double gapS = gapCostS[i];
    for (size_t j = nT; j-- > 0;) {
      const double match = matchRow[idxT[j]];
      const bool last = (i == nS - 1 && j == nT - 1);
      std::array<double, 3> v;
      for (int y = 0; y < 3; ++y) v[y] = (*to[y])[i + 1][j + 1].bwdMsgLen + (last ? LN3 : transCost[STATE_M][y]) + match;
      M[i][j].bwdMsgLen = findNeglogSum(v);
      for (int y = 0; y < 3; ++y) v[y] = (*to[y])[i + 1][j].bwdMsgLen + transCost[STATE_D][y] + gapS;
      D[i][j].bwdMsgLen = findNeglogSum(v);
      for (int y = 0; y < 3; ++y) v[y] = (*to[y])[i][j + 1].bwdMsgLen + transCost[STATE_I][y] + gapCostT[j];
      I[i][j].bwdMsgLen = findNeglogSum(v);
    }
  }
  marginalProbMsgLen_2sink =
      findNeglogSum(std::array<double, 3>{M[0][0].bwdMsgLen, D[0][0].bwdMsgLen, I[0][0].bwdMsgLen}) + LN1000 +
      wtCodeLen_nits(static_cast<int>(std::max(nS, nT)));
}

void threeStateDPAClass_t::searchTotalProbOfST() {
  std::cout << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
  int lo = 1, hi = 1000;
  double best = INF;
  int bestK = 1;
  int K1 = 251, K2 = 750;
  while (true) {
    const double cost1 = computeTotalProbOfST(K1, false);
    const double cost2 = computeTotalProbOfST(K2, false);
    if (cost2 > cost1) {
      if (best > cost1) {
        best = cost1;
        bestK = K1;
      }
      hi = K2;
    } else {
      if (best > cost2) {
        best = cost2;
        bestK = K2;
      }
      lo = K1;
    }
    if (std::abs(K2 - K1) <= 1 || lo >= hi) break;
    const double step = (hi - lo) * 0.25;
    K1 = static_cast<int>(std::round(lo + step));
    K2 = static_cast<int>(std::round(hi - step));
  }
  pam.exp(bestK);
  marginalProbMsgLen = computeTotalProbOfST(bestK, true);
  std::cout << "......................................    [OK]" << std::endl;

  std::cout << "Computing marginal probability landscape: " << std::flush;
  computeTotalProbOfST_2sink(false);
  printTotalFwdPlusBwd();
  std::cout << "[OK]\n";
  std::cout << "Landscape csv file written to:             "
            << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.csv", 43) << "\n";
  std::cout << "Landscape Matlab/octave script written to: "
            << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.m", 43) << "\n";
  if (criterion != "marginal-interactive") return;
  interactiveMode();
}

// ---------------------------------------------------------------------------
// Landscape

void threeStateDPAClass_t::printTotalFwdPlusBwd() {
  const size_t nS = S.length(), nT = T.length();
  const DPMatrix& M = dpmat[STATE_M];
  const DPMatrix& D = dpmat[STATE_D];
  const DPMatrix& I = dpmat[STATE_I];
  const DPMatrix* mats[3] = {&M, &D, &I};
  const double lengthCost = wtCodeLen_nits(static_cast<int>(std::max(nS, nT)));

  landscape.assign(nS + 1, std::vector<double>(nT + 1, 0.0));
  for (size_t i = 0; i <= nS; ++i) {
    for (size_t j = 0; j <= nT; ++j) {
      double v;
      if (i == 0 && j == 0) {
        v = findNeglogSum(std::array<double, 3>{M[0][0].bwdMsgLen, D[0][0].bwdMsgLen, I[0][0].bwdMsgLen}) + LN1000 +
            lengthCost;
      } else if (i == nS && j == nT) {
        v = findNeglogSum(std::array<double, 3>{M[nS][nT].fwdMsgLen, D[nS][nT].fwdMsgLen, I[nS][nT].fwdMsgLen}) +
            LN1000 + lengthCost;
      } else {
        // Paths through the cell: a column X ending here joined to a column Y
        // leaving it, in the order MM, DM, IM, MD, DD, ID, MI, DI, II. Each
        // half carries one end-column charge of ln 3; one is taken back.
        std::array<double, 9> terms;
        int t = 0;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 3; ++x)
            terms[t++] = (*mats[x])[i][j].fwdMsgLen + transCost[x][y] + (*mats[y])[i][j].bwdMsgLen;
        v = findNeglogSum(terms) + LN1000 + lengthCost - LN3;
      }
      landscape[i][j] = v;
    }
  }

  const std::string csvName = outPrefix + "_MarginalProbabilityLandscape.csv";
  const std::string mName = outPrefix + "_MarginalProbabilityLandscape.m";
  std::ofstream out(csvName);
  if (!out) fatalError("cannot write landscape file '" + csvName + "': " + std::strerror(errno));
  std::ofstream outm(mName);
  if (!outm) fatalError("cannot write landscape script '" + mName + "': " + std::strerror(errno));
  out << std::fixed << std::setprecision(2);
  outm << std::fixed << std::setprecision(2) << std::right;
  outm << "M  = [";
  for (size_t i = 0; i <= nS; ++i) {
    for (size_t j = 0; j <= nT; ++j) {
      const double bits = nits2bits(landscape[i][j]);
      out << bits;
      if (j != nT) out << ",";
      outm << std::setw(8) << bits;
    }
    outm << (i == nS ? "];\nimagesc(M);\n" : ";\n");
    out << "\n";
  }
  out.close();
  outm.close();
  if (!out) fatalError("cannot write landscape file '" + csvName + "'");
  if (!outm) fatalError("cannot write landscape script '" + mName + "'");
}

// ---------------------------------------------------------------------------
// Alignments through a chosen cell

void threeStateDPAClass_t::fillDPMatrices_cell2sink() {
  prepareCosts();
  const size_t nS = S.length(), nT = T.length();
  DPMatrix& M = dpmat_cell2sink[STATE_M];
  DPMatrix& D = dpmat_cell2sink[STATE_D];
  DPMatrix& I = dpmat_cell2sink[STATE_I];

  for (DPMatrix* mat : {&M, &D, &I}) {
    dpcell_t& c = (*mat)[nS][nT];
    c.transMsgLen = c.emitMsgLen = c.totalMsgLen = 0;
  }
  // Column |T|: only deletes remain. D[i][|T|] extends D[i+1][|T|].
  for (size_t i = nS; i-- > 0;) {
    const dpcell_t& n = D[i + 1][nT];
    dpcell_t& c = D[i][nT];
    c.transMsgLen = n.transMsgLen + (i == nS - 1 ? LN3 : transCost[STATE_D][STATE_D]);
    c.emitMsgLen = n.emitMsgLen + gapCostS[i];
    c.totalMsgLen = c.transMsgLen + c.emitMsgLen;
    c.nColumns = n.nColumns + 1;
    c.prevState = STATE_D;
  }
  // Row |S|: only inserts remain. I[|S|][j] extends I[|S|][j+1].
  for (size_t j = nT; j-- > 0;) {
    const dpcell_t& n = I[nS][j + 1];
    dpcell_t& c = I[nS][j];
    c.transMsgLen = n.transMsgLen + (j == nT - 1 ? LN3 : transCost[STATE_I][STATE_I]);
    c.emitMsgLen = n.emitMsgLen + gapCostT[j];
    c.totalMsgLen = c.transMsgLen + c.emitMsgLen;
    c.nColumns = n.nColumns + 1;
    c.prevState = STATE_I;
  }

  // Interior, from the end backwards; the cell of state X at (i, j) takes the
  // cheapest continuation over the state Y of the next column (M, D, I):
  //   M[i][j] <- Y[i+1][j+1] + trans(M->Y) + match(S[i], T[j])   (ln 3 at (|S|-1,|T|-1))
  //   D[i][j] <- Y[i+1][j]   + trans(D->Y) + gap(S[i])
  //   I[i][j] <- Y[i][j+1]   + trans(I->Y) + gap(T[j])
  // prevState records Y, the state that follows.
  const DPMatrix* to[3] = {&M, &D, &I};
  const double endStep[3] = {LN3, LN3, LN3};
  double outOfM[3], outOfD[3], outOfI[3];
  for (int y = 0; y < 3; ++y) {
    outOfM[y] = transCost[STATE_M][y];
    outOfD[y] = transCost[STATE_D][y];
    outOfI[y] = transCost[STATE_I][y];
  }
  for (size_t i = nS; i-- > 0;) {
    const auto& matchRow = matchCost[idxS[i]];
    const double gapS = gapCostS[i];
    for (size_t j = nT; j-- > 0;) {
      const double match = matchRow[idxT[j]];
      const bool last = (i == nS - 1 && j == nT - 1);
      relaxCell(to, i + 1, j + 1, last ? endStep : outOfM, match, 1, M[i][j]);
      relaxCell(to, i + 1, j, outOfD, gapS, 0, D[i][j]);
      relaxCell(to, i, j + 1, outOfI, gapCostT[j], 0, I[i][j]);
    }
  }
  const dpcell_t& best = findMin(M[0][0], D[0][0], I[0][0]);
  optAlignMsgLen_cell2sink = best.totalMsgLen + paramMsgLen + wtCodeLen_nits(static_cast<int>(best.nColumns));
}

std::string threeStateDPAClass_t::printAlignmentThroughCell(int i, int j) {
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  std::string chosen;
  double cost;
  if (i == 0 && j == 0) {
    cost = traceforward(chosen, -1, -1, -1);
  } else if (i == nS && j == nT) {
    cost = traceback(chosen, -1, -1, -1);
  } else {
    std::vector<std::string> fsas;
    std::vector<double> costs;
    // (X, Y): X the state of the column that ends at the cell, Y that of the
    // column that leaves it.
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const double pre = dpmat[x][i][j].totalMsgLen;
        const double suf = dpmat_cell2sink[y][i][j].totalMsgLen;
        std::string joined;
        double c = INF;
        if (!std::isinf(pre) && !std::isinf(suf)) {
          std::string prefix, suffix;
          traceback(prefix, i, j, x);
          traceforward(suffix, i, j, y);
          joined = prefix + suffix;
          c = pre + transCost[x][y] + suf - LN3 + paramMsgLen + wtCodeLen_nits(static_cast<int>(joined.length()));
        }
        fsas.push_back(joined);
        costs.push_back(c);
      }
    }
    SC_CHECK(fsas.size() == 9);
    int min_indx = -1;
    cost = findMinAndArgMinInArray(costs, min_indx);
    SC_CHECK(min_indx >= 0 && min_indx <= 8);
    chosen = fsas[min_indx];
  }
  std::cout << "         For the alignment A (printed below) passing through the cell (" << i << "," << j << "):\n";
  std::cout << "          I(A,<S,T>) = " << nits2bits(cost) << " bits.\n";
  std::cout << "         Over all alignments passing through the the cell (" << i << "," << j << "):\n";
  std::cout << "          -log(marginal) = " << nits2bits(landscape[i][j]) << " bits.\n";
  return chosen;
}

// ---------------------------------------------------------------------------
// Interactive mode

namespace {

// Reads one line from standard input; false at the end of input.
bool readLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

}  // namespace

void threeStateDPAClass_t::saveAlignment(const std::vector<std::string>& rows) {
  char stamp[80];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "_%F_%H%M%S", std::localtime(&now));
  const std::string base = outPrefix + stamp;
  std::string name = base + ".afasta";
  // Two saves within one second must not share a name: number the later ones.
  for (int n = 2; std::find(savedFiles.begin(), savedFiles.end(), name) != savedFiles.end(); ++n)
    name = base + "_" + std::to_string(n) + ".afasta";
  writeAfastaFile(name, rows);
  savedFiles.push_back(name);
  std::cout << "Alignment fasta (afasta) file written to:  " << name << std::endl;
}

void threeStateDPAClass_t::interactiveMode() {
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  std::cout << "\n.....Entering interactive mode........     " << std::endl;
  std::cout << "(This mode allows you to specify a" << getTerminalColorString("cell (i,j)", 41) << "and it prints\n"
            << " out the best alignment passing through the cell within the\n"
            << " marginal probability landscape)\n";
  estimateParams("");
  fillDPMatrices();
  fillDPMatrices_cell2sink();

  std::string line;
  while (true) {
    std::cout << "\n\nPick any cell" << getTerminalColorString("(i,j)", 41) << "in the landscape:\n";
    int i = 0, j = 0;
    while (true) {
      std::cout << "    Enter index i followed by space followed by j: " << std::flush;
      if (!readLine(line)) {
        std::cout << "\n";
        return;  // end of input: leave the mode
      }
      std::istringstream in(line);
      const bool ok = static_cast<bool>(in >> i >> j);
      if (ok && i >= 0 && i <= nS && j >= 0 && j <= nT) break;
      std::cout << "Wrong index(es): index-i should be between 0 and " << nS << " (inclusive)\n"
                << "Wrong index(es): index-j should be between 0 and " << nT << " (inclusive)\n"
                << "Try again\n";
    }
    std::cout << "        Cell (" << i << "," << j << ") has been selected\n\n";
    const std::string fsastr = printAlignmentThroughCell(i, j);
    const std::vector<std::string> rows = fsastr2Algn(fsastr, S, T);
    printFSAstr2Algn(fsastr, S, T);
    std::cout << "\n\n";

    std::cout << "What next? (choose one of the following options)\n";
    int option = 0;
    while (true) {
      std::cout << "  [1] continue and pick another cell\n"
                << "  [2] save alignment and exit\n"
                << "  [3] save alignment and continue\n"
                << "  [4] exit interactive mode\n"
                << "Enter option [ ]\b\b" << std::flush;
      if (!readLine(line)) {
        std::cout << "\n";
        return;  // end of input: leave without saving, as option 4
      }
      std::istringstream in(line);
      if (in >> option && option >= 1 && option <= 4) break;
      std::cout << "\n";
    }
    if (option == 4) return;
    if (option == 2 || option == 3) saveAlignment(rows);
    if (option == 2) return;
  }
}
