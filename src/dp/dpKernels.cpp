#include "dpKernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "check.h"
#include "logSpace.h"
#include "simdRows.h"
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Rolling rows of the best-path fill: per state the transition and emission
// parts of the best path into each cell of one row.
struct PathRows {
  std::vector<double> trans[3], emit[3];
  explicit PathRows(std::size_t width) {
    for (int s = 0; s < 3; ++s) {
      trans[s].assign(width, INF);
      emit[s].assign(width, INF);
    }
  }
};

inline std::uint8_t code(int m, int d, int i) { return static_cast<std::uint8_t>(m | (d << 2) | (i << 4)); }

}  // namespace

std::array<PathCost, 3> fillBestPath(const CostTable& c, TraceCodes& codes, StatePlanes* totals,
                                     const BestPathRowVisitor& visit) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  codes.resize(nS + 1, width);
  if (totals) totals->resize(nS + 1, width);
  PathRows rowA(width), rowB(width);
  PathRows* prev = &rowA;
  PathRows* cur = &rowB;
  // The match costs of each residue against T along the row (index j for
  // T[j-1]), and T's gap costs at the same index.
  // One column more than the row for T's gap costs and I's candidates: the
  // row routine also prepares the candidates of column |T| + 1, unused.
  std::vector<double> profile(20 * width, INF), gapT(width + 1, INF);
  for (int a = 0; a < 20; ++a)
    for (std::size_t j = 1; j <= nT; ++j) profile[a * width + j] = c.match[a][c.resT[j - 1]];
  for (std::size_t j = 1; j <= nT; ++j) gapT[j] = c.gapT[j - 1];
  std::vector<double> candTrans(width + 1), candEmit(width + 1), candTotal(width + 1);
  std::vector<std::uint8_t> candCode(width + 1);

  auto finishRow = [&](std::size_t i) {
    if (totals)
      for (int s = 0; s < 3; ++s) {
        double* t = totals->row(s, i);
        for (std::size_t j = 0; j <= nT; ++j) t[j] = cur->trans[s][j] + cur->emit[s][j];
      }
    if (visit)
      visit(BestPathRow{i,
                        {cur->trans[0].data(), cur->trans[1].data(), cur->trans[2].data()},
                        {cur->emit[0].data(), cur->emit[1].data(), cur->emit[2].data()},
                        codes.row(i)});
  };

  // Row 0. The start cells (0, 0) cost 0 in every state; then only inserts:
  //   I(0,j) = I(0,j-1) + (j = 1 ? ln 3 : trans(I->I)) + gap(T[j-1])
  // M and D are unreachable on row 0.
  std::uint8_t* code0 = codes.row(0);
  for (int s = 0; s < 3; ++s) cur->trans[s][0] = cur->emit[s][0] = 0;
  code0[0] = code(TRACE_NONE, TRACE_NONE, TRACE_NONE);
  for (std::size_t j = 1; j <= nT; ++j) {
    cur->trans[STATE_M][j] = cur->emit[STATE_M][j] = INF;
    cur->trans[STATE_D][j] = cur->emit[STATE_D][j] = INF;
    cur->trans[STATE_I][j] = cur->trans[STATE_I][j - 1] + (j == 1 ? LN3 : c.trans[STATE_I][STATE_I]);
    cur->emit[STATE_I][j] = cur->emit[STATE_I][j - 1] + c.gapT[j - 1];
    code0[j] = code(TRACE_NONE, TRACE_NONE, STATE_I);
  }
  finishRow(0);

  // Interior, row by row; for each target state Y the candidates come from
  // the predecessor states X in the order M, D, I:
  //   M(i,j) <- X(i-1,j-1) + trans(X->M) + match(S[i-1], T[j-1])   (ln 3 instead of trans at (1,1))
  //   D(i,j) <- X(i-1,j)   + trans(X->D) + gap(S[i-1])
  //   I(i,j) <- X(i,j-1)   + trans(X->I) + gap(T[j-1])
  // Each of trans and emit accumulates along the path on its own; the cell
  // takes the candidate of least trans + emit, equal totals keeping the
  // earlier predecessor (M before D before I). M and D read only the
  // previous row and are computed for many columns at once; I reads its own
  // row and follows (bestPathRow).
  // Column 0 holds only deletes:
  //   D(i,0) = D(i-1,0) + (i = 1 ? ln 3 : trans(D->D)) + gap(S[i-1])
  BestRowArgs args;
  args.n = nT;
  args.gapT = gapT.data();
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) args.trans[x][y] = c.trans[x][y];
  args.candTrans = candTrans.data();
  args.candEmit = candEmit.data();
  args.candTotal = candTotal.data();
  args.candCode = candCode.data();
  for (std::size_t i = 1; i <= nS; ++i) {
    std::swap(prev, cur);
    std::uint8_t* codeRow = codes.row(i);
    const double gapS = c.gapS[i - 1];
    cur->trans[STATE_M][0] = cur->emit[STATE_M][0] = INF;
    cur->trans[STATE_I][0] = cur->emit[STATE_I][0] = INF;
    cur->trans[STATE_D][0] = prev->trans[STATE_D][0] + (i == 1 ? LN3 : c.trans[STATE_D][STATE_D]);
    cur->emit[STATE_D][0] = prev->emit[STATE_D][0] + gapS;
    codeRow[0] = code(TRACE_NONE, STATE_D, TRACE_NONE);
    for (int s = 0; s < 3; ++s) {
      args.prevTrans[s] = prev->trans[s].data();
      args.prevEmit[s] = prev->emit[s].data();
      args.curTrans[s] = cur->trans[s].data();
      args.curEmit[s] = cur->emit[s].data();
    }
    args.match = profile.data() + c.resS[i - 1] * width;
    args.gapS = gapS;
    args.firstRow = (i == 1);
    args.codes = codeRow;
    bestPathRow(args);
    finishRow(i);
  }

  std::array<PathCost, 3> end;
  for (int s = 0; s < 3; ++s) {
    const double tr = cur->trans[s][nT], em = cur->emit[s][nT];
    end[s] = PathCost{tr, em, tr + em};
  }
  return end;
}

