// The best alignment through a chosen cell, and the interactive mode that
// lets the user pick cells, see their alignments and save them.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <sstream>

#include "check.h"
#include "misc.h"
#include "threeStateDPAClass.h"

std::string threeStateDPAClass_t::printAlignmentThroughCell(int i, int j) {
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  std::string chosen;
  double cost;
  if (i == 0 && j == 0) {
    cost = traceforward(chosen, -1, -1, -1);
  } else if (i == nS && j == nT) {
    cost = traceback(chosen, -1, -1, -1);
  } else {
    // Nine ways through the cell: the best path from the start whose last
    // column X ends at the cell, joined by the transition X->Y to the best
    // path to the end whose first column Y leaves it, in the order MM, DM,
    // IM, MD, DD, ID, MI, DI, II; each half carries one end-column charge of
    // ln 3, one is taken back. A half that no path takes is not traced.
    const TransitionTable trans = transitionCosts(fsaPr);
    std::vector<std::string> fsas;
    std::vector<double> costs;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const double pre = fwdTotals.at(x, static_cast<size_t>(i), static_cast<size_t>(j));
        const double suf = sinkTotals.at(y, static_cast<size_t>(nS - i), static_cast<size_t>(nT - j));
        std::string joined;
        double c = std::numeric_limits<double>::infinity();
        if (!std::isinf(pre) && !std::isinf(suf)) {
          std::string prefix, suffix;
          traceback(prefix, i, j, x);
          traceforward(suffix, i, j, y);
          joined = prefix + suffix;
          c = pre + trans[x][y] + suf - LN3 + paramMsgLen + wtCodeLen_nits(static_cast<int>(joined.length()));
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
  *out << "         For the alignment A (printed below) passing through the cell (" << i << "," << j << "):\n";
  *out << "          I(A,<S,T>) = " << nits2bits(cost) << " bits.\n";
  *out << "         Over all alignments passing through the the cell (" << i << "," << j << "):\n";
  *out << "          -log(marginal) = " << nits2bits(landscapeAt(i, j)) << " bits.\n";
  return chosen;
}

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
  *out << "Alignment fasta (afasta) file written to:  " << name << std::endl;
}

void threeStateDPAClass_t::interactiveMode() {
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  *out << "\n.....Entering interactive mode........     " << std::endl;
  *out << "(This mode allows you to specify a" << getTerminalColorString("cell (i,j)", 41) << "and it prints\n"
       << " out the best alignment passing through the cell within the\n"
       << " marginal probability landscape)\n";
  estimateParams("");
  fillDPMatrices();
  fillDPMatrices_cell2sink();

  // One line of input; false at its end, which leaves the mode.
  std::string line;
  auto readLine = [&] { return static_cast<bool>(std::getline(*in, line)); };
  while (true) {
    *out << "\n\nPick any cell" << getTerminalColorString("(i,j)", 41) << "in the landscape:\n";
    int i = 0, j = 0;
    while (true) {
      *out << "    Enter index i followed by space followed by j: " << std::flush;
      if (!readLine()) {
        *out << "\n";
        return;
      }
      std::istringstream fields(line);
      const bool ok = static_cast<bool>(fields >> i >> j);
      if (ok && i >= 0 && i <= nS && j >= 0 && j <= nT) break;
      *out << "Wrong index(es): index-i should be between 0 and " << nS << " (inclusive)\n"
           << "Wrong index(es): index-j should be between 0 and " << nT << " (inclusive)\n"
           << "Try again\n";
    }
    *out << "        Cell (" << i << "," << j << ") has been selected\n\n";
    const std::string fsastr = printAlignmentThroughCell(i, j);
    const std::vector<std::string> rows = fsastr2Algn(fsastr, S, T);
    printFSAstr2Algn(fsastr, S, T, *out);
    *out << "\n\n";

    *out << "What next? (choose one of the following options)\n";
    int option = 0;
    while (true) {
      *out << "  [1] continue and pick another cell\n"
           << "  [2] save alignment and exit\n"
           << "  [3] save alignment and continue\n"
           << "  [4] exit interactive mode\n"
           << "Enter option [ ]\b\b" << std::flush;
      if (!readLine()) {
        *out << "\n";
        return;  // end of input: leave without saving, as option 4
      }
      std::istringstream fields(line);
      if (fields >> option && option >= 1 && option <= 4) break;
      *out << "\n";
    }
    if (option == 4) return;
    if (option == 2 || option == 3) saveAlignment(rows);
    if (option == 2) return;
  }
}
