// Aligns the first record of two FASTA files through the library and prints
// the compression: how many bits more likely the pair is related than not.
//
//   align_pair s.fa t.fa [criterion] [model directory]
#include <iostream>

#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::cerr << "usage: align_pair s.fa t.fa [optimal|marginal|posterior] [model directory]\n";
    return 1;
  }
  try {
    const seqcorvane::Models models(argc > 4 ? argv[4] : "");
    seqcorvane::AlignConfig config;
    if (argc > 3 && !seqcorvane::parseCriterion(argv[3], config.criterion)) {
      std::cerr << "align_pair: unknown criterion '" << argv[3] << "'\n";
      return 1;
    }
    seqcorvane::Sequence pair[2];
    for (int k = 0; k < 2; ++k) {
      const seqcorvane::Record r = seqcorvane::readFasta(argv[1 + k]).at(0);
      pair[k] = {r.name, seqcorvane::standardResidues(r.text)};
    }
    const seqcorvane::AlignResult result = seqcorvane::align(pair[0], pair[1], models, config);
    std::cout << result.s.name << "\t" << result.t.name << "\tK=" << result.parameters.K << "\t"
              << result.compressionBits << " bits\t" << (result.related() ? "related" : "not related") << "\n";
    if (!result.path.empty()) std::cout << result.rowS << "\n" << result.rowT << "\n";
    return 0;
  } catch (const seqcorvane::Error& e) {
    std::cerr << "align_pair: " << e.what() << "\n";
    return 1;
  }
}