std::array<double, 3> sumAllPaths(const CostTable& c, StatePlanes* store, const SumRowVisitor& visit) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  if (store) store->resize(nS + 1, width);
  // Row 0: the path starts in M at (0, 0); then only inserts:
  //   F_I(0,1) = ln 3 + gap(T[0]);  F_I(0,j) = F_I(0,j-1) + trans(I->I) + gap(T[j-1])
  std::vector<double> row0[3];
  for (auto& r : row0) r.assign(width, INF);
  row0[STATE_M][0] = 0;
  for (std::size_t j = 1; j <= nT; ++j)
    row0[STATE_I][j] = j == 1 ? LN3 + c.gapT[0] : row0[STATE_I][j - 1] + c.trans[STATE_I][STATE_I] + c.gapT[j - 1];
  const SumRowVisitor keep = [&](const SumRow& r) {
    if (store)
      for (int s = 0; s < 3; ++s) std::copy(r.sum[s], r.sum[s] + width, store->row(s, r.i));
    if (visit) visit(r);
  };
  keep(SumRow{0, {row0[0].data(), row0[1].data(), row0[2].data()}});
  return sumRowsFrom(c, 0, {row0[0].data(), row0[1].data(), row0[2].data()}, nS, keep);
}

std::array<double, 3> sumRowsFrom(const CostTable& c, std::size_t first, const std::array<const double*, 3>& start,
                                  std::size_t last, const SumRowVisitor& visit) {
  const std::size_t nT = c.nT, width = nT + 1;
  std::vector<double> rows[2][3];
  for (auto& r : rows)
    for (auto& s : r) s.assign(width, INF);
  std::vector<double>* prev = rows[0];
  std::vector<double>* cur = rows[1];
  for (int s = 0; s < 3; ++s) std::copy(start[s], start[s] + width, cur[s].begin());

  // Interior: the best-path recurrences with the minimum over the three
  // predecessors replaced by their log-space sum:
  //   F_M(i,j) = lse_X[ F_X(i-1,j-1) + trans(X->M) + match(S[i-1],T[j-1]) ]   (ln 3 at (1,1))
  //   F_D(i,j) = lse_X[ F_X(i-1,j)   + trans(X->D) + gap(S[i-1]) ]
  //   F_I(i,j) = lse_X[ F_X(i,j-1)   + trans(X->I) + gap(T[j-1]) ]
  // Column 0 holds only deletes:
  //   F_D(1,0) = ln 3 + gap(S[0]);  F_D(i,0) = F_D(i-1,0) + trans(D->D) + gap(S[i-1])
  const TransitionTable& t = c.trans;
  for (std::size_t i = first + 1; i <= last; ++i) {
    std::swap(prev, cur);
    const auto& matchRow = c.match[c.resS[i - 1]];
    const double gapS = c.gapS[i - 1];
    cur[STATE_M][0] = cur[STATE_I][0] = INF;
    cur[STATE_D][0] = i == 1 ? LN3 + gapS : prev[STATE_D][0] + t[STATE_D][STATE_D] + gapS;
    for (std::size_t j = 1; j <= nT; ++j) {
      const double match = matchRow[c.resT[j - 1]], gapT = c.gapT[j - 1];
      if (i == 1 && j == 1)
        cur[STATE_M][j] = neglogSum3(prev[0][0] + LN3 + match, prev[1][0] + LN3 + match, prev[2][0] + LN3 + match);
      else
        cur[STATE_M][j] =
            neglogSum3(prev[0][j - 1] + t[STATE_M][STATE_M] + match, prev[1][j - 1] + t[STATE_D][STATE_M] + match,
                       prev[2][j - 1] + t[STATE_I][STATE_M] + match);
      cur[STATE_D][j] = neglogSum3(prev[0][j] + t[STATE_M][STATE_D] + gapS, prev[1][j] + t[STATE_D][STATE_D] + gapS,
                                   prev[2][j] + t[STATE_I][STATE_D] + gapS);
      cur[STATE_I][j] =
          neglogSum3(cur[0][j - 1] + t[STATE_M][STATE_I] + gapT, cur[1][j - 1] + t[STATE_D][STATE_I] + gapT,
                     cur[2][j - 1] + t[STATE_I][STATE_I] + gapT);
    }
    if (visit) visit(SumRow{i, {cur[0].data(), cur[1].data(), cur[2].data()}});
  }
  return {cur[0][nT], cur[1][nT], cur[2][nT]};
}

