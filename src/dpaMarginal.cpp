// The marginal probability over all alignments: the forward and to-sink
// sums, the search for the distance of least marginal message length, and
// the landscape of marginal probabilities through every cell.
#include <algorithm>
#include <charconv>
#include <iomanip>

#include "check.h"
#include "distanceSearch.h"
#include "misc.h"
#include "outputFiles.h"
#include "threeStateDPAClass.h"

namespace {

// The code length of the longer sequence's length, which every sum over
// whole paths adds after the cost of K.
double lengthMsgLen(size_t nS, size_t nT) { return wtCodeLen_nits(static_cast<int>(std::max(nS, nT))); }

// Appends x with two decimals.
void appendFixed2(std::string& text, double x) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 2);
  text.append(buf, r.ptr);
}

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

void threeStateDPAClass_t::searchTotalProbOfST() {
  *out << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
  const DistanceSearchResult r = searchDistance(
      [&](const std::vector<int>& ks) {
        std::vector<double> c;
        for (int k : ks) c.push_back(computeTotalProbOfST(k, false));
        return c;
      },
      false);
  const int bestK = r.bestK != 0 ? r.bestK : 1;  // no finite cost at all: K stays 1

  // At the chosen distance: the sums to the sink, then the forward sums,
  // whose rows complete the landscape one by one as they are computed.
  pam.exp(bestK);
  estimate3StateMachineParams_dirichlet();
  computeTotalProbOfST_2sink(false);
  printTotalFwdPlusBwd();
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
  std::string csvLine, scriptLine;
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
    csvLine.clear();
    scriptLine.clear();
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
      const double bits = nits2bits(v);
      const size_t before = csvLine.size();
      appendFixed2(csvLine, bits);
      const size_t width = csvLine.size() - before;
      if (width < 8) scriptLine.append(8 - width, ' ');
      scriptLine.append(csvLine, before, width);
      if (j != nT) csvLine += ',';
    }
    csvLine += '\n';
    scriptLine += (i == nS ? "];\nimagesc(M);\n" : ";\n");
    csv.write(csvLine);
    script.write(scriptLine);
  };
  forwardSum(row);
  csv.commit();
  script.commit();
  sinkSums.release();
}
