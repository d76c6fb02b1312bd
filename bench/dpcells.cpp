// seqcorvane-dpcells: the alignment machine's CPU time per DP cell for each
// kind of pass, and the model work of full runs, all in this one process.
//
//   seqcorvane-dpcells [--reps N] [--criteria optimal,marginal,posterior] S.fa T.fa
//
// For the pair in S.fa and T.fa (one record each, filtered as the program
// filters them) it prints lines "key value":
//
//   nS, nT, cells            |S|, |T| and |S| x |T|
//   <pass>_ns_per_cell       CPU nanoseconds per grid cell of one pass at
//                            K = 250, the least of N repetitions (each grid
//                            cell computes its three states):
//     optimal_fill           the best-path fill with its one byte of trace codes
//     forward_exact          the exact log-space summed pass (printed values)
//     forward_fast           the probability-space summed pass (the search)
//     posteriors_exact       forward, checkpointed sink passes and the pair
//                            posteriors of every cell, in log space
//     posteriors_fast        the same from the probability-space passes
//   <criterion>_seconds      CPU seconds of a full run of the criterion
//                            through the library (the landscape files to
//                            a scratch directory), with the threads it uses
//   <criterion>_models       substitution models constructed in it
//   <criterion>_powers       matrix powers M^K formed in it (the process keeps
//                            each power once formed, so later runs form fewer)
//   <criterion>_search_passes  fast/exact passes of its distance search
//   data_files_read          model files read by the process in all
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "check.h"
#include "dataFiles.h"
#include "dpCosts.h"
#include "dpKernels.h"
#include "dpPosteriors.h"
#include "models.h"
#include "numberText.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"
#include "transitions.h"

using namespace seqcorvane::detail;

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The least CPU time of reps runs of fn, in nanoseconds per cell.
template <typename Fn>
double nsPerCell(int reps, double cells, Fn fn) {
  double best = 1e300;
  for (int r = 0; r < reps; ++r) {
    const double t0 = cpuSeconds();
    fn();
    best = std::min(best, cpuSeconds() - t0);
  }
  return best * 1e9 / cells;
}

[[noreturn]] void usage() {
  std::cerr << "usage: seqcorvane-dpcells [--reps N] [--criteria optimal,marginal,posterior] S.fa T.fa\n";
  std::exit(1);
}

// CPU nanoseconds per cell of each kind of pass, at the optimal criterion's
// first parameters.
void printPassTimes(const seqcorvane::Models& models, const std::string& S, const std::string& T, int reps,
                    double cells) {
  // The costs of the optimal criterion's first pass: K = 250, the priors' transitions there.
  const ModelData& d = modelData(models);
  const CostTable c = makeCostTable(S, T, d.pnull, d.pam, estimate3StateMachineParams_dirichlet(d.pam));
  TraceCodes codes;
  volatile double sink = 0;
  std::cout << "optimal_fill_ns_per_cell " << nsPerCell(reps, cells, [&] { sink = fillBestPath(c, codes)[0].total; })
            << "\n";
  codes = TraceCodes{};
  std::cout << "forward_exact_ns_per_cell " << nsPerCell(reps, cells, [&] { sink = sumAllPaths(c)[0]; }) << "\n";
  std::cout << "forward_fast_ns_per_cell " << nsPerCell(reps, cells, [&] { sink = sumAllPathsFast(c); }) << "\n";
  std::cout << "posteriors_exact_ns_per_cell "
            << nsPerCell(1, cells, [&] { sink = static_cast<double>(computePosteriors(c, true).unpairedS.size()); })
            << "\n";
  std::cout << "posteriors_fast_ns_per_cell " << nsPerCell(reps, cells, [&] {
    sink = static_cast<double>(computePosteriorsFast(c, true).unpairedS.size());
  }) << "\n";
  (void)sink;
}

// A full run of each criterion through the library: CPU seconds, models built,
// powers formed, passes of the distance search.
void printCriterionRuns(const seqcorvane::Models& models, const seqcorvane::Sequence seq[2],
                        const std::string& criteria) {
  const std::string &S = seq[0].residues, &T = seq[1].residues;
  char dir[] = "/tmp/seqcorvane_dpcells_XXXXXX";
  SC_CHECK(mkdtemp(dir) != nullptr);
  std::stringstream list(criteria);
  for (std::string name; std::getline(list, name, ',');) {
    seqcorvane::AlignConfig config;
    if (!seqcorvane::parseCriterion(name, config.criterion)) usage();
    const long built = SubmatClass_t::modelsBuilt(), powers = SubmatClass_t::powersFormed();
    const double t0 = cpuSeconds();
    seqcorvane::AlignResult result;
    if (config.criterion == seqcorvane::Criterion::optimal || config.criterion == seqcorvane::Criterion::posterior) {
      result = seqcorvane::align(seq[0], seq[1], models, config);
    } else {
      seqcorvane::LandscapeFiles landscape(std::string(dir) + "/run", S.size(), T.size());
      result = seqcorvane::align(seq[0], seq[1], models, config,
                                 [&](const seqcorvane::LandscapeRow& r) { landscape.row(r); });
      landscape.commit();
    }
    std::cout << name << "_seconds " << cpuSeconds() - t0 << "\n"
              << name << "_models " << SubmatClass_t::modelsBuilt() - built << "\n"
              << name << "_powers " << SubmatClass_t::powersFormed() - powers << "\n"
              << name << "_search_passes " << result.search.fastPasses << "/" << result.search.exactPasses << "\n";
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (ec) std::cerr << "seqcorvane-dpcells: could not remove " << dir << ": " << ec.message() << "\n";
}

}  // namespace

int main(int argc, char* argv[]) {
  int reps = 3;
  std::string criteria = "optimal,marginal";
  std::vector<std::string> files;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    long v = 0;
    if (arg == "--reps" && a + 1 < argc) {
      if (!parseInteger(argv[++a], v) || v < 1 || v > 1000) usage();
      reps = static_cast<int>(v);
    } else if (arg == "--criteria" && a + 1 < argc) {
      criteria = argv[++a];
    } else if (!arg.empty() && arg[0] != '-') {
      files.push_back(arg);
    } else {
      usage();
    }
  }
  if (files.size() != 2) usage();
  try {
    const seqcorvane::Models models;
    seqcorvane::Sequence seq[2];
    for (int f = 0; f < 2; ++f) {
      const std::vector<seqcorvane::Record> r = seqcorvane::readFasta(files[f]);
      if (r.size() != 1) usage();
      seq[f] = {r[0].name, seqcorvane::standardResidues(r[0].text)};
    }
    const std::string &S = seq[0].residues, &T = seq[1].residues;
    const double cells = static_cast<double>(S.size()) * static_cast<double>(T.size());
    std::cout << "nS " << S.size() << "\nnT " << T.size() << "\ncells " << static_cast<long long>(cells) << "\n";

    printPassTimes(models, S, T, reps, cells);
    printCriterionRuns(models, seq, criteria);
    std::cout << "data_files_read " << dataFilesRead() << "\n";
  } catch (const seqcorvane::Error& e) {
    std::cerr << "seqcorvane-dpcells: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
