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

namespace seqcorvane::detail {

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
                                     const BestPathRowVisitor& visit, LocalEnd* localEnd) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  // The best paths price the machine as it is.
  SC_CHECK(c.startGapDiscount == decltype(c.startGapDiscount){} && c.endGapDiscount == decltype(c.endGapDiscount){});
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

  // The local hypothesis: no path reaches row 0 or column 0 (the region
  // begins with a match); it ends after a match at the cell of least total.
  LocalEnd bestEnd;
  std::uint8_t* code0 = codes.row(0);
  if (c.local) {
    for (int s = 0; s < 3; ++s) std::fill(cur->trans[s].begin(), cur->trans[s].end(), INF);
    for (int s = 0; s < 3; ++s) std::fill(cur->emit[s].begin(), cur->emit[s].end(), INF);
    std::fill(code0, code0 + width, code(TRACE_NONE, TRACE_NONE, TRACE_NONE));
  }
  // Row 0. The start cells (0, 0) cost 0 in every state; then only inserts:
  //   I(0,j) = I(0,j-1) + (j = 1 ? ln 3 : trans(I->I)) + gap(T[j-1])
  // M and D are unreachable on row 0.
  if (!c.local) {
    for (int s = 0; s < 3; ++s) cur->trans[s][0] = cur->emit[s][0] = 0;
    code0[0] = code(TRACE_NONE, TRACE_NONE, TRACE_NONE);
  }
  for (std::size_t j = 1; j <= nT && !c.local; ++j) {
    cur->trans[stateMatch][j] = cur->emit[stateMatch][j] = INF;
    cur->trans[stateDelete][j] = cur->emit[stateDelete][j] = INF;
    cur->trans[stateInsert][j] = cur->trans[stateInsert][j - 1] + (j == 1 ? LN3 : c.trans[stateInsert][stateInsert]);
    cur->emit[stateInsert][j] = cur->emit[stateInsert][j - 1] + c.gapT[j - 1];
    code0[j] = code(TRACE_NONE, TRACE_NONE, stateInsert);
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
  args.local = c.local;
  args.beginCost = c.beginCost;
  double rowEndTotal = INF;
  std::size_t rowEndColumn = 0;
  args.endTotal = &rowEndTotal;
  args.endColumn = &rowEndColumn;
  for (std::size_t i = 1; i <= nS; ++i) {
    std::swap(prev, cur);
    std::uint8_t* codeRow = codes.row(i);
    const double gapS = c.gapS[i - 1];
    cur->trans[stateMatch][0] = cur->emit[stateMatch][0] = INF;
    cur->trans[stateInsert][0] = cur->emit[stateInsert][0] = INF;
    cur->trans[stateDelete][0] =
        c.local ? INF : prev->trans[stateDelete][0] + (i == 1 ? LN3 : c.trans[stateDelete][stateDelete]);
    cur->emit[stateDelete][0] = c.local ? INF : prev->emit[stateDelete][0] + gapS;
    codeRow[0] = code(TRACE_NONE, c.local ? TRACE_NONE : stateDelete, TRACE_NONE);
    for (int s = 0; s < 3; ++s) {
      args.prevTrans[s] = prev->trans[s].data();
      args.prevEmit[s] = prev->emit[s].data();
      args.curTrans[s] = cur->trans[s].data();
      args.curEmit[s] = cur->emit[s].data();
    }
    args.match = profile.data() + c.resS[i - 1] * width;
    args.gapS = gapS;
    args.firstRow = (i == 1) && !c.local;
    args.codes = codeRow;
    rowEndTotal = INF;
    bestPathRow(args, c.simd);
    finishRow(i);
    // The row's best end replaces the best so far only when strictly cheaper.
    if (c.local && rowEndTotal < bestEnd.cost.total)
      bestEnd = {
          i, rowEndColumn, {cur->trans[stateMatch][rowEndColumn], cur->emit[stateMatch][rowEndColumn], rowEndTotal}};
  }
  if (localEnd != nullptr) *localEnd = bestEnd;

  std::array<PathCost, 3> end;
  for (int s = 0; s < 3; ++s) {
    const double tr = cur->trans[s][nT], em = cur->emit[s][nT];
    end[s] = PathCost{tr, em, tr + em};
  }
  return end;
}

std::vector<double> firstRowInserts(const CostTable& c) {
  std::vector<double> len(c.nT + 1, INF);
  for (std::size_t j = 1; j <= c.nT; ++j)
    len[j] = j == 1 ? LN3 - c.startGapDiscount[stateInsert] + c.gapT[0]
                    : len[j - 1] + c.trans[stateInsert][stateInsert] + c.gapT[j - 1];
  return len;
}

