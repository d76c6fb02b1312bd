// The substitution model: a 20 x 20 Markov matrix M for one unit of
// evolutionary distance, held as its eigen-decomposition M = S D S^-1, its
// power M^K for the current distance K (1..1000), and the Dirichlet priors of
// the alignment machine's transitions for every distance.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DirichletClass.h"
#include "misc.h"

class SubmatClass_t {
 public:
  using PriorsTable = std::vector<std::vector<DirichletClass_t>>;

  // Loads the model (data/S_double_precision.txt, data/D_double_precision.txt,
  // data/S_inv_double_precision.txt, data/DirichletPriorsGivenN.txt) and sets
  // the distance to K0.
  explicit SubmatClass_t(int K0);

  // Reads a 20 x 20 matrix of whitespace-separated numbers.
  Matrix readMatrix(std::string fileName);
  // Reads the table of priors per distance: [0] match state, [1] insert state.
  PriorsTable readDirichletPriors(std::string fileName);

  void exp(int K);
  void normalizeMpowK();

  // Pr(a | b) after the current distance K.
  double pr(char a, char b) const;
  double pr(unsigned int x, unsigned int y) const;

  int getK() const;
  std::string getAlphabet() const;
  int getIndx(char c) const;
  double getS(int x, int y) const;
  double getSinv(int x, int y) const;
  double getD(int x, int y) const;

  // A copy of the prior for "match" or "insert" at the current K.
  DirichletClass_t getDirichlet(std::string state) const;

  void printMpowK() const;

  // Number of substitution models constructed in this process.
  static long modelsBuilt();

 private:
  std::string alphabet;
  std::map<char, int> aa2idx;
  int idx[256];  // letter -> index, -1 for letters outside the alphabet
  int K;
  Matrix M;
  Matrix S;
  Matrix D;
  Matrix Sinv;
  Matrix MpowK;
  // The parsed priors table is shared, read-only, by every model of the run.
  std::shared_ptr<const PriorsTable> priors;
};
