#include "dpPosteriors.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "check.h"
#include "dpKernels.h"
#include "logSpace.h"
#include "throughCell.h"

namespace {
constexpr double INF = std::numeric_limits<double>::infinity();
}

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
  // The cells where the path's matched columns end, by row.
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> matchedAt(nS + 1);
  if (path != nullptr) {
    pathPairs->assign(path->size(), std::numeric_limits<double>::quiet_NaN());
    std::size_t i = 0, j = 0;
    for (std::size_t l = 0; l < path->size(); ++l) {
      const char st = (*path)[l];
      i += st != 'i';
      j += st != 'd';
      SC_CHECK(i <= nS && j <= nT);
      if (st == 'm') matchedAt[i].emplace_back(j, l);
    }
  }
  // The probability of the paths whose column in state X ends at (i, j):
  // e^(Z - L_X(i,j)), L_X their message length (throughCell.h; at the end
  // cell F_X(i,j)).
  // A residue of S is unpaired in the paths whose D column consumes it, one
  // of T in those whose I column does.
  forEachRowOfBothSums(c, [&](const RowOfBothSums& r) {
    const std::size_t i = r.i;
    const double allPaths = r.allPaths;
    std::vector<double> pm(nT + 1, 0.0);
    for (std::size_t j = (i == 0 ? 1 : 0); j <= nT; ++j) {
      double prob[3];
      for (int x = 0; x < 3; ++x) {
        const double f = r.fwd[x][j];
        double len;
        if (i == nS && j == nT)
          len = f;
        else {
          const double g[3] = {r.sink[0][j], r.sink[1][j], r.sink[2][j]};
          len = pathsThroughCellIn(x, f, c.trans, g);
        }
        prob[x] = std::isinf(len) ? 0.0 : std::exp(allPaths - len);
      }
      if (i >= 1 && j >= 1) {
        pm[j] = prob[STATE_M];
        if (keepPairs) p.pair[(i - 1) * nT + (j - 1)] = static_cast<float>(prob[STATE_M]);
      }
      if (i >= 1) p.unpairedS[i - 1] += prob[STATE_D];
      if (j >= 1) p.unpairedT[j - 1] += prob[STATE_I];
    }
    for (const auto& at : matchedAt[i]) (*pathPairs)[at.second] = pm[at.first];
  });
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
