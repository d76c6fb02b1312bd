// A deliberately naive reference for the alignment machine: every path of
// tiny pairs enumerated, costed straight from the models' definitions, and
// the seeded pairs the tests draw.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "machine.h"
#include "testUtil.h"

namespace naive {

inline constexpr double LN3_ = 1.0986122886681098;
inline constexpr double LN1000_ = 6.907755278982137;
inline const double INF = std::numeric_limits<double>::infinity();
inline const std::string RESIDUES = "ACDEFGHIKLMNPQRSTVWY";

inline const ModelData& models() { return modelData(testutil::models()); }

inline std::string randomSeq(std::mt19937& rng, int len) {
  std::string s;
  for (int k = 0; k < len; ++k) s.push_back(RESIDUES[rng() % 20]);
  return s;
}

// A related pair: T is S with point substitutions and a few indels.
inline std::pair<std::string, std::string> relatedPair(std::mt19937& rng, int len) {
  std::string S = randomSeq(rng, len), T;
  std::uniform_real_distribution<double> u(0, 1);
  for (char c : S) {
    const double r = u(rng);
    if (r < 0.05) continue;
    if (r < 0.10) T += randomSeq(rng, 1 + static_cast<int>(rng() % 3));
    T.push_back(u(rng) < 0.3 ? RESIDUES[rng() % 20] : c);
  }
  if (T.empty()) T = "A";
  return {S, T};
}

// The machine of the optimal and marginal criteria at distance K (at the
// models' starting distance when K is 0).
inline threeStateDPAClass_t machine(const std::string& S, const std::string& T, int K = 0) {
  return K == 0 ? makeMachine(S, T, models()) : makeMachine(S, T, models(), K);
}

// The landscape of a marginal run, row-major, and its result.
inline std::vector<double> landscapeOf(const std::string& S, const std::string& T, seqcorvane::AlignResult& r) {
  std::vector<double> values;
  seqcorvane::AlignConfig config;
  config.criterion = seqcorvane::Criterion::marginal;
  r = seqcorvane::align({"s", S}, {"t", T}, testutil::models(), config, [&](const seqcorvane::LandscapeRow& row) {
    EXPECT_EQ(row.i * (T.size() + 1), values.size());
    values.insert(values.end(), row.values, row.values + row.size);
  });
  return values;
}

// Costs straight from the models at distance K, written from the model's
// definition and independent of the machine's tables.
struct Reference {
  SubmatClass_t pam;
  std::map<char, double> trans[3];  // [from state][to letter M/D/I]
  explicit Reference(int K) : pam(K, testutil::dataDir()) {
    const std::vector<double> m = pam.getDirichlet("match").getMode(), g = pam.getDirichlet("insert").getMode();
    const double p[3][3] = {{m[0], (1 - m[0]) / 2, (1 - m[0]) / 2},  // from M to M, D, I
                            {g[1], g[0], 1 - g[0] - g[1]},           // from D
                            {g[1], 1 - g[0] - g[1], g[0]}};          // from I
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y) trans[x]["MDI"[y]] = -std::log(p[x][y]);
  }
  // Fitted match emissions: a joint table over pairs in the substitution
  // model's alphabet order, used instead of the model's when set.
  const PairTable* joint = nullptr;
  static double pn(char c) { return models().nullMdl.pr(std::string(1, c)); }
  double gap(char c) const { return -std::log(pn(c)); }
  double match(char a, char b) const {
    if (joint != nullptr) return -std::log((*joint)[pam.getAlphabet().find(a)][pam.getAlphabet().find(b)]);
    return -std::log(0.5 * (pn(a) * pam.pr(b, a) + pn(b) * pam.pr(a, b)));
  }
  double t(char from, char to) const {
    return trans[std::string("mdi").find(from)].at(static_cast<char>(std::toupper(to)));
  }

  // The parts of a path of states from (i, j): its emissions, the transitions
  // between its columns, and ln 3 for the one end column it is charged
  // (the first towards the start, the last towards the sink).
  std::pair<double, double> parts(const std::string& path, const std::string& S, const std::string& T, size_t i,
                                  size_t j) const {
    double tr = path.empty() ? 0 : LN3_, em = 0;
    for (size_t l = 0; l < path.size(); ++l) {
      const char c = path[l];
      em += c == 'm' ? match(S[i], T[j]) : c == 'd' ? gap(S[i]) : gap(T[j]);
      i += c != 'i';
      j += c != 'd';
      if (l > 0) tr += t(path[l - 1], c);
    }
    return {tr, em};
  }
};

// Every path of states over i residues of S and j of T.
inline const std::vector<std::string>& allPaths(size_t i, size_t j) {
  static std::map<std::pair<size_t, size_t>, std::vector<std::string>> memo;
  auto key = std::make_pair(i, j);
  auto it = memo.find(key);
  if (it != memo.end()) return it->second;
  std::vector<std::string> v;
  if (i == 0 && j == 0) v.push_back("");
  if (i > 0 && j > 0)
    for (const std::string& p : allPaths(i - 1, j - 1)) v.push_back(p + 'm');
  if (i > 0)
    for (const std::string& p : allPaths(i - 1, j)) v.push_back(p + 'd');
  if (j > 0)
    for (const std::string& p : allPaths(i, j - 1)) v.push_back(p + 'i');
  return memo[key] = v;
}

// -ln of a sum of e^-x, in long double.
inline double neglogSumOf(const std::vector<double>& x) {
  if (x.empty()) return INF;
  const double m = *std::min_element(x.begin(), x.end());
  long double s = 0;
  for (double v : x) s += std::exp(static_cast<long double>(m - v));
  return static_cast<double>(m - std::log(s));
}

// The best path and the sum over paths of one cell and state, by enumeration.
struct Enumerated {
  double best = INF, sum = INF;
};

// Towards the start: the paths from (0, 0) to (i, j) whose last column is in
// `state`. Towards the sink: those from (i, j) to the end whose first column is.
inline Enumerated enumerate(const Reference& ref, const std::string& S, const std::string& T, size_t i, size_t j,
                            int state, bool towardsSink) {
  const char letter = "mdi"[state];
  std::vector<double> totals;
  const auto& paths = towardsSink ? allPaths(S.size() - i, T.size() - j) : allPaths(i, j);
  for (const std::string& p : paths) {
    if (p.empty() || (towardsSink ? p.front() : p.back()) != letter) continue;
    const auto pt = towardsSink ? ref.parts(p, S, T, i, j) : ref.parts(p, S, T, 0, 0);
    totals.push_back(pt.first + pt.second);
  }
  Enumerated e;
  if (!totals.empty()) e.best = *std::min_element(totals.begin(), totals.end());
  e.sum = neglogSumOf(totals);
  return e;
}

inline void expectClose(double expected, double actual, const std::string& where) {
  if (std::isinf(expected)) {
    EXPECT_TRUE(std::isinf(actual) && actual > 0) << where << ": " << actual;
  } else {
    EXPECT_NEAR(actual, expected, 1e-12 * std::max(1.0, std::fabs(expected))) << where;
  }
}

// A tiny pair and its machine parameters at a random distance.
struct TinyCase {
  std::string S, T;
  int K;
  CostTable costs;
};
inline TinyCase tinyCase(std::mt19937& rng) {
  TinyCase c;
  c.S = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
  c.T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
  c.K = 1 + static_cast<int>(rng() % 1000);
  c.costs = machine(c.S, c.T, c.K).costs();
  return c;
}

}  // namespace naive
