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
#include <iostream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <thread>

#include "calibration.h"
#include "check.h"
#include "dataFiles.h"
#include "main.h"
#include "misc.h"
#include "outputFiles.h"
#include "pairSummary.h"
#include "parallel.h"
#include "threeStateDPAClass.h"

using namespace calibration;

namespace {

const char* USAGE =
    "usage:\n"
    "  seqcorvane-calibrate fit --pairs FILE --out FILE [--data DIR] [--fold F/N [--train]] [--degree D]\n"
    "  seqcorvane-calibrate accuracy --pairs FILE --out FILE [--data DIR] [--fold F/N [--train]]\n"
    "      [--criterion optimal|posterior|marginal-posterior] [--gap-weight W] [--rate-shape A] [--open-scale F] [--threads N]\n"
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
  double rateShape = PosteriorOptions{}.rateShape;
  double openScale = PosteriorOptions{}.gapOpenScale;
};

std::vector<ReferencePair> selectedPairs(const Options& o) {
  std::vector<ReferencePair> all = readReferencePairs(o.pairs), kept;
  for (const ReferencePair& p : all)
    if (o.fold < 0 || (foldOfFamily(p.family, o.folds) == o.fold) != o.train) kept.push_back(p);
  if (kept.empty()) fatalError("no pairs selected from '" + o.pairs + "'");
  return kept;
}

int fit(const Options& o) {
  const std::vector<ReferencePair> pairs = selectedPairs(o);
  const SubmatClass_t pam(1);
  const nullModelClass_t nullMdl("0");
  std::vector<Observation> obs(pairs.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next++) < pairs.size();) {
      obs[k].K = matchDistance(pairs[k], pam, nullMdl);
      obs[k].counts = countTransitions(algn2Fsastr({pairs[k].rowS, pairs[k].rowT}));
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < o.threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  std::string fold = o.fold < 0 ? std::string("all pairs") : (o.train ? "the pairs outside fold " : "fold ") +
                                                                 std::to_string(o.fold) + " of " + std::to_string(o.folds);
  writeFittedPriors(o.out, obs, o.degree,
                    {"Dirichlet priors on the transitions, fitted to reference pairwise alignments.",
                     "Data: " + o.pairs + ", " + fold + " (" + std::to_string(pairs.size()) + " pairs); models: " +
                         modelDirectory() + ".",
                     "Command: seqcorvane-calibrate fit --pairs " + o.pairs + " --degree " + std::to_string(o.degree) +
                         (o.fold >= 0 ? " --fold " + std::to_string(o.fold) + "/" + std::to_string(o.folds) : "") +
                         (o.train ? " --train" : "") + " --out " + o.out});
  std::cout << "wrote " << o.out << " from " << pairs.size() << " pairs\n";
  return 0;
}

