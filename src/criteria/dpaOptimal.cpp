// The optimal alignment: the best-path fill from the start, the fill from
// every cell to the sink, and the traces along their codes.
#include "check.h"
#include "logSpace.h"
#include "threeStateDPAClass.h"

double threeStateDPAClass_t::bestPathMsgLen(const TraceCodes& codes, const std::array<PathCost, 3>& end) const {
  int k = 0;
  const double total = findMinIvalue(end[0].total, end[1].total, end[2].total, k);
  const TraceWalk w = walkTrace(codes, static_cast<long>(S.size()), static_cast<long>(T.size()), k);
  return total + paramMsgLen + wtCodeLen_nits(static_cast<int>(w.letters.size()));
}

void threeStateDPAClass_t::fillDPMatrices() {
  fwdEnd = fillBestPath(costs(), dpmat, keepTotals ? &fwdTotals : nullptr);
  fwdFilled = true;
  optAlignMsgLen = bestPathMsgLen(dpmat, fwdEnd);
}

void threeStateDPAClass_t::fillDPMatrices_cell2sink() {
  sinkEnd = fillBestPath(reversedForSink(costs()), dpmat_cell2sink, keepTotals ? &sinkTotals : nullptr);
  sinkFilled = true;
  optAlignMsgLen_cell2sink = bestPathMsgLen(dpmat_cell2sink, sinkEnd);
}

// Both traces walk the codes of a fill from a cell back to its (0, 0): the
// start for the forward fill; for the fill to the sink, whose codes are in
// the reversed frame, (i, j) sits at (|S| - i, |T| - j) and its walk back
// there runs forward to the end here, one column per step in column order.
double threeStateDPAClass_t::trace(bool towardsSink, std::string& fsastr, int32_t i, int32_t j, int32_t state) {
  SC_CHECK(towardsSink ? sinkFilled : fwdFilled);
  const TraceCodes& codes = towardsSink ? dpmat_cell2sink : dpmat;
  const std::array<PathCost, 3>& end = towardsSink ? sinkEnd : fwdEnd;
  const long nS = static_cast<long>(S.length()), nT = static_cast<long>(T.length());
  const bool defaultStart = (i == -1 || j == -1 || state == -1);
  double cost;
  TraceWalk w;
  if (defaultStart) {
    int k = 0;
    cost = findMinIvalue(end[0].total, end[1].total, end[2].total, k);
    w = walkTrace(codes, nS, nT, k);
  } else {
    SC_CHECK(i >= 0 && i <= nS);
    SC_CHECK(j >= 0 && j <= nT);
    SC_CHECK(state >= 0 && state <= 2);
    const StatePlanes& totals = towardsSink ? sinkTotals : fwdTotals;
    SC_CHECK(!totals.empty());
    const long fi = towardsSink ? nS - i : i, fj = towardsSink ? nT - j : j;
    cost = totals.at(state, static_cast<size_t>(fi), static_cast<size_t>(fj));
    w = walkTrace(codes, fi, fj, state);
  }
  if (!w.complete) {
    if (towardsSink) w.i = nS - w.i, w.j = nT - w.j;
    corruptPath(w);
  }
  if (towardsSink)
    fsastr = w.letters;
  else
    fsastr.assign(w.letters.rbegin(), w.letters.rend());
  if (!defaultStart) return cost;
  (towardsSink ? cell2sinkFSAstr : optAlignFSAstr) = fsastr;
  return cost + paramMsgLen + wtCodeLen_nits(static_cast<int>(fsastr.length()));
}

double threeStateDPAClass_t::traceback(std::string& fsastr, int32_t i, int32_t j, int32_t state) {
  return trace(false, fsastr, i, j, state);
}

double threeStateDPAClass_t::traceforward(std::string& fsastr, int32_t i, int32_t j, int32_t state) {
  return trace(true, fsastr, i, j, state);
}
