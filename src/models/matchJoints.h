// Joint residue-pair probabilities for the match state, fitted to
// structure-based reference alignments at a few evolutionary distances and
// interpolated between them: the posterior criterion's match emissions.
//
// The file (posteriorMatchJoints.txt in the model directory) holds '#' header
// lines, one line "alphabet <20 letters>", then for each distance, in
// increasing order, a line "K <distance>" followed by 20 lines of 20
// probabilities, rows and columns in the alphabet's order. Each table must be
// positive, symmetric and sum to 1: it is a distribution over ordered residue
// pairs, so message lengths built on it stay proper.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace seqcorvane::detail {

using PairTable = std::array<std::array<double, 20>, 20>;

struct MatchJoints {
  std::vector<double> K;          // the distances of the tables, increasing, within 1..1000
  std::vector<PairTable> joints;  // one table per distance, in the substitution model's alphabet order

  bool empty() const { return K.empty(); }
  // The table at distance k: linear in ln K between the two tables whose
  // distances enclose k (a mixture, so again a distribution), the end
  // table's outside their range.
  PairTable at(double k) const;
};

// The tables of the file, reordered to the substitution model's alphabet.
// Throws Error (model) naming the file and the line or table at fault.
MatchJoints readMatchJoints(const std::string& path, const std::string& alphabet);

// The name of the file in a model directory.
const char* matchJointsFileName();

}  // namespace seqcorvane::detail
