// seqcorvane-dumpcosts: the cost tables the machine's passes read, printed
// for a prototype of other passes to use the very same numbers.
//
//   seqcorvane-dumpcosts [--data DIR] [--model posterior|optimal] S T K [K ...]
//   seqcorvane-dumpcosts [--data DIR] [--model posterior|optimal] --all
//
// S and T are residue strings (the twenty upper-case letters). For each K the
// table of that distance is printed as the criterion's passes build it:
// posterior: the fitted match tables (or the rate-averaged substitution
// model), the gap opening scaled by 0.35; optimal: the substitution model at
// K and the priors' transitions. Lines, all numbers in nits (%.17g):
//
//   null_s <x>, null_t <x>   the null message length of each sequence
//   gap_s ..., gap_t ...      -ln Pnull of each residue
//   res_s ..., res_t ...      substitution-model index of each residue
//   K <k>                     then, for that distance:
//   trans <9 values>          [from][to] in the order M, D, I
//   end_discount <3 values>   priceEndGapsAlike's end gap discount (M, D, I)
//   match <400 values>        [residue of S][residue of T], index order
//
// With --all, S and T are the model's alphabet and every K of 1..1000 is
// printed (the tables depend on the pair only through its residues).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codeLengths.h"
#include "dpCosts.h"
#include "machine.h"
#include "models.h"
#include "nullModelClass.h"
#include "posterior.h"
#include "seqcorvane/seqcorvane.h"

using namespace seqcorvane::detail;

namespace {

void printRow(const char* name, const std::vector<double>& v) {
  std::printf("%s", name);
  for (double x : v) std::printf(" %.17g", x);
  std::printf("\n");
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: seqcorvane-dumpcosts [--data DIR] [--model posterior|optimal] (S T K [K ...] | --all)\n");
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, model = "posterior";
  std::vector<std::string> rest;
  bool all = false;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--data" && a + 1 < argc)
      dir = argv[++a];
    else if (arg == "--model" && a + 1 < argc)
      model = argv[++a];
    else if (arg == "--all")
      all = true;
    else
      rest.push_back(arg);
  }
  if (model != "posterior" && model != "optimal") usage();
  try {
    const seqcorvane::Models models(dir);
    const ModelData& data = modelData(models);
    std::string S, T;
    std::vector<int> ks;
    if (all) {
      if (!rest.empty()) usage();
      S = T = data.pam.getAlphabet();
      for (int k = 1; k <= 1000; ++k) ks.push_back(k);
    } else {
      if (rest.size() < 3) usage();
      S = rest[0];
      T = rest[1];
      for (std::size_t n = 2; n < rest.size(); ++n) ks.push_back(std::atoi(rest[n].c_str()));
    }
    for (int k : ks)
      if (k < 1 || k > 1000) usage();
    const MachineModel hypothesis =
        model == "posterior" ? posteriorModel(data, seqcorvane::PosteriorOptions{}) : MachineModel{};
    std::printf("alphabet %s\n", data.pam.getAlphabet().c_str());
    std::printf("null_s %.17g\nnull_t %.17g\n", sequenceNullMsgLen(S, data.nullMdl),
                sequenceNullMsgLen(T, data.nullMdl));
    bool first = true;
    for (int k : ks) {
      CostTable c = makeMachine(S, T, data, k, hypothesis).costs();
      if (first) {
        printRow("gap_s", c.gapS);
        printRow("gap_t", c.gapT);
        printRow("res_s", std::vector<double>(c.resS.begin(), c.resS.end()));
        printRow("res_t", std::vector<double>(c.resT.begin(), c.resT.end()));
        first = false;
      }
      priceEndGapsAlike(c);
      std::printf("K %d\n", k);
      std::vector<double> v;
      for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 3; ++y) v.push_back(c.trans[x][y]);
      printRow("trans", v);
      printRow("end_discount", std::vector<double>(c.endGapDiscount.begin(), c.endGapDiscount.end()));
      v.clear();
      for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 20; ++y) v.push_back(c.match[x][y]);
      printRow("match", v);
    }
  } catch (const seqcorvane::Error& e) {
    std::fprintf(stderr, "seqcorvane-dumpcosts: error: %s\n", e.what());
    return 1;
  }
  return 0;
}
