#include "fastSums.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "check.h"
#include "codeLengths.h"
#include "logSpace.h"
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace seqcorvane::detail {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Flushes results below the smallest normal double to zero while alive: a
// value that small against its block's largest adds nothing to the sum, and
// arithmetic on subnormal numbers is many times slower.
class FlushSubnormals {
 public:
#if defined(__SSE2__)
  FlushSubnormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040); }  // FTZ and DAZ
  ~FlushSubnormals() { _mm_setcsr(saved); }

 private:
  unsigned saved;
#endif
};

}  // namespace

FastSumPass::FastSumPass(const CostTable& c_) : c(c_), nS(c_.nS), nT(c_.nT), width(c_.nT + 1) {
  SC_CHECK(c.startGapDiscount[stateMatch] == 0 && c.endGapDiscount[stateMatch] == 0);  // gaps only
  // Probabilities, e^-cost. Along a row the values fall by at most e^-steep
  // per column (steep: the dearest residue plus the dearest way into a gap),
  // so a block of BLOCK columns spans at most e^-(BLOCK steep), kept well
  // inside a double's range; a whole row does not fit.
  double steep = 0;
  for (double g : c.gapT) steep = std::max(steep, g);
  for (double g : c.gapS) steep = std::max(steep, g);
  steep += std::max({c.trans[stateMatch][stateInsert], c.trans[stateDelete][stateInsert],
                     c.trans[stateInsert][stateInsert], c.trans[stateMatch][stateDelete],
                     c.trans[stateDelete][stateDelete], c.trans[stateInsert][stateDelete]});
  const std::size_t blockFit = static_cast<std::size_t>(500.0 / steep) / 8 * 8;
  if (blockFit < 8) return;  // costs too steep
  BLOCK = std::min<std::size_t>(blockFit, 256);
  nBlocks = (width + BLOCK - 1) / BLOCK;
  // gapT, scratch: one column more, for the X(j+1) of a block's last column.
  profile.assign(20 * width, 0.0);
  gapT.assign(width + 1, 0.0);
  stayGapT.assign(width, 0.0);
  stayGapT4.assign(width, 0.0);
  scratch.resize(width + 1);
  scratch4.resize(width);
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) args.trans[x][y] = std::exp(-c.trans[x][y]);
  for (int a = 0; a < 20; ++a)
    for (std::size_t j = 1; j <= nT; ++j) profile[a * width + j] = std::exp(-c.match[a][c.resT[j - 1]]);
  for (std::size_t j = 1; j <= nT; ++j) {
    gapT[j] = std::exp(-c.gapT[j - 1]);
    stayGapT[j] = args.trans[stateInsert][stateInsert] * gapT[j];
  }
  for (std::size_t j = 4; j <= nT; ++j)
    stayGapT4[j] = stayGapT[j - 3] * stayGapT[j - 2] * stayGapT[j - 1] * stayGapT[j];
  args.gapT = gapT.data();
  args.stayGapT = stayGapT.data();
  args.stayGapT4 = stayGapT4.data();
  args.scratch = scratch.data();
  args.scratch4 = scratch4.data();
  for (auto& r : rows)
    for (auto& st : r) st.assign(width, 0.0);
  exps[0].assign(nBlocks, EMPTY);
  exps[1].assign(nBlocks, EMPTY);
  prev = rows[0];
  cur = rows[1];
  prevExp = &exps[0];
  curExp = &exps[1];
}

