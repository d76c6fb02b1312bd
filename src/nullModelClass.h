// The order-k Markov null model of protein sequence.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class nullModelClass_t {
 public:
  nullModelClass_t();
  // Loads "data/protSeqNullMMLEstimatesOrder" + orderText + ".txt".
  explicit nullModelClass_t(std::string orderText);

  uint64_t getOrder() const;
  std::string getAlphabet() const;
  uint64_t getAlphabetSize() const;
  bool isCompatible(std::string s) const;
  double pr(std::string ctx) const;

 private:
  std::string alphabet;
  std::map<char, int> char2cnt;
  uint64_t alphabetSize = 0;
  std::map<std::string, double> ctx2pr;
  uint64_t order = 0;
};