namespace {

// Flushes results below the smallest normal double to zero while alive: a
// value that small against its row's largest adds nothing to the sum, and
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

double sumAllPathsFast(const CostTable& c, const SumRowVisitor& visit) {
  const FlushSubnormals flush;
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  // Probabilities, e^-cost. Each block of BLOCK columns of a row holds its
  // values times 2^-E, E the block's exponent (EMPTY when all are 0). Along
  // a row the values fall by at most e^-steep per column (steep: the dearest
  // residue plus the dearest way into a gap), so a block of BLOCK columns
  // spans at most e^-(BLOCK steep), kept well inside a double's range; a
  // whole row does not fit.
  double steep = 0;
  for (double g : c.gapT) steep = std::max(steep, g);
  for (double g : c.gapS) steep = std::max(steep, g);
  steep += std::max({c.trans[STATE_M][STATE_I], c.trans[STATE_D][STATE_I], c.trans[STATE_I][STATE_I],
                     c.trans[STATE_M][STATE_D], c.trans[STATE_D][STATE_D], c.trans[STATE_I][STATE_D]});
  const std::size_t blockFit = static_cast<std::size_t>(500.0 / steep) / 8 * 8;
  if (blockFit < 8) return findNeglogSum3(sumAllPaths(c));  // costs too steep: the exact pass
  const std::size_t BLOCK = std::min<std::size_t>(blockFit, 256);
  constexpr long EMPTY = std::numeric_limits<long>::min();
  const std::size_t nBlocks = (width + BLOCK - 1) / BLOCK;
  // gapT, scratch: one column more, for the X(j+1) of a block's last column.
  std::vector<double> profile(20 * width, 0.0), gapT(width + 1, 0.0), stayGapT(width, 0.0), stayGapT4(width, 0.0),
      scratch(width + 1), scratch4(width);
  ProbBlockArgs args;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) args.trans[x][y] = std::exp(-c.trans[x][y]);
  for (int a = 0; a < 20; ++a)
    for (std::size_t j = 1; j <= nT; ++j) profile[a * width + j] = std::exp(-c.match[a][c.resT[j - 1]]);
  for (std::size_t j = 1; j <= nT; ++j) {
    gapT[j] = std::exp(-c.gapT[j - 1]);
    stayGapT[j] = args.trans[STATE_I][STATE_I] * gapT[j];
  }
  for (std::size_t j = 4; j <= nT; ++j)
    stayGapT4[j] = stayGapT[j - 3] * stayGapT[j - 2] * stayGapT[j - 1] * stayGapT[j];
  args.gapT = gapT.data();
  args.stayGapT = stayGapT.data();
  args.stayGapT4 = stayGapT4.data();
  args.scratch = scratch.data();
  args.scratch4 = scratch4.data();
  std::vector<double> rows[2][3];
  for (auto& r : rows)
    for (auto& st : r) st.assign(width, 0.0);
  std::vector<long> exps[2] = {std::vector<long>(nBlocks, EMPTY), std::vector<long>(nBlocks, EMPTY)};
  std::vector<double>* prev = rows[0];
  std::vector<double>* cur = rows[1];
  std::vector<long>* prevExp = &exps[0];
  std::vector<long>* curExp = &exps[1];
  auto factor = [&](long e, long frame) {
    if (e == EMPTY || e - frame < -1100) return 0.0;
    return std::ldexp(1.0, static_cast<int>(e - frame));
  };

