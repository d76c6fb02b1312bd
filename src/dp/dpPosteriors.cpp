#include "dpPosteriors.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "check.h"
#include "dpKernels.h"
#include "fastSums.h"
#include "logSpace.h"
#include "throughCell.h"

namespace seqcorvane::detail {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

// The cells where a path's matched columns end, by row; pathPairs sized to the path.
std::vector<std::vector<std::pair<std::size_t, std::size_t>>> matchedCells(const std::string* path, std::size_t nS,
                                                                           std::size_t nT,
                                                                           std::vector<double>* pathPairs) {
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> at(nS + 1);
  if (path == nullptr) return at;
  pathPairs->assign(path->size(), std::numeric_limits<double>::quiet_NaN());
  std::size_t i = 0, j = 0;
  for (std::size_t l = 0; l < path->size(); ++l) {
    const char st = (*path)[l];
    i += st != 'i';
    j += st != 'd';
    SC_CHECK(i <= nS && j <= nT);
    if (st == 'm') at[i].emplace_back(j, l);
  }
  return at;
}

// Under the local hypothesis a residue is unpaired in a flank as in a gap
// column: its posterior of being unpaired is 1 less its pair posteriors.
void unpairedFromPairs(Posteriors& p, const std::vector<double>& pairedS, const std::vector<double>& pairedT) {
  for (std::size_t i = 0; i < p.nS; ++i) p.unpairedS[i] = std::max(0.0, 1.0 - pairedS[i]);
  for (std::size_t j = 0; j < p.nT; ++j) p.unpairedT[j] = std::max(0.0, 1.0 - pairedT[j]);
}

}  // namespace

double forEachRowOfBothSums(const CostTable& c, const std::function<void(const RowOfBothSums&)>& visit) {
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  const std::size_t k = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(std::sqrt(nS + 1.0))));
  const CostTable reversed = reversedForSink(c);
  // The pass to the sink, over the reversed pair: row r there is row |S| - r
  // here, column j there column |T| - j here. Rows 0, k, 2k, ... are kept.
  std::map<std::size_t, std::vector<double>> checkpoints;  // the three states one after another
  auto keep = [&](std::vector<double>& to, const SumRow& r) {
    to.resize(3 * width);
    for (int s = 0; s < 3; ++s) std::copy(r.sum[s], r.sum[s] + width, to.begin() + s * width);
  };
  const std::array<double, 3> total = sumAllPaths(reversed, nullptr, [&](const SumRow& r) {
    if (r.i % k == 0) keep(checkpoints[r.i], r);
  });
  const double allPaths = neglogSum3(total[0], total[1], total[2]);

  std::vector<std::vector<double>> segment;  // reversed rows base .. base + k - 1
  std::size_t base = std::numeric_limits<std::size_t>::max();
  std::vector<double> sinkRow[3];
  for (auto& r : sinkRow) r.assign(width, INF);
  sumAllPaths(c, nullptr, [&](const SumRow& f) {
    const std::size_t r = nS - f.i;
    if (base == std::numeric_limits<std::size_t>::max() || r < base || r >= base + segment.size()) {
      base = r / k * k;
      const std::vector<double>& from = checkpoints.at(base);
      segment.assign(1, from);
      const std::size_t last = std::min(nS, base + k - 1);
      if (last > base)
        sumRowsFrom(reversed, base, {from.data(), from.data() + width, from.data() + 2 * width}, last,
                    [&](const SumRow& g) {
                      segment.emplace_back();
                      keep(segment.back(), g);
                    });
    }
    const std::vector<double>& g = segment[r - base];
    for (int s = 0; s < 3; ++s)
      for (std::size_t j = 0; j <= nT; ++j) sinkRow[s][j] = g[s * width + (nT - j)];
    visit(RowOfBothSums{
        f.i, {f.sum[0], f.sum[1], f.sum[2]}, {sinkRow[0].data(), sinkRow[1].data(), sinkRow[2].data()}, allPaths});
  });
  return allPaths;
}

