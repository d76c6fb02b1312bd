#include "dpKernels.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

#include "check.h"

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// Index (0, 1, 2) of the least of three totals; ties go to the lower index.
inline int argMin3(double t0, double t1, double t2) {
  int k = 0;
  double best = t0;
  if (best > t1) {
    k = 1;
    best = t1;
  }
  if (best > t2) k = 2;
  return k;
}

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

// The best of three candidates for one target cell, one per neighbouring
// state k of the neighbour row: the neighbour's parts plus the step cost
// step[k] and the emission; equal totals keep the lower state code.
// Returns the chosen state.
inline int relax(const PathRows& from, std::size_t j, const double (&step)[3], double emitCost, double& trans,
                 double& emit) {
  double tr[3], em[3], tot[3];
  for (int k = 0; k < 3; ++k) {
    tr[k] = from.trans[k][j] + step[k];
    em[k] = from.emit[k][j] + emitCost;
    tot[k] = tr[k] + em[k];
  }
  const int k = argMin3(tot[0], tot[1], tot[2]);
  trans = tr[k];
  emit = em[k];
  return k;
}

inline std::uint8_t code(int m, int d, int i) { return static_cast<std::uint8_t>(m | (d << 2) | (i << 4)); }

}  // namespace

double neglogSumOfSorted(const double* v, std::size_t n) {
  // Skip the -infinity entries: the reference is the smallest finite value
  // (the largest probability), so every term below is at most 1. A NaN is
  // taken as finite.
  std::size_t p = 0;
  while (p < n && std::fabs(v[p]) > DBL_MAX) ++p;
  if (p >= n) return INF;  // nothing finite: probability 0
  const double r = v[p];
  if (p == n - 1) return r;
  double s = 0;
  for (std::size_t q = p + 1; q < n; ++q) s += std::exp(r - v[q]);
  return r - std::log1p(s);
}

double neglogSum3(double a, double b, double c) {
  if (b < a) std::swap(a, b);
  if (c < b) std::swap(b, c);
  if (b < a) std::swap(a, b);
  const double v[3] = {a, b, c};
  return neglogSumOfSorted(v, 3);
}

