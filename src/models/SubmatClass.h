// The substitution model: a 20 x 20 Markov matrix M for one unit of
// evolutionary distance, held as its eigen-decomposition M = S D S^-1, its
// power M^K for the current distance K (1..1000), and the Dirichlet priors of
// the alignment machine's transitions for every distance.
//
// The data read from the model files, and every power M^K once formed, are
// kept once per process and shared read-only by all the models built from
// the same files: a model is a distance and a reference to them, cheap to
// copy and to build, whatever the number of distances a search tries.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DirichletClass.h"
#include "matrix.h"

namespace seqcorvane::detail {

struct SubstitutionData;

class SubmatClass_t {
 public:
  using PriorsTable = std::vector<std::vector<DirichletClass_t>>;
  // M^K, normalised by columns, row-major: element (a, b) is Pr(a | b).
  using Power = std::array<double, 400>;

  // Loads the model from the model directory dir (S_double_precision.txt,
  // D_double_precision.txt, S_inv_double_precision.txt,
  // DirichletPriorsGivenN.txt) and sets the distance to K0.
  SubmatClass_t(int K0, const std::string& dir);

  // Reads the first 20 x 20 numbers of a matrix file.
  static Matrix readMatrix(const std::string& fileName);
  // Reads the table of priors per distance: [0] match state, [1] insert state.
  static PriorsTable readDirichletPriors(const std::string& fileName);

  // Sets the distance to K (1..1000): Pr(a | b) becomes M^K's.
  void exp(int K);
  // Clips negative entries to 0 and divides each column by its sum.
  static void normalizeMpowK(Matrix& MpowK);

  // Pr(a | b) after the current distance K.
  double pr(char a, char b) const;
  double pr(unsigned int x, unsigned int y) const;

  int getK() const;
  std::string getAlphabet() const;
  int getIndx(char c) const;

  // A copy of the prior for "match" or "insert" at the current K.
  DirichletClass_t getDirichlet(std::string state) const;

  // Models constructed, and powers M^K formed, in this process.
  static long modelsBuilt();
  static long powersFormed();

 private:
  std::string alphabet;
  std::map<char, int> aa2idx;
  std::array<int, 256> idx;  // letter -> index, -1 for letters outside the alphabet
  int K;
  std::shared_ptr<const SubstitutionData> data;  // S, D, S^-1, M, the priors, the powers
  std::shared_ptr<const Power> MpowK;
};

}  // namespace seqcorvane::detail
