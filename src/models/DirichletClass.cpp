#include "DirichletClass.h"

#include <cmath>
#include <cstddef>

#include "check.h"

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
  meanvec = getMean();
}

std::vector<double> DirichletClass_t::getAlphas() const { return concparams; }

std::vector<double> DirichletClass_t::getMean() const {
  std::vector<double> mean(concparams.size());
  for (std::size_t i = 0; i < concparams.size(); ++i) mean[i] = concparams[i] / kappa;
  return mean;
}

// (alpha_i - 1) / (kappa - d): not a number in every component when every
// alpha is 1.
std::vector<double> DirichletClass_t::getMode() const {
  const double d = static_cast<double>(nFreeParams);
  std::vector<double> mode(concparams.size());
  for (std::size_t i = 0; i < concparams.size(); ++i) mode[i] = (concparams[i] - 1.0) / (kappa - d);
  return mode;
}

double DirichletClass_t::getPrDensity(std::vector<double> x) const {
  if (x.size() != static_cast<std::size_t>(nFreeParams)) checkFailed("x.size() == nFreeParams", __FILE__, __LINE__);
  const double g = std::tgamma(kappa);
  double P = 1;
  for (double a : concparams) P *= std::tgamma(a);
  double Q = 1;
  for (std::size_t i = 0; i < x.size(); ++i) Q *= std::pow(x[i], concparams[i] - 1);
  return (g / P) * Q;
}

double DirichletClass_t::getLogPrDensity(std::vector<double> x) const {
  if (x.size() != static_cast<std::size_t>(nFreeParams)) checkFailed("x.size() == nFreeParams", __FILE__, __LINE__);
  double logNorm = std::lgamma(kappa);
  for (double a : concparams) logNorm -= std::lgamma(a);
  double s = 0;
  for (std::size_t i = 0; i < x.size(); ++i) s += std::log(x[i]) * (concparams[i] - 1);
  return logNorm + s;
}

// Leaves standard output at precision 2.