// 2^(e - frame), built from its bits (e never exceeds the frame). Below the
// normal doubles it is 0: the passes run with subnormal inputs taken as 0.
double FastSumPass::factor(long e, long frame) const {
  if (e == EMPTY || e - frame < -1022) return 0.0;
  const std::uint64_t bits = static_cast<std::uint64_t>(e - frame + 1023) << 52;
  double f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void FastSumPass::start() {
  SC_CHECK(usable());
  i = 0;
  ends = INF;
  if (c.local) {  // nothing reaches row 0: the region begins with a match
    for (int st = 0; st < 3; ++st) std::fill(cur[st].begin(), cur[st].end(), 0.0);
    std::fill(curExp->begin(), curExp->end(), EMPTY);
    return;
  }
  // Row 0 from its message lengths: M(0,0) = 0, then the inserts of the log-space pass.
  const std::vector<double> len = firstRowInserts(c);
  for (int st = 0; st < 3; ++st) std::fill(cur[st].begin(), cur[st].end(), 0.0);
  for (std::size_t b = 0; b < nBlocks; ++b) {
    const std::size_t j0 = b * BLOCK, j1 = std::min(width, j0 + BLOCK);
    double least = b == 0 ? 0.0 : INF;
    for (std::size_t j = j0; j < j1; ++j) least = std::min(least, len[j]);
    const long e = static_cast<long>(std::floor(-least / LN2));
    (*curExp)[b] = e;
    if (b == 0) cur[stateMatch][0] = std::exp(-e * LN2);
    for (std::size_t j = std::max<std::size_t>(j0, 1); j < j1; ++j) cur[stateInsert][j] = std::exp(-len[j] - e * LN2);
  }
}

// Row i from row i - 1, block by block (probBlock).
void FastSumPass::next() {
  const FlushSubnormals flush;
  SC_CHECK(i < nS);
  ++i;
  std::swap(prev, cur);
  std::swap(prevExp, curExp);
  const double gapS = std::exp(-c.gapS[i - 1]);
  for (int st = 0; st < 3; ++st) {
    args.prev[st] = prev[st].data();
    args.cur[st] = cur[st].data();
  }
  args.match = profile.data() + c.resS[i - 1] * width;
  args.gapS = gapS;
  for (std::size_t b = 0; b < nBlocks; ++b) {
    const std::size_t start = b * BLOCK, j1 = std::min(width, start + BLOCK);
    const long left = b > 0 ? std::max((*prevExp)[b - 1], (*curExp)[b - 1]) : EMPTY;
    // Under the local hypothesis every cell may begin a region (at least at
    // the scale of 1): no block is empty, and no frame below 1.
    const long frame = c.local ? std::max({(*prevExp)[b], left, 0L}) : std::max((*prevExp)[b], left);
    if (frame == EMPTY) {
      for (int st = 0; st < 3; ++st) std::fill(cur[st].begin() + start, cur[st].begin() + j1, 0.0);
      (*curExp)[b] = EMPTY;
      continue;
    }
    args.fromPrev = factor((*prevExp)[b], frame);
    args.fromPrevLeft = b > 0 ? factor((*prevExp)[b - 1], frame) : 0.0;
    args.fromCurLeft = b > 0 ? factor((*curExp)[b - 1], frame) : 0.0;
    args.begin = c.local ? std::exp(-c.beginCost) * factor(0, frame) : 0.0;
    double most = 0;
    if (b == 0 && c.local) {
      for (int st = 0; st < 3; ++st) cur[st][0] = 0;
    } else if (b == 0) {
      // Column 0 holds only deletes: D(1,0) = M(0,0) / 3 e^startGapDiscount(D) e^-gap(S[0]),
      // D(i,0) = D(i-1,0) p(D->D) e^-gap(S[i-1]).
      cur[stateMatch][0] = cur[stateInsert][0] = 0;
      cur[stateDelete][0] = (i == 1 ? prev[stateMatch][0] / 3.0 * std::exp(c.startGapDiscount[stateDelete])
                                    : prev[stateDelete][0] * args.trans[stateDelete][stateDelete]) *
                            gapS * args.fromPrev;
      most = cur[stateDelete][0];
    }
    args.j0 = b == 0 ? 1 : start;
    args.j1 = j1;
    args.firstRow = (i == 1) && !c.local;
    args.local = c.local;
    if (args.j0 < j1) most = std::max(most, probBlock(args, c.simd));
    if (!(most > 0) || !std::isfinite(most)) {
      for (int st = 0; st < 3; ++st) std::fill(cur[st].begin() + start, cur[st].begin() + j1, 0.0);
      (*curExp)[b] = EMPTY;
      continue;
    }
    // Rescaled only when its values drift far from 1: every few rows.
    const int e = std::ilogb(most);
    if (e < -16 || e > 16) {
      const double f = std::ldexp(1.0, -e);
      for (int st = 0; st < 3; ++st)
        for (std::size_t j = start; j < j1; ++j) cur[st][j] *= f;
      (*curExp)[b] = frame + e;
    } else {
      (*curExp)[b] = frame;
    }
    if (c.local) {
      // The region may end after the match of every cell of the block.
      double sum = 0;
      for (std::size_t j = std::max<std::size_t>(start, 1); j < j1; ++j) sum += cur[stateMatch][j];
      if (sum > 0) ends = neglogSum3(ends, -std::log(sum) - static_cast<double>((*curExp)[b]) * LN2, INF);
    }
  }
}

double FastSumPass::cost(int state, std::size_t j) const {
  const long e = (*curExp)[j / BLOCK];
  if (e == EMPTY || !(cur[state][j] > 0)) return INF;
  return -std::log(cur[state][j]) - static_cast<double>(e) * LN2;
}

FastSumPass::Snapshot FastSumPass::save() const {
  Snapshot s;
  saveInto(s);
  return s;
}

void FastSumPass::saveInto(Snapshot& s) const {
  s.i = i;
  s.ends = ends;
  for (int st = 0; st < 3; ++st) s.values[st].assign(cur[st].begin(), cur[st].end());
  s.exps.assign(curExp->begin(), curExp->end());
}

void FastSumPass::restore(const Snapshot& s) {
  i = s.i;
  ends = s.ends;
  for (int st = 0; st < 3; ++st) cur[st] = s.values[st];
  *curExp = s.exps;
}

double FastSumPass::endCost() const {
  SC_CHECK(i == nS);
  if (c.local) return ends + c.endCost;
  const long e = (*curExp)[nBlocks - 1];
  const double end = cur[0][nT] + cur[1][nT] * std::exp(c.endGapDiscount[stateDelete]) +
                     cur[2][nT] * std::exp(c.endGapDiscount[stateInsert]);
  if (e == EMPTY || !(end > 0)) return INF;
  return -std::log(end) - static_cast<double>(e) * LN2;
}

double sumAllPathsFast(const CostTable& c, const SumRowVisitor& visit) {
  FastSumPass pass(c);
  if (!pass.usable()) return findNeglogSum3(sumAllPaths(c));  // costs too steep: the exact pass
  // A finished row in nits, for a visitor.
  std::vector<double> nits[3];
  auto finishRow = [&] {
    if (!visit) return;
    for (int st = 0; st < 3; ++st) {
      nits[st].resize(c.nT + 1);
      for (std::size_t j = 0; j <= c.nT; ++j) nits[st][j] = pass.cost(st, j);
    }
    visit(SumRow{pass.row(), {nits[0].data(), nits[1].data(), nits[2].data()}});
  };
  pass.start();
  finishRow();
  while (pass.row() < c.nS) {
    pass.next();
    finishRow();
  }
  return pass.endCost();
}

}  // namespace seqcorvane::detail
