#include "dialogue.h"

#include <algorithm>
#include <ctime>
#include <sstream>

#include "seqcorvane/io.h"
#include "terminal.h"

using seqcorvane::nits2bits;

namespace {

// Saves an alignment as <prefix>_<date>_<time>.afasta; two saves within one
// second do not share a name: the later ones are numbered.
void saveAlignment(std::ostream& out, const std::vector<std::string>& rows, const std::string& outPrefix,
                   std::vector<std::string>& savedFiles) {
  char stamp[80];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "_%F_%H%M%S", std::localtime(&now));
  const std::string base = outPrefix + stamp;
  std::string name = base + ".afasta";
  for (int n = 2; std::find(savedFiles.begin(), savedFiles.end(), name) != savedFiles.end(); ++n)
    name = base + "_" + std::to_string(n) + ".afasta";
  seqcorvane::writeAfastaFile(name, rows);
  savedFiles.push_back(name);
  out << "Alignment fasta (afasta) file written to:  " << name << std::endl;
}

}  // namespace

void interactiveMode(std::ostream& out, std::istream& in, const seqcorvane::AlignResult& r,
                     const seqcorvane::Models& models, const std::vector<double>& landscape,
                     const std::string& outPrefix, const seqcorvane::AlignConfig& config) {
  const std::string& S = r.s.residues;
  const std::string& T = r.t.residues;
  const int nS = static_cast<int>(S.length()), nT = static_cast<int>(T.length());
  out << "\n.....Entering interactive mode........     " << std::endl;
  out << "(This mode allows you to specify a" << getTerminalColorString("cell (i,j)", 41) << "and it prints\n"
      << " out the best alignment passing through the cell within the\n"
      << " marginal probability landscape)\n";
  // Under the automatic choice, the paths of the hypothesis the landscape is of.
  seqcorvane::AlignConfig under = config;
  if (under.mode == seqcorvane::Hypothesis::automatic) under.mode = r.hypothesis.sent;
  const seqcorvane::CellPaths paths(r.s, r.t, models, r.parameters.K, under);
  std::vector<std::string> savedFiles;

  // One line of input; false at its end, which leaves the mode.
  std::string line;
  auto readLine = [&] { return static_cast<bool>(std::getline(in, line)); };
  while (true) {
    out << "\n\nPick any cell" << getTerminalColorString("(i,j)", 41) << "in the landscape:\n";
    int i = 0, j = 0;
    while (true) {
      out << "    Enter index i followed by space followed by j: " << std::flush;
      if (!readLine()) {
        out << "\n";
        return;
      }
      std::istringstream fields(line);
      const bool ok = static_cast<bool>(fields >> i >> j);
      if (ok && i >= 0 && i <= nS && j >= 0 && j <= nT) break;
      out << "Wrong index(es): index-i should be between 0 and " << nS << " (inclusive)\n"
          << "Wrong index(es): index-j should be between 0 and " << nT << " (inclusive)\n"
          << "Try again\n";
    }
    out << "        Cell (" << i << "," << j << ") has been selected\n\n";
    seqcorvane::CellPaths::Through best;
    try {
      best = paths.best(static_cast<size_t>(i), static_cast<size_t>(j));
    } catch (const seqcorvane::Error& e) {  // a cell no local alignment passes
      out << "         " << e.what() << "\n";
      continue;
    }
    out << "         For the alignment A (printed below) passing through the cell (" << i << "," << j << "):\n";
    out << "          I(A,<S,T>) = " << nits2bits(best.msgLen) << " bits.\n";
    out << "         Over all alignments passing through the the cell (" << i << "," << j << "):\n";
    out << "          -log(marginal) = " << nits2bits(landscape.at(static_cast<size_t>(i) * (T.size() + 1) + j))
        << " bits.\n";
    const std::vector<std::string> rows = seqcorvane::pathRows(best.path, S, T);
    printFSAstr2Algn(best.path, S, T, out);
    out << "\n\n";

    out << "What next? (choose one of the following options)\n";
    int option = 0;
    while (true) {
      out << "  [1] continue and pick another cell\n"
          << "  [2] save alignment and exit\n"
          << "  [3] save alignment and continue\n"
          << "  [4] exit interactive mode\n"
          << "Enter option [ ]\b\b" << std::flush;
      if (!readLine()) {
        out << "\n";
        return;  // end of input: leave without saving, as option 4
      }
      std::istringstream fields(line);
      if (fields >> option && option >= 1 && option <= 4) break;
      out << "\n";
    }
    if (option == 4) return;
    if (option == 2 || option == 3) saveAlignment(out, rows, outPrefix, savedFiles);
    if (option == 2) return;
  }
}
