// The Dirichlet distribution over probability vectors of d >= 2 components.
#pragma once

#include <vector>

class DirichletClass_t {
 public:
  DirichletClass_t(int order, std::vector<double> concparams);

  std::vector<double> getAlphas() const;
  std::vector<double> getMean() const;
  std::vector<double> getMode() const;
  double getPrDensity(std::vector<double> x) const;
  double getLogPrDensity(std::vector<double> x) const;

 private:
  int nFreeParams;
  std::vector<double> concparams;
  double kappa;
  std::vector<double> meanvec;
};
