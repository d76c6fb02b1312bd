#include "DirichletClass.h"

#include <cstddef>

#include "check.h"

namespace seqcorvane::detail {

DirichletClass_t::DirichletClass_t(int order, std::vector<double> concparams) {
  SC_CHECK(order >= 2);
  if (concparams.size() != static_cast<std::size_t>(order))
    checkFailed("concparams.size() == order", __FILE__, __LINE__);
  bool isValidConcparams = true;
  for (double a : concparams)
    if (a < 0) isValidConcparams = false;
  SC_CHECK(isValidConcparams);

  nFreeParams = order;
  this->concparams = std::move(concparams);
  kappa = 0;
  for (std::size_t i = 0; i < this->concparams.size(); ++i) kappa += this->concparams[i];
}

// (alpha_i - 1) / (kappa - d): not a number in every component when every
// alpha is 1.
std::vector<double> DirichletClass_t::getMode() const {
  const double d = static_cast<double>(nFreeParams);
  std::vector<double> mode(concparams.size());
  for (std::size_t i = 0; i < concparams.size(); ++i) mode[i] = (concparams[i] - 1.0) / (kappa - d);
  return mode;
}

}  // namespace seqcorvane::detail
