// seqcorvane-posteriorsweep: the posterior criterion's local and automatic
// alignments of each pair at several weights of a residue left unpaired in
// the local hypothesis's expected accuracy (PosteriorOptions::
// regionUnpairedWeight), for the context benchmark's choice of that weight.
//
//   seqcorvane-posteriorsweep [--data DIR] [--weights W,W,...] < PAIRS.tsv > OUT.tsv
//
// PAIRS.tsv: lines "pair_id<TAB>S<TAB>T" (residue strings). The posteriors of
// each hypothesis are computed once a pair, as the criterion computes them
// (the marginal distance search, the decoding distance, the posteriors
// there), and decoded at every weight: local, the local posteriors with the
// weight; auto, the two hypotheses' posteriors mixed by the local one's
// share of the pair's probability, a residue unpaired weighing the
// share-weighted mix of the global weight (gapWeight) and this one. Output,
// one line per pair, mode and weight:
//
//   pair_id  mode  weight  compression_bits  local_share  row_s  row_t
//
// (local_share: the local hypothesis's share, auto only; else nan). The
// compression is the criterion's verdict, which the weight does not change.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "codeLengths.h"
#include "logSpace.h"
#include "machine.h"
#include "models.h"
#include "nullModelClass.h"
#include "paths.h"
#include "posterior.h"
#include "seqcorvane/seqcorvane.h"

using namespace seqcorvane::detail;

namespace {

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: seqcorvane-posteriorsweep [--data DIR] [--weights W,W,...] < PAIRS.tsv\n");
  std::exit(1);
}

std::vector<double> parseWeights(const std::string& text) {
  std::vector<double> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const double w = std::strtod(item.c_str(), &end);
    if (item.empty() || *end != '\0' || !(w >= 0) || !std::isfinite(w)) usage();
    out.push_back(w);
  }
  if (out.empty()) usage();
  return out;
}

// The posteriors of b mixed into a's, b's weighing w (as the automatic
// choice mixes them).
Posteriors mixed(const Posteriors& a, const Posteriors& b, double w) {
  Posteriors m = a;
  const float wb = static_cast<float>(w), wa = static_cast<float>(1 - w);
  for (std::size_t k = 0; k < m.pair.size(); ++k) m.pair[k] = wa * a.pair[k] + wb * b.pair[k];
  for (std::size_t i = 0; i < m.nS; ++i) m.unpairedS[i] = (1 - w) * a.unpairedS[i] + w * b.unpairedS[i];
  for (std::size_t j = 0; j < m.nT; ++j) m.unpairedT[j] = (1 - w) * a.unpairedT[j] + w * b.unpairedT[j];
  return m;
}

void emit(const std::string& id, const char* mode, double weight, double bits, double share, const std::string& path,
          const std::string& S, const std::string& T) {
  const std::vector<std::string> rows = fsastr2Algn(path, S, T);
  std::printf("%s\t%s\t%.17g\t%.17g\t%.17g\t%s\t%s\n", id.c_str(), mode, weight, bits, share, rows[0].c_str(),
              rows[1].c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::vector<double> weights{0, 0.1, 0.25, 0.5, 1, 2};
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--data" && a + 1 < argc)
      dir = argv[++a];
    else if (arg == "--weights" && a + 1 < argc)
      weights = parseWeights(argv[++a]);
    else
      usage();
  }
  try {
    const seqcorvane::Models models(dir);
    const ModelData& data = modelData(models);
    const seqcorvane::PosteriorOptions options;
    MachineModel global = posteriorModel(data, options), local = global;
    local.local = true;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.empty()) continue;
      std::stringstream fields(line);
      std::string id, S, T;
      if (!std::getline(fields, id, '\t') || !std::getline(fields, S, '\t') || !std::getline(fields, T, '\t')) {
        std::fprintf(stderr, "seqcorvane-posteriorsweep: error: a line without pair_id, S and T\n");
        return 1;
      }
      const double null = sequenceNullMsgLen(S, data.nullMdl) + sequenceNullMsgLen(T, data.nullMdl);
      HypothesisPosteriors g = posteriorsOf(makeMachine(S, T, data, global), options, null);
      HypothesisPosteriors l = posteriorsOf(makeMachine(S, T, data, local), options, null);
      const double nan = std::nan("");
      const double localBits = seqcorvane::nits2bits(null - l.search.msgLen);
      for (double w : weights) emit(id, "local", w, localBits, nan, meaAlignment(l.posteriors, w), S, T);
      // Both hypotheses at half the prior each, and the local one's share.
      const double share = 1 / (1 + std::exp(l.search.msgLen - g.search.msgLen));
      const double both = LN2 + neglogSum3(g.search.msgLen, l.search.msgLen, std::numeric_limits<double>::infinity());
      const double autoBits = seqcorvane::nits2bits(null - both);
      const Posteriors m = mixed(g.posteriors, l.posteriors, share);
      for (double w : weights)
        emit(id, "auto", w, autoBits, share, meaAlignment(m, (1 - share) * options.gapWeight + share * w), S, T);
      std::fflush(stdout);
    }
  } catch (const seqcorvane::Error& e) {
    std::fprintf(stderr, "seqcorvane-posteriorsweep: error: %s\n", e.what());
    return 1;
  }
  return 0;
}
