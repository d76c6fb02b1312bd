// The Dirichlet distribution over probability vectors of d >= 2 components.
#pragma once

#include <vector>

namespace seqcorvane::detail {

class DirichletClass_t {
 public:
  DirichletClass_t(int order, std::vector<double> concparams);

  std::vector<double> getMode() const;

 private:
  int nFreeParams;
  std::vector<double> concparams;
  double kappa;
};

}  // namespace seqcorvane::detail
