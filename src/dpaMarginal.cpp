// The marginal probability over all alignments: the forward and to-sink
// sums, the search for the distance of least marginal message length, and
// the landscape of marginal probabilities through every cell.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iomanip>

#include "check.h"
#include "distanceSearch.h"
#include "misc.h"
#include "outputFiles.h"
#include "parallel.h"
#include "threeStateDPAClass.h"

namespace {

// How far a cost of the fast summed pass may lie from the exact pass's: a
// relative 2e-12 and an absolute 1e-9 nits. The differences measured on
// thousands of pairs of up to 3,000 residues stay below a relative 1e-13.
constexpr double FAST_SUM_RELATIVE_MARGIN = 2e-12;
constexpr double FAST_SUM_ABSOLUTE_MARGIN = 1e-9;
double fastSumMargin(double cost) { return FAST_SUM_RELATIVE_MARGIN * std::fabs(cost) + FAST_SUM_ABSOLUTE_MARGIN; }

// The code length of the longer sequence's length, which every sum over
// whole paths adds after the cost of K.
double lengthMsgLen(size_t nS, size_t nT) { return wtCodeLen_nits(static_cast<int>(std::max(nS, nT))); }

}  // namespace

double threeStateDPAClass_t::forwardSum(const SumRowVisitor& visit) {
  const std::array<double, 3> end = sumAllPaths(costs(), nullptr, visit);
  marginalProbMsgLen = findNeglogSum(end) + LN1000 + lengthMsgLen(S.size(), T.size());
  return marginalProbMsgLen;
}

double threeStateDPAClass_t::computeTotalProbOfST(int K, bool verbose) {
  pam.exp(K);
  estimate3StateMachineParams_dirichlet();
  forwardSum({});
  if (verbose) printMarginalReport();
  return marginalProbMsgLen;
}

void threeStateDPAClass_t::printMarginalReport() {
  *out << "......................................" << std::endl;
  printParams();
  *out << "Information measure:\n";
  *out << "-log(" << getTerminalColorString("marginal probability", 46) << ") = I_marginal(<S,T>) = "
       << getTerminalColorString(formatFixed(nits2bits(marginalProbMsgLen), 3), 43) << " bits." << std::endl;
}

void threeStateDPAClass_t::computeTotalProbOfST_2sink(bool /*flag*/) {
  // The sums from every cell to the sink are the forward sums of the
  // reversed pair; they are kept for the landscape.
  const std::array<double, 3> end = sumAllPaths(reversedForSink(costs()), &sinkSums);
  marginalProbMsgLen_2sink = findNeglogSum(end) + LN1000 + lengthMsgLen(S.size(), T.size());
}

CostTable threeStateDPAClass_t::costsAt(int K) const {
  SubmatClass_t model = pam;
  model.exp(K);
  std::map<std::string, double> probs;
  const TransitionTable p = modelTransitions(model);
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) probs[transitionKey(x, y)] = p[x][y];
  CostTable c = makeCostTable(S, T, pnull, model, probs);
  if (!siteRates.empty()) averageMatchOverRates(c, model, pnull, siteRates);
  return c;
}

double threeStateDPAClass_t::marginalMsgLenAt(int K, bool exact) const {
  const CostTable c = costsAt(K);
  const double sum = exact ? findNeglogSum(sumAllPaths(c)) : sumAllPathsFast(c);
  return sum + LN1000 + lengthMsgLen(S.size(), T.size());
}

int threeStateDPAClass_t::searchMarginalDistance(bool writeLandscape) {
  // The passes of the search sum in probability space, many times faster;
  // wherever two of their costs lie too close to tell apart, the exact
  // log-space costs decide, so the chosen distance is the exact search's.
  // The two probes of a step run at once.
  const DistanceCosts exact = [&](const std::vector<int>& ks) {
    return mapInParallel(ks, [&](int k) { return marginalMsgLenAt(k, true); });
  };
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) { return mapInParallel(ks, [&](int k) { return marginalMsgLenAt(k, false); }); },
      exact, fastSumMargin);
  int bestK = r.bestK != 0 ? r.bestK : 1;  // no finite cost at all: K stays 1

  // The parameters of the chosen distance and its exact marginal message
  // length; with the landscape, from the sums to the sink and then the
  // forward sums, whose rows complete the landscape one by one.
  auto settle = [&](int K) {
    pam.exp(K);
    estimate3StateMachineParams_dirichlet();
    if (writeLandscape) {
      computeTotalProbOfST_2sink(false);
      printTotalFwdPlusBwd();
    } else {
      forwardSum({});
    }
  };
  settle(bestK);
  // The exact pass at the chosen distance checks the fast ones: should they
  // disagree there, the search runs again on exact passes alone.
  if (r.bestK != 0 && std::isfinite(marginalProbMsgLen) &&
      !(std::fabs(r.bestCost - marginalProbMsgLen) <= fastSumMargin(marginalProbMsgLen))) {
    const DistanceSearchResult e = searchDistance(exact, false);
    const int k = e.bestK != 0 ? e.bestK : 1;
    if (k != bestK) settle(bestK = k);
  }
  return bestK;
}