Posteriors computePosteriors(const CostTable& c, bool keepPairs, const std::string* path,
                             std::vector<double>* pathPairs) {
  const std::size_t nS = c.nS, nT = c.nT;
  Posteriors p;
  p.nS = nS;
  p.nT = nT;
  if (keepPairs) p.pair.assign(nS * nT, 0.0f);
  p.unpairedS.assign(nS, 0.0);
  p.unpairedT.assign(nT, 0.0);
  const auto matchedAt = matchedCells(path, nS, nT, pathPairs);
  // The probability of the paths whose column in state X ends at (i, j):
  // e^(Z - L_X(i,j)), L_X their message length (throughCell.h; at the end
  // cell F_X(i,j) less X's end gap discount).
  // A residue of S is unpaired in the paths whose D column consumes it, one
  // of T in those whose I column does.
  std::vector<double> pairedS(nS, 0.0), pairedT(nT, 0.0);
  forEachRowOfBothSums(c, [&](const RowOfBothSums& r) {
    const std::size_t i = r.i;
    const double allPaths = r.allPaths;
    std::vector<double> pm(nT + 1, 0.0);
    for (std::size_t j = (i == 0 ? 1 : 0); j <= nT; ++j) {
      double prob[3];
      for (int x = 0; x < 3; ++x) {
        const double f = r.fwd[x][j];
        const double g[3] = {r.sink[0][j], r.sink[1][j], r.sink[2][j]};
        double len;
        if (c.local) {  // no end-column charge; after a match the region may end
          len = neglogSum3(f + c.trans[x][0] + g[0], f + c.trans[x][1] + g[1], f + c.trans[x][2] + g[2]);
          if (x == stateMatch) len = neglogSum3(f + c.endCost, len, INF);
        } else if (i == nS && j == nT)
          len = f - c.endGapDiscount[x];
        else
          len = pathsThroughCellIn(x, f, c.trans, g);
        prob[x] = std::isinf(len) ? 0.0 : std::exp(allPaths - len);
      }
      if (c.local && i >= 1 && j >= 1) pairedS[i - 1] += prob[stateMatch], pairedT[j - 1] += prob[stateMatch];
      if (i >= 1 && j >= 1) {
        pm[j] = prob[stateMatch];
        if (keepPairs) p.pair[(i - 1) * nT + (j - 1)] = static_cast<float>(prob[stateMatch]);
      }
      if (i >= 1) p.unpairedS[i - 1] += prob[stateDelete];
      if (j >= 1) p.unpairedT[j - 1] += prob[stateInsert];
    }
    for (const auto& at : matchedAt[i]) (*pathPairs)[at.second] = pm[at.first];
  });
  if (c.local) unpairedFromPairs(p, pairedS, pairedT);
  return p;
}