std::array<PathCost, 3> fillBestPath(const CostTable& c, TraceCodes& codes, StatePlanes* totals,
                                     const BestPathRowVisitor& visit) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  codes.resize(nS + 1, width);
  if (totals) totals->resize(nS + 1, width);
  PathRows rowA(width), rowB(width);
  PathRows* prev = &rowA;
  PathRows* cur = &rowB;

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
  // earlier predecessor (M before D before I).
  // Column 0 holds only deletes:
  //   D(i,0) = D(i-1,0) + (i = 1 ? ln 3 : trans(D->D)) + gap(S[i-1])
  const double startStep[3] = {LN3, LN3, LN3};
  double intoM[3], intoD[3], intoI[3];
  for (int x = 0; x < 3; ++x) {
    intoM[x] = c.trans[x][STATE_M];
    intoD[x] = c.trans[x][STATE_D];
    intoI[x] = c.trans[x][STATE_I];
  }
  for (std::size_t i = 1; i <= nS; ++i) {
    std::swap(prev, cur);
    std::uint8_t* codeRow = codes.row(i);
    const auto& matchRow = c.match[c.resS[i - 1]];
    const double gapS = c.gapS[i - 1];

    cur->trans[STATE_M][0] = cur->emit[STATE_M][0] = INF;
    cur->trans[STATE_I][0] = cur->emit[STATE_I][0] = INF;
    cur->trans[STATE_D][0] = prev->trans[STATE_D][0] + (i == 1 ? LN3 : c.trans[STATE_D][STATE_D]);
    cur->emit[STATE_D][0] = prev->emit[STATE_D][0] + gapS;
    codeRow[0] = code(TRACE_NONE, STATE_D, TRACE_NONE);

    for (std::size_t j = 1; j <= nT; ++j) {
      const bool first = (i == 1 && j == 1);
      double tr, em;
      // M and D read the previous row; I reads this row's column j-1, whose
      // three states are final by now.
      const int km = relax(*prev, j - 1, first ? startStep : intoM, matchRow[c.resT[j - 1]], tr, em);
      cur->trans[STATE_M][j] = tr;
      cur->emit[STATE_M][j] = em;
      const int kd = relax(*prev, j, intoD, gapS, tr, em);
      cur->trans[STATE_D][j] = tr;
      cur->emit[STATE_D][j] = em;
      const int ki = relax(*cur, j - 1, intoI, c.gapT[j - 1], tr, em);
      cur->trans[STATE_I][j] = tr;
      cur->emit[STATE_I][j] = em;
      codeRow[j] = code(km, kd, ki);
    }
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
  std::vector<double> rows[2][3];
  for (auto& r : rows)
    for (auto& s : r) s.assign(width, INF);
  std::vector<double>* prev = rows[0];
  std::vector<double>* cur = rows[1];

  auto finishRow = [&](std::size_t i) {
    if (store)
      for (int s = 0; s < 3; ++s) std::copy(cur[s].begin(), cur[s].end(), store->row(s, i));
    if (visit) visit(SumRow{i, {cur[0].data(), cur[1].data(), cur[2].data()}});
  };

  // Row 0: the path starts in M at (0, 0); then only inserts:
  //   F_I(0,1) = ln 3 + gap(T[0]);  F_I(0,j) = F_I(0,j-1) + trans(I->I) + gap(T[j-1])
  cur[STATE_M][0] = 0;
  cur[STATE_D][0] = cur[STATE_I][0] = INF;
  for (std::size_t j = 1; j <= nT; ++j) {
    cur[STATE_M][j] = cur[STATE_D][j] = INF;
    cur[STATE_I][j] = j == 1 ? LN3 + c.gapT[0] : cur[STATE_I][j - 1] + c.trans[STATE_I][STATE_I] + c.gapT[j - 1];
  }
  finishRow(0);

  // Interior: the best-path recurrences with the minimum over the three
  // predecessors replaced by their log-space sum:
  //   F_M(i,j) = lse_X[ F_X(i-1,j-1) + trans(X->M) + match(S[i-1],T[j-1]) ]   (ln 3 at (1,1))
  //   F_D(i,j) = lse_X[ F_X(i-1,j)   + trans(X->D) + gap(S[i-1]) ]
  //   F_I(i,j) = lse_X[ F_X(i,j-1)   + trans(X->I) + gap(T[j-1]) ]
  // Column 0 holds only deletes:
  //   F_D(1,0) = ln 3 + gap(S[0]);  F_D(i,0) = F_D(i-1,0) + trans(D->D) + gap(S[i-1])
  const TransitionTable& t = c.trans;
  for (std::size_t i = 1; i <= nS; ++i) {
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
        cur[STATE_M][j] = neglogSum3(prev[0][j - 1] + t[STATE_M][STATE_M] + match,
                                     prev[1][j - 1] + t[STATE_D][STATE_M] + match,
                                     prev[2][j - 1] + t[STATE_I][STATE_M] + match);
      cur[STATE_D][j] = neglogSum3(prev[0][j] + t[STATE_M][STATE_D] + gapS, prev[1][j] + t[STATE_D][STATE_D] + gapS,
                                   prev[2][j] + t[STATE_I][STATE_D] + gapS);
      cur[STATE_I][j] = neglogSum3(cur[0][j - 1] + t[STATE_M][STATE_I] + gapT, cur[1][j - 1] + t[STATE_D][STATE_I] + gapT,
                                   cur[2][j - 1] + t[STATE_I][STATE_I] + gapT);
    }
    finishRow(i);
  }
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
    if (state != STATE_I) --i;  // M and D consume a residue of S
    if (state != STATE_D) --j;  // M and I consume a residue of T
    state = next == TRACE_NONE ? -1 : next;
  }
  return w;
}
