// seqcorvane-calibrate: the program's alignments measured against reference
// pairwise alignments, and gap priors fitted to them.
//
//   fit       a priors table fitted to the reference paths of the pairs
//   accuracy  one criterion run on the pairs: per pair, how many reference
//             residue pairs the alignment reproduces, its gap openings and
//             its compression; a summary per identity bin
//
// The models come from the model directory (--data names one, as for the
// program). --fold F/N keeps the pairs of families in fold F of N (with
// --train, those outside it); tools/run_calibration.sh runs the folds as
// separate processes.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "calibration.h"
#include "numbers.h"
#include "options.h"
#include "program.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

using namespace calibration;
using seqcorvane::nits2bits;
using seqcorvane::shell::ArgumentScan;
using seqcorvane::shell::formatFixed;
using seqcorvane::shell::parseInteger;
using seqcorvane::shell::parseNumber;
using seqcorvane::shell::scanArguments;

namespace {

const char* USAGE =
    "usage:\n"
    "  seqcorvane-calibrate fit --pairs FILE --out FILE [--data DIR] [--fold F/N [--train]] [--degree D]\n"
    "  seqcorvane-calibrate accuracy --pairs FILE --out FILE [--data DIR] [--fold F/N [--train]]\n"
    "      [--criterion optimal|posterior|marginal-posterior] [--gap-weight W] [--rate-shape A] [--open-scale F] "
    "[--threads N]\n"
    "  seqcorvane-calibrate accuracy --pairs FILE --out FILE --alignments DIR [--fold F/N [--train]]\n"
    "\n"
    "  --pairs      reference alignments: pair_id dataset family percent_identity row_s row_t (TSV)\n"
    "  --data       the model directory (the program's default otherwise)\n"
    "  --fold F/N   only the families of fold F of N (0 <= F < N); with --train, all the others\n"
    "  --degree     of the fitted curves' polynomial in ln K (default 1)\n"
    "  --criterion  optimal (default); posterior; marginal-posterior (the posterior decoded at the\n"
    "               marginal distance even at the top of its range)\n"
    "  --gap-weight the posterior decoding's weight of unpaired residues (default 0)\n"
    "  --rate-shape the posterior model's gamma shape of site rates (0: one rate; default the program's)\n"
    "  --open-scale the posterior model's gap opening, times the priors' (0 < F <= 1; default the program's)\n"
    "  --alignments measure the alignments DIR/<pair_id>.afasta instead (another aligner's)\n"
    "  --out        fit: the priors table; accuracy: one line per pair (TSV)\n";

[[noreturn]] void usage(const std::string& message) {
  std::cerr << "seqcorvane-calibrate: " << message << "\n" << USAGE;
  std::exit(1);
}

struct Options {
  std::string command, pairs, out, data, criterion = "optimal", alignments;
  int fold = -1, folds = 0, degree = 1, threads = 2;
  bool train = false;
  double gapWeight = 0;
  double rateShape = seqcorvane::PosteriorOptions{}.rateShape;
  double openScale = seqcorvane::PosteriorOptions{}.gapOpenScale;
};

std::vector<ReferencePair> selectedPairs(const Options& o) {
  std::vector<ReferencePair> all = readReferencePairs(o.pairs), kept;
  for (const ReferencePair& p : all)
    if (o.fold < 0 || (foldOfFamily(p.family, o.folds) == o.fold) != o.train) kept.push_back(p);
  if (kept.empty()) throw seqcorvane::Error(seqcorvane::Error::Kind::input, "no pairs selected from '" + o.pairs + "'");
  return kept;
}

int fit(const Options& o) {
  const std::vector<ReferencePair> pairs = selectedPairs(o);
  const seqcorvane::Models models(o.data);
  std::vector<Observation> obs(pairs.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next++) < pairs.size();) {
      obs[k].K = matchDistance(pairs[k], models);
      obs[k].counts = countTransitions(seqcorvane::rowsPath(pairs[k].rowS, pairs[k].rowT));
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < o.threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  std::string fold = o.fold < 0 ? std::string("all pairs")
                                : (o.train ? "the pairs outside fold " : "fold ") + std::to_string(o.fold) + " of " +
                                      std::to_string(o.folds);
  writeFittedPriors(o.out, obs, o.degree,
                    {"Dirichlet priors on the transitions, fitted to reference pairwise alignments.",
                     "Data: " + o.pairs + ", " + fold + " (" + std::to_string(pairs.size()) +
                         " pairs); models: " + models.directory() + ".",
                     "Command: seqcorvane-calibrate fit --pairs " + o.pairs + " --degree " + std::to_string(o.degree) +
                         (o.fold >= 0 ? " --fold " + std::to_string(o.fold) + "/" + std::to_string(o.folds) : "") +
                         (o.train ? " --train" : "") + " --out " + o.out});
  std::cout << "wrote " << o.out << " from " << pairs.size() << " pairs\n";
  return 0;
}

int accuracy(const Options& o) {
  const std::vector<ReferencePair> pairs = selectedPairs(o);
  const seqcorvane::Models models(o.data);
  seqcorvane::AlignConfig config;
  config.threads = 1;
  if (o.criterion != "optimal") {
    config.criterion = seqcorvane::Criterion::posterior;
    config.posterior.gapWeight = o.gapWeight;
    config.posterior.rateShape = o.rateShape;
    config.posterior.gapOpenScale = o.openScale;
    config.posterior.fallbackAtTop = o.criterion == "posterior";
  }
  std::vector<std::string> rows(pairs.size());
  std::vector<Agreement> agreements(pairs.size());
  std::vector<double> compression(pairs.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next++) < pairs.size();) {
      const ReferencePair& p = pairs[k];
      const std::string S = seqcorvane::standardResidues(p.rowS), T = seqcorvane::standardResidues(p.rowT);
      std::string fsastr;
      int K = 0;
      if (!o.alignments.empty()) {
        const std::string path = o.alignments + "/" + p.id + ".afasta";
        const std::vector<std::string> rows = seqcorvane::readAlignmentFile(path).rows;
        if (seqcorvane::standardResidues(rows[0]) != S || seqcorvane::standardResidues(rows[1]) != T)
          throw seqcorvane::Error(seqcorvane::Error::Kind::input,
                                  "alignment file '" + path + "' does not hold the pair's two sequences");
        fsastr = seqcorvane::rowsPath(rows[0], rows[1]);
        compression[k] = std::nan("");
      } else {
        const seqcorvane::AlignResult r = seqcorvane::align({p.id + "/s", S}, {p.id + "/t", T}, models, config);
        fsastr = r.path, K = r.parameters.K, compression[k] = r.compressionBits;
      }
      const Agreement a = compareAlignments(seqcorvane::rowsPath(p.rowS, p.rowT), fsastr);
      agreements[k] = a;
      rows[k] = p.id + "\t" + p.family + "\t" + formatFixed(p.percentIdentity, 2) + "\t" +
                std::to_string(a.referencePairs) + "\t" + std::to_string(a.reproduced) + "\t" +
                std::to_string(a.testPairs) + "\t" + std::to_string(a.gapOpenings) + "\t" +
                std::to_string(a.referenceGapOpenings) + "\t" +
                (o.alignments.empty() ? std::to_string(K) + "\t" + formatFixed(compression[k], 3) : "NA\tNA");
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < o.threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();

  std::string table =
      "pair_id\tfamily\tpercent_identity\treference_pairs\treproduced\ttest_pairs\tgap_openings\t"
      "reference_gap_openings\tK\tcompression_bits\n";
  for (const std::string& r : rows) table += r + "\n";
  seqcorvane::writeWholeFile(o.out, table);
  // The summary: per bin, the reference residue pairs reproduced (pooled),
  // gap openings per 100 matched pairs, and pairs compressed.
  long ref[N_BINS + 1] = {}, rep[N_BINS + 1] = {}, matched[N_BINS + 1] = {}, gaps[N_BINS + 1] = {},
                    refGaps[N_BINS + 1] = {}, n[N_BINS + 1] = {}, positive[N_BINS + 1] = {};
  for (size_t k = 0; k < pairs.size(); ++k)
    for (int b : {identityBin(pairs[k].percentIdentity), N_BINS}) {
      ref[b] += agreements[k].referencePairs, rep[b] += agreements[k].reproduced;
      matched[b] += agreements[k].testPairs, gaps[b] += agreements[k].gapOpenings;
      refGaps[b] += agreements[k].referenceGapOpenings;
      n[b] += 1, positive[b] += compression[k] > 0;
    }
  auto per100 = [](long x, long y) {
    return formatFixed(y ? 100.0 * static_cast<double>(x) / static_cast<double>(y) : 0, 2);
  };
  std::cout << "| bin | pairs | accuracy | gap openings per 100 matched pairs (references) | compression > 0 |\n"
               "|---|---:|---:|---:|---:|\n";
  for (int b = 0; b <= N_BINS; ++b)
    std::cout << "| " << binLabel(b) << " | " << n[b] << " | " << formatFixed(ref[b] ? double(rep[b]) / ref[b] : 0, 4)
              << " | " << per100(gaps[b], matched[b]) << " (" << per100(refGaps[b], ref[b]) << ") | "
              << (o.alignments.empty() ? formatFixed(n[b] ? double(positive[b]) / n[b] : 0, 3) : std::string("NA"))
              << " |\n";
  return 0;
}

}  // namespace