Posteriors computePosteriorsFast(const CostTable& c, bool keepPairs, const std::string* path,
                                 std::vector<double>* pathPairs) {
  const CostTable reversed = reversedForSink(c);
  FastSumPass fwd(c), sink(reversed);
  if (!fwd.usable() || !sink.usable()) return computePosteriors(c, keepPairs, path, pathPairs);
  const std::size_t nS = c.nS, nT = c.nT, width = nT + 1;
  Posteriors p;
  p.nS = nS;
  p.nT = nT;
  if (keepPairs) p.pair.assign(nS * nT, 0.0f);
  p.unpairedS.assign(nS, 0.0);
  p.unpairedT.assign(nT, 0.0);
  const auto matchedAt = matchedCells(path, nS, nT, pathPairs);

  // The pass to the sink over the reversed pair, a snapshot every k rows:
  // row r there is row |S| - r here, column j there column |T| - j here.
  const std::size_t k = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(std::sqrt(nS + 1.0))));
  std::vector<FastSumPass::Snapshot> checkpoints;
  sink.start();
  checkpoints.push_back(sink.save());
  while (sink.row() < nS) {
    sink.next();
    if (sink.row() % k == 0) checkpoints.push_back(sink.save());
  }
  // Z, the probability of all paths, as e^-allPaths = zMantissa 2^-zExponent.
  const double allPaths = sink.endCost();
  if (!std::isfinite(allPaths)) return computePosteriors(c, keepPairs, path, pathPairs);
  const double zBits = allPaths / LN2;
  const long zExponent = static_cast<long>(std::floor(zBits));
  const double zMantissa = std::exp2(zBits - static_cast<double>(zExponent));  // 2^(allPaths/ln 2 - zExponent)
  double pt[3][3];
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) pt[x][y] = std::exp(-c.trans[x][y]);
  // The local hypothesis: the pairs of each residue, and the weight of a
  // region's end after a match.
  std::vector<double> pairedS(c.local ? nS : 0, 0.0), pairedT(c.local ? nT : 0, 0.0);
  const double endWeight = std::exp(-c.endCost);

  // The probability of the paths whose column in state X ends at (i, j):
  //   F_X(i,j) sum_Y p(X->Y) G_Y(i,j) 3 / Z     (3: one end-column charge of ln 3 taken back)
  //   (local: F_M(i,j) [sum_Y p(M->Y) G_Y(i,j) + e^-end] / Z, no charge taken back)
  //   F_X(i,j) e^endGapDiscount(X) / Z at the end cell,
  // each value its block's mantissa times 2^exponent (throughCell.h states it in nits).
  // The rows of the current segment, recomputed from its checkpoint; the
  // snapshots are kept and written over from one segment to the next.
  std::vector<FastSumPass::Snapshot> segment(std::min(k, nS + 1));
  std::size_t base = std::numeric_limits<std::size_t>::max(), segmentRows = 0;
  std::vector<double> scale(width);
  const std::size_t fBlock = fwd.blockWidth(), gBlock = sink.blockWidth();
  auto scaleOf = [&](long e, double m) {
    return e < -1100 ? 0.0 : e > 1100 ? std::numeric_limits<double>::infinity() : std::ldexp(m, static_cast<int>(e));
  };
  fwd.start();
  while (true) {
    const std::size_t i = fwd.row(), r = nS - i;
    if (base == std::numeric_limits<std::size_t>::max() || r < base || r >= base + segmentRows) {
      base = r / k * k;
      sink.restore(checkpoints.at(base / k));
      sink.saveInto(segment[0]);
      segmentRows = 1;
      const std::size_t last = std::min(nS, base + k - 1);
      while (sink.row() < last) {
        sink.next();
        sink.saveInto(segment.at(segmentRows++));
      }
    }
    const FastSumPass::Snapshot& g = segment[r - base];
    const double *fM = fwd.values(stateMatch), *fD = fwd.values(stateDelete), *fI = fwd.values(stateInsert);
    const double *gM = g.values[stateMatch].data(), *gD = g.values[stateDelete].data(),
                 *gI = g.values[stateInsert].data();
    float* pairRow = keepPairs && i >= 1 ? p.pair.data() + (i - 1) * nT - 1 : nullptr;
    if (c.local) {
      // The region may end after a match: the end's weight in the frame of
      // the row to the sink (an empty block of it holds only the end).
      if (i >= 1)
        for (std::size_t j = 1; j <= nT; ++j) {
          const long eF = fwd.exponent(j / fBlock), eG0 = g.exps[(nT - j) / gBlock];
          if (eF == FastSumPass::EMPTY) continue;
          const bool noSink = eG0 == FastSumPass::EMPTY;  // the region can only end here
          const long eG = noSink ? 0 : eG0;
          const std::size_t gj = nT - j;
          const double gm = noSink ? 0.0 : gM[gj], gd = noSink ? 0.0 : gD[gj], gi = noSink ? 0.0 : gI[gj];
          const double s = scaleOf(eF + eG + zExponent, zMantissa);
          const double probM = fM[j] * (pt[0][0] * gm + pt[0][1] * gd + pt[0][2] * gi + scaleOf(-eG, endWeight)) * s;
          if (pairRow != nullptr) pairRow[j] = static_cast<float>(probM);
          pairedS[i - 1] += probM;
          pairedT[j - 1] += probM;
          for (const auto& at : matchedAt[i])
            if (at.first == j) (*pathPairs)[at.second] = probM;
        }
      if (i == nS) break;
      fwd.next();
      continue;
    }
    // The scale of each column: runs of columns share the blocks of both rows.
    for (std::size_t j = 0; j < width;) {
      const std::size_t fb = j / fBlock, gb = (nT - j) / gBlock;
      const std::size_t runEnd = std::min((fb + 1) * fBlock, nT - gb * gBlock + 1);
      const long eF = fwd.exponent(fb), eG = g.exps[gb];
      const double s =
          eF == FastSumPass::EMPTY || eG == FastSumPass::EMPTY ? 0.0 : scaleOf(eF + eG + zExponent, 3 * zMantissa);
      for (; j < std::min(runEnd, width); ++j) scale[j] = s;
    }
    const std::size_t jEnd = i == nS ? nT : width;  // the end cell apart
    for (std::size_t j = (i == 0 ? 1 : 0); j < jEnd; ++j) {
      const std::size_t gj = nT - j;
      const double s = scale[j];
      const double probM = fM[j] * (pt[0][0] * gM[gj] + pt[0][1] * gD[gj] + pt[0][2] * gI[gj]) * s;
      const double probD = fD[j] * (pt[1][0] * gM[gj] + pt[1][1] * gD[gj] + pt[1][2] * gI[gj]) * s;
      const double probI = fI[j] * (pt[2][0] * gM[gj] + pt[2][1] * gD[gj] + pt[2][2] * gI[gj]) * s;
      if (i >= 1 && j >= 1 && pairRow != nullptr) pairRow[j] = static_cast<float>(probM);
      if (i >= 1) p.unpairedS[i - 1] += probD;
      if (j >= 1) p.unpairedT[j - 1] += probI;
      for (const auto& at : matchedAt[i])
        if (at.first == j) (*pathPairs)[at.second] = probM;
    }
    if (i == nS) {
      // The end cell: F_X e^endGapDiscount(X) / Z.
      const long eF = fwd.exponent(nT / fBlock);
      const double s = eF == FastSumPass::EMPTY ? 0.0 : scaleOf(eF + zExponent, zMantissa);
      const double probM = fM[nT] * s, probD = fD[nT] * s * std::exp(c.endGapDiscount[stateDelete]),
                   probI = fI[nT] * s * std::exp(c.endGapDiscount[stateInsert]);
      if (nT >= 1 && pairRow != nullptr) pairRow[nT] = static_cast<float>(probM);
      p.unpairedS[nS - 1] += probD;
      if (nT >= 1) p.unpairedT[nT - 1] += probI;
      for (const auto& at : matchedAt[i])
        if (at.first == nT) (*pathPairs)[at.second] = probM;
      break;
    }
    fwd.next();
  }
  if (c.local) unpairedFromPairs(p, pairedS, pairedT);
  return p;
}