void threeStateDPAClass_t::searchTotalProbOfST() {
  *out << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
  searchMarginalDistance(true);
  printMarginalReport();
  *out << "......................................    [OK]" << std::endl;
  *out << "Computing marginal probability landscape: " << std::flush;
  *out << "[OK]\n";
  *out << "Landscape csv file written to:             "
       << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.csv", 43) << "\n";
  *out << "Landscape Matlab/octave script written to: "
       << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.m", 43) << "\n";
  if (criterion != "marginal-interactive") return;
  interactiveMode();
}

void threeStateDPAClass_t::printTotalFwdPlusBwd() {
  SC_CHECK(!sinkSums.empty());
  const size_t nS = S.size(), nT = T.size();
  const double lengthCost = lengthMsgLen(nS, nT);
  const TransitionTable trans = transitionCosts(fsaPr);
  if (keepTotals()) landscape.assign((nS + 1) * (nT + 1), 0.0);

  OutputFile csv(outPrefix + "_MarginalProbabilityLandscape.csv");
  OutputFile script(outPrefix + "_MarginalProbabilityLandscape.m");
  script.write("M  = [");
  // One row of each file, written in place: at most 330 characters a value.
  std::vector<char> csvLine((nT + 1) * 332 + 32), scriptLine((nT + 1) * 332 + 32);
  // Every path passes through (0, 0) and (|S|, |T|): there the landscape is
  // the marginal message length of the pair. At any other cell, the paths
  // through it are a column X ending there joined to a column Y leaving it,
  // in the order MM, DM, IM, MD, DD, ID, MI, DI, II:
  //   L(i,j) = lse_{X,Y}[ F_X(i,j) + trans(X->Y) + G_Y(i,j) ] + ln 1000 + wtCodeLen(max(|S|,|T|)) - ln 3
  // (each half carries one end-column charge of ln 3; one is taken back).
  // G_Y(i,j) is kept at (|S| - i, |T| - j) of the reversed frame.
  auto row = [&](const SumRow& f) {
    const size_t i = f.i;
    const double* g[3];
    for (int y = 0; y < 3; ++y) g[y] = sinkSums.row(y, nS - i);
    char* c = csvLine.data();
    char* m = scriptLine.data();
    for (size_t j = 0; j <= nT; ++j) {
      const size_t gj = nT - j;
      double v;
      if (i == 0 && j == 0) {
        v = findNeglogSum(std::array<double, 3>{g[0][gj], g[1][gj], g[2][gj]}) + LN1000 + lengthCost;
      } else if (i == nS && j == nT) {
        v = findNeglogSum(std::array<double, 3>{f.sum[0][j], f.sum[1][j], f.sum[2][j]}) + LN1000 + lengthCost;
      } else {
        std::array<double, 9> terms;
        int t = 0;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 3; ++x) terms[t++] = f.sum[x][j] + trans[x][y] + g[y][gj];
        v = findNeglogSum(terms) + LN1000 + lengthCost - LN3;
      }
      if (!landscape.empty()) landscape[i * (nT + 1) + j] = v;
      // The table: the values separated by commas; the script: each value
      // after a blank, right-aligned in 8 characters (a value of 10,000 bits
      // or more fills the field, and the blank still parts it from the last).
      char* const start = c;
      c = writeFixed2(c, nits2bits(v));
      const size_t width = static_cast<size_t>(c - start);
      *m++ = ' ';
      for (size_t pad = width; pad < 8; ++pad) *m++ = ' ';
      std::memcpy(m, start, width);
      m += width;
      if (j != nT) *c++ = ',';
    }
    *c++ = '\n';
    const char* rowEnd = i == nS ? "];\nimagesc(M);\n" : ";\n";
    const size_t endLen = std::strlen(rowEnd);
    std::memcpy(m, rowEnd, endLen);
    m += endLen;
    csv.write(csvLine.data(), static_cast<size_t>(c - csvLine.data()));
    script.write(scriptLine.data(), static_cast<size_t>(m - scriptLine.data()));
  };
  forwardSum(row);
  csv.commit();
  script.commit();
  sinkSums.release();
}
