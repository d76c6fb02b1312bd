#include "dpCosts.h"

#include <algorithm>
#include <cmath>

#include "check.h"
#include "composition.h"

namespace seqcorvane::detail {

double matchMsgLen(const SubmatClass_t& pam, const NullProbs& pnull, char a, char b) {
  const double pa = pnull[static_cast<unsigned char>(a)], pb = pnull[static_cast<unsigned char>(b)];
  return -std::log(0.5 * (pa * pam.pr(b, a) + pb * pam.pr(a, b)));
}

CostTable makeCostTable(const std::string& S, const std::string& T, const NullProbs& pnull, const SubmatClass_t& pam,
                        const TransitionTable& fsaPr) {
  CostTable c;
  c.nS = S.size();
  c.nT = T.size();
  auto residues = [&](const std::string& seq, std::vector<double>& gap, std::vector<std::uint8_t>& res) {
    gap.resize(seq.size());
    res.resize(seq.size());
    for (std::size_t k = 0; k < seq.size(); ++k) {
      gap[k] = -std::log(pnull[static_cast<unsigned char>(seq[k])]);
      res[k] = static_cast<std::uint8_t>(pam.getIndx(seq[k]));
    }
  };
  residues(S, c.gapS, c.resS);
  residues(T, c.gapT, c.resT);
  const std::string alphabet = pam.getAlphabet();
  SC_CHECK(alphabet.size() == 20);
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) c.match[x][y] = matchMsgLen(pam, pnull, alphabet[x], alphabet[y]);
  c.trans = transitionCosts(fsaPr);
  return c;
}

void averageMatchOverRates(CostTable& c, const SubmatClass_t& pam, const NullProbs& pnull,
                           const std::vector<double>& rates) {
  SC_CHECK(!rates.empty());
  std::array<std::array<double, 20>, 20> pr{};  // [a][b]: Pr(a | b) averaged
  for (const double r : rates) {
    SubmatClass_t atRate = pam;
    atRate.exp(static_cast<int>(std::clamp(std::lround(r * pam.getK()), 1L, 1000L)));
    for (unsigned a = 0; a < 20; ++a)
      for (unsigned b = 0; b < 20; ++b) pr[a][b] += atRate.pr(a, b) / static_cast<double>(rates.size());
  }
  const std::string alphabet = pam.getAlphabet();
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) {
      const double px = pnull[static_cast<unsigned char>(alphabet[x])],
                   py = pnull[static_cast<unsigned char>(alphabet[y])];
      c.match[x][y] = -std::log(0.5 * (px * pr[y][x] + py * pr[x][y]));
    }
}

void setMatchFromJoint(CostTable& c, const PairTable& joint) {
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) c.match[x][y] = -std::log(joint[x][y]);
}

void priceEndGapsAlike(CostTable& c) {
  c.endGapDiscount[stateDelete] = c.trans[stateMatch][stateDelete] - c.trans[stateDelete][stateMatch];
  c.endGapDiscount[stateInsert] = c.trans[stateMatch][stateInsert] - c.trans[stateInsert][stateMatch];
}

void makeLocal(CostTable& c, double endProbability) {
  SC_CHECK(!c.local);
  SC_CHECK(endProbability > 0 && endProbability < 1);
  // The unpaired cost of each residue by index (a residue absent from a
  // sequence never indexes its side of the match table).
  std::array<double, 20> nullS{}, nullT{};
  for (std::size_t k = 0; k < c.nS; ++k) nullS[c.resS[k]] = c.gapS[k];
  for (std::size_t k = 0; k < c.nT; ++k) nullT[c.resT[k]] = c.gapT[k];
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) c.match[x][y] = c.match[x][y] - nullS[x] - nullT[y];
  std::fill(c.gapS.begin(), c.gapS.end(), 0.0);
  std::fill(c.gapT.begin(), c.gapT.end(), 0.0);
  const double stay = -std::log1p(-endProbability);
  for (int y = 0; y < 3; ++y) c.trans[stateMatch][y] += stay;
  c.local = true;
  c.beginCost = 0;
  c.endCost = -std::log(endProbability);
}

void sendOwnCompositions(CostTable& c, const std::vector<double>& fS, const std::vector<double>& fT) {
  SC_CHECK(!c.local && fS.size() == 20 && fT.size() == 20);
  for (std::size_t k = 0; k < c.nS; ++k) c.gapS[k] = -std::log(fS[c.resS[k]]);
  for (std::size_t k = 0; k < c.nT; ++k) c.gapT[k] = -std::log(fT[c.resT[k]]);
  PairTable joint{};
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) joint[x][y] = std::exp(-c.match[x][y]);
  const PairTable q = adjustJoint(joint, fS, fT);
  // A pair of a residue absent from either sequence has probability 0 and is
  // never read.
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) c.match[x][y] = -std::log(q[x][y]);
}

CostTable reversedForSink(const CostTable& forward) {
  CostTable r = forward;
  std::reverse(r.gapS.begin(), r.gapS.end());
  std::reverse(r.gapT.begin(), r.gapT.end());
  std::reverse(r.resS.begin(), r.resS.end());
  std::reverse(r.resT.begin(), r.resT.end());
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) r.trans[x][y] = forward.trans[y][x];
  std::swap(r.startGapDiscount, r.endGapDiscount);
  std::swap(r.beginCost, r.endCost);
  return r;
}

}  // namespace seqcorvane::detail