std::array<double, 3> sumAllPaths(const CostTable& c, StatePlanes* store, const SumRowVisitor& visit) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  SC_CHECK(c.startGapDiscount[stateMatch] == 0 && c.endGapDiscount[stateMatch] == 0);  // gaps only
  if (store) store->resize(nS + 1, width);
  // Row 0: the path starts in M at (0, 0); then only inserts.
  std::vector<double> row0[3];
  for (auto& r : row0) r.assign(width, INF);
  if (!c.local) {
    row0[stateMatch][0] = 0;
    row0[stateInsert] = firstRowInserts(c);
  }
  const SumRowVisitor keep = [&](const SumRow& r) {
    if (store)
      for (int s = 0; s < 3; ++s) std::copy(r.sum[s], r.sum[s] + width, store->row(s, r.i));
    if (visit) visit(r);
  };
  keep(SumRow{0, {row0[0].data(), row0[1].data(), row0[2].data()}});
  std::array<double, 3> end = sumRowsFrom(c, 0, {row0[0].data(), row0[1].data(), row0[2].data()}, nS, keep);
  for (int s = 0; s < 3; ++s) end[s] -= c.endGapDiscount[s];
  return end;
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
  //   F_D(1,0) = ln 3 - startGapDiscount(D) + gap(S[0]);  F_D(i,0) = F_D(i-1,0) + trans(D->D) + gap(S[i-1])
  // Under the local hypothesis a region may begin at any match, row 0 and
  // column 0 are unreachable, and the sum runs over its ends:
  //   F_M(i,j) = lse[ begin + match, lse_X( F_X(i-1,j-1) + trans(X->M) + match ) ]
  //   ends = lse_{i,j}[ F_M(i,j) + end ]
  const TransitionTable& t = c.trans;
  double ends = INF;
  std::vector<double> rowEnds(c.local ? nT : 0);
  for (std::size_t i = first + 1; i <= last; ++i) {
    std::swap(prev, cur);
    const auto& matchRow = c.match[c.resS[i - 1]];
    const double gapS = c.gapS[i - 1];
    cur[stateMatch][0] = cur[stateInsert][0] = INF;
    cur[stateDelete][0] = c.local  ? INF
                          : i == 1 ? LN3 - c.startGapDiscount[stateDelete] + gapS
                                   : prev[stateDelete][0] + t[stateDelete][stateDelete] + gapS;
    for (std::size_t j = 1; j <= nT; ++j) {
      const double match = matchRow[c.resT[j - 1]], gapT = c.gapT[j - 1];
      if (!c.local && i == 1 && j == 1)
        cur[stateMatch][j] = neglogSum3(prev[0][0] + LN3 + match, prev[1][0] + LN3 + match, prev[2][0] + LN3 + match);
      else if (c.local) {  // or the region begins here
        const double into[4] = {prev[0][j - 1] + t[stateMatch][stateMatch] + match,
                                prev[1][j - 1] + t[stateDelete][stateMatch] + match,
                                prev[2][j - 1] + t[stateInsert][stateMatch] + match, c.beginCost + match};
        cur[stateMatch][j] = neglogSumUnordered(into, 4);
      } else {
        cur[stateMatch][j] = neglogSum3(prev[0][j - 1] + t[stateMatch][stateMatch] + match,
                                        prev[1][j - 1] + t[stateDelete][stateMatch] + match,
                                        prev[2][j - 1] + t[stateInsert][stateMatch] + match);
      }
      cur[stateDelete][j] =
          neglogSum3(prev[0][j] + t[stateMatch][stateDelete] + gapS, prev[1][j] + t[stateDelete][stateDelete] + gapS,
                     prev[2][j] + t[stateInsert][stateDelete] + gapS);
      cur[stateInsert][j] = neglogSum3(cur[0][j - 1] + t[stateMatch][stateInsert] + gapT,
                                       cur[1][j - 1] + t[stateDelete][stateInsert] + gapT,
                                       cur[2][j - 1] + t[stateInsert][stateInsert] + gapT);
      if (c.local) rowEnds[j - 1] = cur[stateMatch][j] + c.endCost;
    }
    if (c.local) ends = neglogSum3(ends, neglogSumUnordered(rowEnds.data(), nT), INF);
    if (visit) visit(SumRow{i, {cur[0].data(), cur[1].data(), cur[2].data()}});
  }
  if (c.local) return {ends, INF, INF};
  return {cur[0][nT], cur[1][nT], cur[2][nT]};
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
    if (state != stateInsert) --i;  // M and D consume a residue of S
    if (state != stateDelete) --j;  // M and I consume a residue of T
    state = next == TRACE_NONE ? -1 : next;
  }
  return w;
}

TraceWalk walkLocalTrace(const TraceCodes& codes, long i, long j, int state) {
  TraceWalk w;
  static const char letters[3] = {'m', 'd', 'i'};
  while (true) {
    const bool reachable =
        state >= 0 && state <= 2 && (state == stateInsert || i > 0) && (state == stateDelete || j > 0);
    if (!reachable) {
      w.complete = false;
      w.i = i;
      w.j = j;
      w.state = 9;  // the code of a cell without predecessor
      return w;
    }
    const int next = codes.prev(static_cast<std::size_t>(i), static_cast<std::size_t>(j), state);
    w.letters.push_back(letters[state]);
    if (state != stateInsert) --i;
    if (state != stateDelete) --j;
    if (next == TRACE_NONE && state == stateMatch) {  // the region begins with this match
      w.i = i;
      w.j = j;
      return w;
    }
    state = next == TRACE_NONE ? -1 : next;
  }
}

}  // namespace seqcorvane::detail