int accuracy(const Options& o) {
  const std::vector<ReferencePair> pairs = selectedPairs(o);
  const SubmatClass_t pam(250);
  const nullModelClass_t nullMdl("0");
  setThreadsPerPair(1);
  std::vector<std::string> rows(pairs.size());
  std::vector<Agreement> agreements(pairs.size());
  std::vector<double> compression(pairs.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    NullStream quiet;
    for (size_t k; (k = next++) < pairs.size();) {
      const ReferencePair& p = pairs[k];
      std::string S = removeNonStandardAA(p.rowS), T = removeNonStandardAA(p.rowT);
      nullModelClass_t n = nullMdl;
      SubmatClass_t m = pam;
      std::string fsastr;
      int K = 0;
      if (!o.alignments.empty()) {
        const std::string path = o.alignments + "/" + p.id + ".afasta";
        const std::vector<std::string> rows = readAlignmentFile(path);
        if (removeNonStandardAA(rows[0]) != S || removeNonStandardAA(rows[1]) != T)
          fatalError("alignment file '" + path + "' does not hold the pair's two sequences");
        fsastr = algn2Fsastr(rows);
        compression[k] = std::nan("");
      } else if (o.criterion == "optimal") {
        const PairSummary r = summarizePair(S, T, n, m, "optimal");
        fsastr = r.fsastr, K = r.K, compression[k] = r.compressionBits;
      } else {
        threeStateDPAClass_t machine(S, T, n, m, "none", "unused", quiet);
        PosteriorOptions po;
        po.gapWeight = o.gapWeight;
        po.rateShape = o.rateShape;
        po.gapOpenScale = o.openScale;
        po.fallbackAtTop = o.criterion == "posterior";
        machine.decodePosterior(po);
        fsastr = machine.getPosteriorFSAstr();
        K = machine.getSubmatK();
        compression[k] = nits2bits(sequenceNullMsgLen(S, n) + sequenceNullMsgLen(T, n) - machine.getMarginalProbMsgLen());
      }
      const Agreement a = compareAlignments(algn2Fsastr({p.rowS, p.rowT}), fsastr);
      agreements[k] = a;
      rows[k] = p.id + "\t" + p.family + "\t" + formatFixed(p.percentIdentity, 2) + "\t" + std::to_string(a.referencePairs) +
                "\t" + std::to_string(a.reproduced) + "\t" + std::to_string(a.testPairs) + "\t" +
                std::to_string(a.gapOpenings) + "\t" + std::to_string(a.referenceGapOpenings) + "\t" +
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
  writeWholeFile(o.out, table);
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
  auto per100 = [](long x, long y) { return formatFixed(y ? 100.0 * static_cast<double>(x) / static_cast<double>(y) : 0, 2); };
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

int main(int argc, char* argv[]) {
  setProgramName("seqcorvane-calibrate");
  Options o;
  if (argc < 2) usage("give a command");
  o.command = argv[1];
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    auto value = [&]() -> std::string {
      if (a + 1 >= argc) usage(arg + " needs a value");
      return argv[++a];
    };
    long v = 0;
    if (arg == "--pairs") {
      o.pairs = value();
    } else if (arg == "--out") {
      o.out = value();
    } else if (arg == "--data") {
      o.data = value();
    } else if (arg == "--alignments") {
      o.alignments = value();
    } else if (arg == "--criterion") {
      o.criterion = value();
    } else if (arg == "--train") {
      o.train = true;
    } else if (arg == "--gap-weight") {
      if (!parseNumber(value(), o.gapWeight) || !(o.gapWeight >= 0)) usage("--gap-weight takes a number >= 0");
    } else if (arg == "--rate-shape") {
      if (!parseNumber(value(), o.rateShape) || !(o.rateShape >= 0) || o.rateShape > 1000)
        usage("--rate-shape takes a number from 0 to 1000");
    } else if (arg == "--open-scale") {
      if (!parseNumber(value(), o.openScale) || !(o.openScale > 0) || o.openScale > 1)
        usage("--open-scale takes a number above 0 and at most 1");
    } else if (arg == "--degree") {
      if (!parseInteger(value(), v) || v < 0 || v > 4) usage("--degree takes 0 to 4");
      o.degree = static_cast<int>(v);
    } else if (arg == "--threads") {
      if (!parseInteger(value(), v) || v < 1 || v > 256) usage("--threads takes 1 to 256");
      o.threads = static_cast<int>(v);
    } else if (arg == "--fold") {
      const std::string f = value();
      const size_t slash = f.find('/');
      long folds = 0;
      if (slash == std::string::npos || !parseInteger(f.substr(0, slash), v) ||
          !parseInteger(f.substr(slash + 1), folds) || folds < 2 || v < 0 || v >= folds)
        usage("--fold takes F/N with 0 <= F < N, N >= 2");
      o.fold = static_cast<int>(v), o.folds = static_cast<int>(folds);
    } else {
      usage("unknown argument " + arg);
    }
  }
  if (o.pairs.empty() || o.out.empty()) usage("--pairs and --out are needed");
  if (o.train && o.fold < 0) usage("--train needs --fold");
  if (o.criterion != "optimal" && o.criterion != "posterior" && o.criterion != "marginal-posterior")
    usage("unknown criterion " + o.criterion);
  if (!o.data.empty()) setModelDirectory(o.data);
  if (o.command == "fit") return fit(o);
  if (o.command == "accuracy") return accuracy(o);
  usage("unknown command " + o.command);
}