std::string meaAlignment(const Posteriors& p, double gapWeight) {
  const std::size_t nS = p.nS, nT = p.nT, width = nT + 1;
  SC_CHECK(p.pair.size() == nS * nT);
  // A(i,j) = max{ A(i-1,j-1) + P(i~j), A(i-1,j) + w q_S(i), A(i,j-1) + w q_T(j) },
  // equal values keeping the earlier choice (match, delete, insert); one
  // byte a cell records the choice.
  std::vector<std::uint8_t, LargeAllocator<std::uint8_t>> choice((nS + 1) * width, 0);
  std::vector<double> prev(width, 0.0), cur(width, 0.0);
  for (std::size_t j = 1; j <= nT; ++j) {
    cur[j] = cur[j - 1] + gapWeight * p.unpairedT[j - 1];
    choice[j] = 2;
  }
  for (std::size_t i = 1; i <= nS; ++i) {
    std::swap(prev, cur);
    const double gapS = gapWeight * p.unpairedS[i - 1];
    cur[0] = prev[0] + gapS;
    choice[i * width] = 1;
    const float* pairRow = p.pair.data() + (i - 1) * nT;
    for (std::size_t j = 1; j <= nT; ++j) {
      double best = prev[j - 1] + pairRow[j - 1];
      std::uint8_t how = 0;
      const double del = prev[j] + gapS, ins = cur[j - 1] + gapWeight * p.unpairedT[j - 1];
      if (del > best) best = del, how = 1;
      if (ins > best) best = ins, how = 2;
      cur[j] = best;
      choice[i * width + j] = how;
    }
  }
  std::string fsastr;
  std::size_t i = nS, j = nT;
  while (i > 0 || j > 0) {
    const std::uint8_t how = choice[i * width + j];
    fsastr.push_back("mdi"[how]);
    if (how != 2) --i;
    if (how != 1) --j;
  }
  std::reverse(fsastr.begin(), fsastr.end());
  return fsastr;
}

std::vector<double> columnPosteriors(const Posteriors& p, const std::string& fsastr,
                                     const std::vector<double>* pathPairs) {
  std::vector<double> out;
  out.reserve(fsastr.size());
  std::size_t i = 0, j = 0;
  for (std::size_t l = 0; l < fsastr.size(); ++l) {
    const char st = fsastr[l];
    i += st != 'i';
    j += st != 'd';
    if (st == 'm')
      out.push_back(pathPairs != nullptr ? (*pathPairs)[l] : static_cast<double>(p.pairOf(i, j)));
    else
      out.push_back(st == 'd' ? p.unpairedS[i - 1] : p.unpairedT[j - 1]);
  }
  return out;
}

}  // namespace seqcorvane::detail
