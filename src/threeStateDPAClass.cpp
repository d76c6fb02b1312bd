// The machine's construction, parameters and report, and the log-space sum
// and minimum helpers.
#include "threeStateDPAClass.h"

#include <algorithm>
#include <iomanip>

#include "check.h"
#include "misc.h"

// ---------------------------------------------------------------------------
// Log-space sums and minima

double findNeglogSum(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return neglogSumOfSorted(v.data(), v.size());
}

template <size_t N>
double findNeglogSum(std::array<double, N> v) {
  // Insertion sort: for so few entries the quickest, and the sorted result
  // is the same whatever the sort.
  for (size_t k = 1; k < N; ++k) {
    const double x = v[k];
    size_t q = k;
    for (; q > 0 && x < v[q - 1]; --q) v[q] = v[q - 1];
    v[q] = x;
  }
  return neglogSumOfSorted(v.data(), N);
}
template double findNeglogSum<3>(std::array<double, 3>);
template double findNeglogSum<9>(std::array<double, 9>);

dpcell_t findMin(const std::vector<dpcell_t>& cells) {
  SC_CHECK(cells.size() >= 3);
  const dpcell_t* best = &cells[0];
  if (best->totalMsgLen > cells[1].totalMsgLen) best = &cells[1];
  if (best->totalMsgLen > cells[2].totalMsgLen) best = &cells[2];
  return *best;
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
                                           SubmatClass_t& pam_, std::string criterion_, std::string outPrefix_,
                                           std::ostream& out_, std::istream& in_)
    : S(S_),
      T(T_),
      nullMdl(nullMdl_),
      pam(pam_),
      criterion(std::move(criterion_)),
      outPrefix(std::move(outPrefix_)),
      out(&out_),
      in(&in_) {
  const size_t nS = S.length(), nT = T.length();
  SC_CHECK(nS > 0);
  SC_CHECK(nT > 0);
  pnull = nullProbsOf(nullMdl, pam.getAlphabet());
  init();
  if (criterion == "optimal") {
    *out << "-------------------" << getTerminalColorString("EVALUATING OPTIMAL ALIGNMENT", 45)
         << "------------------\n";
    EM();
  } else if (criterion == "marginal" || criterion == "marginal-interactive") {
    *out << "------------" << getTerminalColorString("EVALUATING MARGINAL PROBABILITY LANDSCAPE", 45)
         << "------------\n";
    searchTotalProbOfST();
  } else if (criterion == "posterior") {
    *out << "------------------" << getTerminalColorString("EVALUATING POSTERIOR ALIGNMENT", 45)
         << "-----------------\n";
    runPosterior();
  }
  *out << "-----------------------------------------------------------------\n\n";
}

threeStateDPAClass_t::threeStateDPAClass_t(std::string& S_, std::string& T_, std::string& fsastr,
                                           nullModelClass_t& nullMdl_, SubmatClass_t& pam_, std::ostream& out_)
    : S(S_), T(T_), nullMdl(nullMdl_), pam(pam_), out(&out_), in(&std::cin) {
  const size_t nS = S.length(), nT = T.length();
  SC_CHECK(nS > 0);
  SC_CHECK(nT > 0);
  pnull = nullProbsOf(nullMdl, pam.getAlphabet());
  initParams();
  paramMsgLen = 0;
  estimateSubmatParam(fsastr);
  estimateParams(fsastr);
  printParams();
  const double IA = fsa2IA(fsastr);
  const double ISTgA = fsa2ISTgA(fsastr);
  optAlignMsgLen = IA + ISTgA;
  *out << "I(A,<S,T>)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(optAlignMsgLen)
       << " bits" << "\n";
}

threeStateDPAClass_t::~threeStateDPAClass_t() = default;

double threeStateDPAClass_t::bytesNeeded(size_t nS, size_t nT, const std::string& criterion) {
  const double cells = static_cast<double>(nS + 1) * static_cast<double>(nT + 1);
  // Rolling rows, cost tables and sequences: a few hundred bytes per residue.
  const double rows = 512.0 * static_cast<double>(nS + nT + 2);
  double perCell = 1;  // optimal: one byte of trace codes
  if (criterion == "marginal") perCell = 3 * sizeof(double);
  if (criterion == "marginal-interactive") perCell = 2 * (3 * sizeof(double) + 1) + sizeof(double);
  // posterior: the pair posterior of every cell and one byte of the decoding's choices
  if (criterion == "posterior") perCell = sizeof(float) + 1;
  return perCell * cells + rows;
}

void threeStateDPAClass_t::init() {
  // The per-cell storage is allocated by the passes that need it.
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

// The fills overwrite every cell they use, so nothing needs clearing; the
// codes of the last fill are marked stale so that no later trace reads them.
void threeStateDPAClass_t::resetDPMatrices() { fwdFilled = false; }

void threeStateDPAClass_t::printParams() {
  *out << "Inferred params ";
  if (criterion == "optimal")
    *out << "(biased estimates for a single best alignment):\n";
  else
    *out << "(unbaised estimates over all alignments):\n";
  *out << "SeqDist n = " << std::setw(3) << pam.getK() << "\n";
  *out << std::fixed;
  for (const auto& kv : fsaPr) *out << "Pr(" << kv.first << ") = " << std::setprecision(3) << std::setw(6) << kv.second << std::endl;
  *out << "\n";
}

CostTable threeStateDPAClass_t::costs() const {
  CostTable c = makeCostTable(S, T, pnull, pam, fsaPr);
  if (!siteRates.empty()) averageMatchOverRates(c, pam, pnull, siteRates);
  return c;
}

void threeStateDPAClass_t::corruptPath(const TraceWalk& w) {
  *out << "Wierd!\n" << w.letters << "\n" << w.i << " " << w.j << " in State " << w.state << "\n";
  out->flush();
  fatalError("alignment trace met a cell without predecessor at (" + std::to_string(w.i) + "," +
             std::to_string(w.j) + ") in state " + std::to_string(w.state));
}