int run(int argc, char* argv[]) {
  Options o;
  if (argc < 2) usage("give a command");
  o.command = argv[1];
  const ArgumentScan args = scanArguments(argc - 1, argv + 1,
                                          {{"--pairs", 1},
                                           {"--out", 1},
                                           {"--data", 1},
                                           {"--alignments", 1},
                                           {"--criterion", 1},
                                           {"--train", 0},
                                           {"--gap-weight", 1},
                                           {"--rate-shape", 1},
                                           {"--open-scale", 1},
                                           {"--degree", 1},
                                           {"--threads", 1},
                                           {"--fold", 1}},
                                          false);
  if (!args.unknown.empty()) usage("unknown argument " + args.unknown[0]);
  if (!args.missingValue.empty()) usage(args.missingValue[0] + " needs a value");
  if (!args.of("-seq").empty()) usage("unknown argument " + args.of("-seq")[0]);
  auto each = [&](const std::string& option, const std::function<void(const std::string&)>& take) {
    for (const std::string& v : args.of(option)) take(v);
  };
  long v = 0;
  each("--pairs", [&](const std::string& x) { o.pairs = x; });
  each("--out", [&](const std::string& x) { o.out = x; });
  each("--data", [&](const std::string& x) { o.data = x; });
  each("--alignments", [&](const std::string& x) { o.alignments = x; });
  each("--criterion", [&](const std::string& x) { o.criterion = x; });
  o.train = args.seen.count("--train") > 0;
  each("--gap-weight", [&](const std::string& x) {
    if (!parseNumber(x, o.gapWeight) || !(o.gapWeight >= 0)) usage("--gap-weight takes a number >= 0");
  });
  each("--rate-shape", [&](const std::string& x) {
    if (!parseNumber(x, o.rateShape) || !(o.rateShape >= 0) || o.rateShape > 1000)
      usage("--rate-shape takes a number from 0 to 1000");
  });
  each("--open-scale", [&](const std::string& x) {
    if (!parseNumber(x, o.openScale) || !(o.openScale > 0) || o.openScale > 1)
      usage("--open-scale takes a number above 0 and at most 1");
  });
  each("--degree", [&](const std::string& x) {
    if (!parseInteger(x, v) || v < 0 || v > 4) usage("--degree takes 0 to 4");
    o.degree = static_cast<int>(v);
  });
  each("--threads", [&](const std::string& x) {
    if (!parseInteger(x, v) || v < 1 || v > 256) usage("--threads takes 1 to 256");
    o.threads = static_cast<int>(v);
  });
  each("--fold", [&](const std::string& f) {
    const size_t slash = f.find('/');
    long folds = 0;
    if (slash == std::string::npos || !parseInteger(f.substr(0, slash), v) ||
        !parseInteger(f.substr(slash + 1), folds) || folds < 2 || v < 0 || v >= folds)
      usage("--fold takes F/N with 0 <= F < N, N >= 2");
    o.fold = static_cast<int>(v), o.folds = static_cast<int>(folds);
  });
  if (o.pairs.empty() || o.out.empty()) usage("--pairs and --out are needed");
  if (o.train && o.fold < 0) usage("--train needs --fold");
  if (o.criterion != "optimal" && o.criterion != "posterior" && o.criterion != "marginal-posterior")
    usage("unknown criterion " + o.criterion);
  if (o.command == "fit") return fit(o);
  if (o.command == "accuracy") return accuracy(o);
  usage("unknown command " + o.command);
}

int main(int argc, char* argv[]) {
  return seqcorvane::shell::runProgram("seqcorvane-calibrate", [&] { return run(argc, argv); });
}
