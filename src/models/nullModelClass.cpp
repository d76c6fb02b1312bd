// The order-k Markov null model, loaded from its table of conditional
// probabilities.
//
// Table format: one context per line, "<context> <probability>", separated by
// whitespace; anything after the probability is ignored. The last line is read
// whether or not a newline ends it. A line is at most 9999 characters long.
// Every defect of the table ends the run with one line naming the file and,
// where it applies, the line:
//  - a blank line (the table has no empty context),
//  - a context without a probability, or a probability that is not a number,
//  - a probability outside (0, 1], or probabilities (of the residues after
//    each context of k residues) that do not sum to 1 within 1e-6,
//  - a line longer than 9999 characters,
//  - a table without any context, or an incomplete one (fewer than A^(k+1)
//    distinct contexts for its alphabet size A and order k).
// Contexts of different lengths are reported on two lines of their own (see
// the constructor). Of several lines with the same context the first counts.
#include "nullModelClass.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "check.h"
#include "codeLengths.h"
#include "dataFiles.h"
#include "numberText.h"
#include "text.h"

namespace seqcorvane::detail {

namespace {

constexpr std::size_t MAX_LINE_LENGTH = 9999;

}  // namespace

nullModelClass_t::nullModelClass_t() = default;

nullModelClass_t::nullModelClass_t(std::string orderText, const std::string& dir) {
  const std::string path = dir + "/protSeqNullMMLEstimatesOrder" + orderText + ".txt";
  std::ifstream infile(path);
  if (!infile) modelError(path + ": cannot open for reading");
  noteDataFileRead();

  std::string line;
  long lineNo = 0;
  while (std::getline(infile, line)) {
    ++lineNo;
    const std::string where = path + ":" + std::to_string(lineNo) + ": ";
    if (line.size() > MAX_LINE_LENGTH)
      modelError(where + "line longer than " + std::to_string(MAX_LINE_LENGTH) + " characters");
    std::istringstream fields(line);
    std::string ctx, number;
    if (!(fields >> ctx)) modelError(where + "blank line (expected a context and its probability)");
    if (!(fields >> number)) modelError(where + "context '" + excerpt(ctx) + "' has no probability");
    double p = 0;
    if (!parseNumber(number, p)) modelError(where + "'" + excerpt(number) + "' is not a number");
    if (!(p > 0.0 && p <= 1.0))
      modelError(where + "probability " + excerpt(number) + " of context '" + excerpt(ctx) + "' is outside (0, 1]");
    ctx2pr.emplace(ctx, p);  // the first line of a context counts
  }
  if (infile.bad()) modelError(path + ": read error");
  infile.close();

  if (ctx2pr.empty()) modelError(path + ": no contexts found");

  const std::size_t L = ctx2pr.begin()->first.length();
  alphabet.clear();
  alphabetSize = 0;
  uint64_t nctxs = 0;
  for (const auto& entry : ctx2pr) {
    const std::string& ctx = entry.first;
    ++nctxs;
    if (ctx.length() != L)
      modelError("Found a context " + ctx + " of deviating length.\n" +
                 "All contexts should be of the same length. Terminating!\n");
    for (char c : ctx) {
      auto it = char2cnt.find(c);
      if (it == char2cnt.end()) {
        alphabet.push_back(c);
        ++alphabetSize;
        char2cnt[c] = 1;
      } else {
        ++it->second;
      }
    }
  }
  order = L - 1;

  // A complete table holds A^(k+1) contexts.
  const double totExact = std::pow(static_cast<double>(alphabetSize), static_cast<double>(L));
  const bool fits = totExact < 18446744073709551616.0;  // 2^64
  const uint64_t tot = fits ? static_cast<uint64_t>(totExact) : 0;
  if (!fits || tot != nctxs) {
    std::ostringstream msg;
    msg << path << ": incomplete table: alphabet size " << alphabetSize << ", order " << order << ": expected ";
    if (fits)
      msg << tot;
    else
      msg << totExact;
    msg << " contexts, found " << nctxs;
    modelError(msg.str());
  }

  // The probabilities of the residues that follow each context of k
  // residues sum to 1.
  std::map<std::string, double> sums;
  for (const auto& entry : ctx2pr) sums[entry.first.substr(0, L - 1)] += entry.second;
  for (const auto& s : sums)
    if (std::fabs(s.second - 1.0) > 1e-6)
      modelError(path + ": the probabilities" + (order ? " after context '" + s.first + "'" : std::string()) +
                 " sum to " + formatFixed(s.second, 9) + ", not 1");
}

uint64_t nullModelClass_t::getOrder() const { return order; }

std::string nullModelClass_t::getAlphabet() const { return alphabet; }

uint64_t nullModelClass_t::getAlphabetSize() const { return alphabet.length(); }

bool nullModelClass_t::isCompatible(std::string s) const {
  for (char c : s)
    if (char2cnt.find(c) == char2cnt.end()) return false;
  return true;
}

double nullModelClass_t::pr(std::string ctx) const {
  // clang-format off
  SC_CHECK(ctx.length()-1 == order);
  // clang-format on
  auto it = ctx2pr.find(ctx);
  SC_CHECK(it != ctx2pr.end());
  return it->second;
}

NullProbs nullProbsOf(const nullModelClass_t& nullMdl, const std::string& alphabet) {
  NullProbs p{};
  for (char c : alphabet) p[static_cast<unsigned char>(c)] = nullMdl.pr(std::string(1, c));
  return p;
}

double getNullEncodingLength(const std::string& seq, const nullModelClass_t& nullMdl) {
  const uint64_t k = nullMdl.getOrder();
  const double A = static_cast<double>(nullMdl.getAlphabetSize());
  const size_t n = seq.size();
  double len = 0;
  // The first k residues have no full context: 1/A each, whatever n is.
  for (uint64_t p = 0; p < k; ++p) len += -std::log(1.0 / A);
  for (size_t p = k; p < n; ++p) len += -std::log(nullMdl.pr(seq.substr(p - k, k + 1)));
  return len;
}

double sequenceNullMsgLen(const std::string& seq, const nullModelClass_t& nullMdl) {
  return wtCodeLen_nits(static_cast<int>(seq.size())) + getNullEncodingLength(seq, nullMdl);
}

}  // namespace seqcorvane::detail