  // Row 0 from its message lengths: M(0,0) = 0, I(0,1) = ln 3 + gap(T[0]),
  // I(0,j) = I(0,j-1) + trans(I->I) + gap(T[j-1]).
  {
    std::vector<double> len(width, INF);
    for (std::size_t j = 1; j <= nT; ++j)
      len[j] = j == 1 ? LN3 + c.gapT[0] : len[j - 1] + c.trans[STATE_I][STATE_I] + c.gapT[j - 1];
    for (std::size_t b = 0; b < nBlocks; ++b) {
      const std::size_t j0 = b * BLOCK, j1 = std::min(width, j0 + BLOCK);
      double least = b == 0 ? 0.0 : INF;
      for (std::size_t j = j0; j < j1; ++j) least = std::min(least, len[j]);
      const long e = static_cast<long>(std::floor(-least / LN2));
      (*curExp)[b] = e;
      if (b == 0) cur[STATE_M][0] = std::exp(-e * LN2);
      for (std::size_t j = std::max<std::size_t>(j0, 1); j < j1; ++j) cur[STATE_I][j] = std::exp(-len[j] - e * LN2);
    }
  }

  // A finished row in nits, for a visitor.
  std::vector<double> nits[3];
  auto finishRow = [&](std::size_t i) {
    if (!visit) return;
    for (int st = 0; st < 3; ++st) {
      nits[st].assign(width, INF);
      for (std::size_t j = 0; j < width; ++j) {
        const long e = (*curExp)[j / BLOCK];
        if (e != EMPTY && cur[st][j] > 0) nits[st][j] = -std::log(cur[st][j]) - static_cast<double>(e) * LN2;
      }
    }
    visit(SumRow{i, {nits[0].data(), nits[1].data(), nits[2].data()}});
  };
  finishRow(0);

  // Rows 1..|S|, block by block in each row (probBlock).
  for (std::size_t i = 1; i <= nS; ++i) {
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
      const long frame = std::max((*prevExp)[b], left);
      if (frame == EMPTY) {
        for (int st = 0; st < 3; ++st) std::fill(cur[st].begin() + start, cur[st].begin() + j1, 0.0);
        (*curExp)[b] = EMPTY;
        continue;
      }
      args.fromPrev = factor((*prevExp)[b], frame);
      args.fromPrevLeft = b > 0 ? factor((*prevExp)[b - 1], frame) : 0.0;
      args.fromCurLeft = b > 0 ? factor((*curExp)[b - 1], frame) : 0.0;
      double most = 0;
      if (b == 0) {
        // Column 0 holds only deletes: D(1,0) = M(0,0) / 3 e^-gap(S[0]), D(i,0) = D(i-1,0) p(D->D) e^-gap(S[i-1]).
        cur[STATE_M][0] = cur[STATE_I][0] = 0;
        cur[STATE_D][0] =
            (i == 1 ? prev[STATE_M][0] / 3.0 : prev[STATE_D][0] * args.trans[STATE_D][STATE_D]) * gapS * args.fromPrev;
        most = cur[STATE_D][0];
      }
      args.j0 = b == 0 ? 1 : start;
      args.j1 = j1;
      args.firstRow = (i == 1);
      if (args.j0 < j1) most = std::max(most, probBlock(args));
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
    }
    finishRow(i);
  }
  const long e = (*curExp)[nBlocks - 1];
  const double end = cur[0][nT] + cur[1][nT] + cur[2][nT];
  if (e == EMPTY || !(end > 0)) return INF;
  return -std::log(end) - static_cast<double>(e) * LN2;
}

TraceWalk walkTrace(const TraceCodes& codes, long i, long j, int state) {
  TraceWalk w;
  static const char letters[3] = {'m', 'd', 'i'};
  while (!(i == 0 && j == 0)) {
    if (state < 0 || state > 2) {
      w.complete = false;
      w.i = i;
      w.j = j;
      w.state = 9;  // the code of a cell without predecessor
      return w;
    }
    SC_CHECK(i >= 0 && j >= 0);
    const int next = codes.prev(static_cast<std::size_t>(i), static_cast<std::size_t>(j), state);
    w.letters.push_back(letters[state]);
    if (state != STATE_I) --i;  // M and D consume a residue of S
    if (state != STATE_D) --j;  // M and I consume a residue of T
    state = next == TRACE_NONE ? -1 : next;
  }
  return w;
}
