// The order-k Markov null model of protein sequence.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace seqcorvane::detail {

class nullModelClass_t {
 public:
  nullModelClass_t();
  // Loads dir + "/protSeqNullMMLEstimatesOrder" + orderText + ".txt".
  nullModelClass_t(std::string orderText, const std::string& dir);

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

// Pnull of each residue letter of the alphabet (order-0 null model), by byte.
using NullProbs = std::array<double, 256>;
NullProbs nullProbsOf(const nullModelClass_t& nullMdl, const std::string& alphabet);

// The null encoding of a sequence without its length, in nits: the first k
// residues at 1/A each, every later one given its k predecessors.
double getNullEncodingLength(const std::string& seq, const nullModelClass_t& nullMdl);
// The null message length of a sequence: its length, then its residues.
double sequenceNullMsgLen(const std::string& seq, const nullModelClass_t& nullMdl);

}  // namespace seqcorvane::detail
