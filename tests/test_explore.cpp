// Looking at a pair whole (explore.h): the landscape at any distance against
// the enumeration of all paths and against the marginal criterion's, its
// regions, the column confidences against enumerated posteriors and the
// optimal criterion's, and a path through a cell stated as a result; under
// the local hypothesis, each against the criteria's local passes and against
// one another, and the automatic choice refused.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "naiveReference.h"
#include "seqcorvane/explore.h"
#include "seqcorvane/io.h"

using namespace naive;

namespace {

// Whether the path passes through cell (i, j).
bool passesThrough(const std::string& path, size_t i, size_t j) {
  size_t a = 0, b = 0;
  bool passes = (i == 0 && j == 0);
  for (char c : path) {
    a += c != 'i';
    b += c != 'd';
    passes |= (a == i && b == j);
  }
  return passes;
}

// The message length, in nits, that the landscape keeps for a cell.
double nitsOf(const seqcorvane::Landscape& land, size_t i, size_t j) {
  return land.bestMsgLen() + static_cast<double>(land.bitsAbove(i, j)) * std::log(2.0);
}

}  // namespace

TEST(Explore, LandscapeAtAnyDistanceMatchesTheEnumeration) {
  std::mt19937 rng(3131);
  for (int trial = 0; trial < 10; ++trial) {
    const std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)),
                      T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
    const int K = 1 + static_cast<int>(rng() % 1000);
    SCOPED_TRACE(S + " / " + T + " K=" + std::to_string(K));
    const seqcorvane::Landscape land({"s", S}, {"t", T}, testutil::models(), K);
    ASSERT_EQ(land.rows(), S.size() + 1);
    ASSERT_EQ(land.cols(), T.size() + 1);
    EXPECT_EQ(land.distance(), K);
    const Reference ref(K);
    const double lengthCost = LN1000_ + wtCodeLen_nits(static_cast<int>(std::max(S.size(), T.size())));
    std::vector<double> all;
    for (const std::string& p : allPaths(S.size(), T.size())) {
      const auto pt = ref.parts(p, S, T, 0, 0);
      all.push_back(pt.first + pt.second);
    }
    expectClose(neglogSumOf(all) + lengthCost, land.bestMsgLen(), "best cell");
    float least = INFINITY;
    for (size_t i = 0; i <= S.size(); ++i)
      for (size_t j = 0; j <= T.size(); ++j) {
        std::vector<double> through;
        for (const std::string& p : allPaths(S.size(), T.size())) {
          if (!passesThrough(p, i, j)) continue;
          const auto pt = ref.parts(p, S, T, 0, 0);
          through.push_back(pt.first + pt.second);
        }
        const double expected = neglogSumOf(through) + lengthCost;
        // Single precision, relative to the best cell.
        EXPECT_NEAR(nitsOf(land, i, j), expected, 1e-6 * (expected - land.bestMsgLen()) + 1e-5) << i << "," << j;
        least = std::min(least, land.bitsAbove(i, j));
      }
    EXPECT_EQ(least, 0.0f);
    EXPECT_NEAR(land.bitsAbove(0, 0), 0.0f, 1e-9);  // the corners: the best cell, or a rounding above it
  }
}

TEST(Explore, LandscapeAtTheMarginalDistanceIsTheMarginalCriterions) {
  std::mt19937 rng(31);
  const auto st = relatedPair(rng, 60);
  const std::string &S = st.first, &T = st.second;
  seqcorvane::AlignResult r;
  const std::vector<double> values = landscapeOf(S, T, r);
  const seqcorvane::Landscape land({"s", S}, {"t", T}, testutil::models(), r.parameters.K);
  EXPECT_NEAR(land.bestMsgLen(), r.search.msgLen, 1e-9 * r.search.msgLen);
  const double least = *std::min_element(values.begin(), values.end());
  for (size_t i = 0; i < land.rows(); ++i)
    for (size_t j = 0; j < land.cols(); ++j) {
      const double bits = seqcorvane::nits2bits(values[i * land.cols() + j] - least);
      ASSERT_NEAR(land.bitsAbove(i, j), bits, 1e-6 * bits + 1e-4) << i << "," << j;
    }
}

TEST(Explore, RegionsHoldTheLeastOfTheirBlocksAndRefuseWhatIsNotInTheGrid) {
  std::mt19937 rng(5);
  const auto st = relatedPair(rng, 36);
  const seqcorvane::Landscape land({"s", st.first}, {"t", st.second}, testutil::models(), 50);
  const size_t rows = land.rows(), cols = land.cols();
  // Cell by cell where the region is no larger than the picture.
  seqcorvane::Landscape::Blocks whole = land.blocks(0, rows, 0, cols, 1000, 1000);
  ASSERT_EQ(whole.rows, rows);
  ASSERT_EQ(whole.cols, cols);
  for (size_t i = 0; i < rows; ++i)
    for (size_t j = 0; j < cols; ++j) ASSERT_EQ(whole.values[i * cols + j], land.bitsAbove(i, j));
  // Smaller pictures of parts of the grid: block b of n covers the cells from
  // floor(b * size / n) on; it holds their least value.
  for (const auto& q : std::vector<std::array<size_t, 6>>{
           {0, rows, 0, cols, 7, 5}, {3, 29, 11, 24, 4, 13}, {0, 1, 0, cols, 1, 1}, {5, 6, 7, 8, 9, 9}}) {
    const seqcorvane::Landscape::Blocks r = land.blocks(q[0], q[1], q[2], q[3], q[4], q[5]);
    ASSERT_EQ(r.rows, std::min(q[4], q[1] - q[0]));
    ASSERT_EQ(r.cols, std::min(q[5], q[3] - q[2]));
    for (size_t a = 0; a < r.rows; ++a)
      for (size_t b = 0; b < r.cols; ++b) {
        float least = INFINITY;
        for (size_t i = q[0] + a * (q[1] - q[0]) / r.rows; i < q[0] + (a + 1) * (q[1] - q[0]) / r.rows; ++i)
          for (size_t j = q[2] + b * (q[3] - q[2]) / r.cols; j < q[2] + (b + 1) * (q[3] - q[2]) / r.cols; ++j)
            least = std::min(least, land.bitsAbove(i, j));
        ASSERT_EQ(r.values[a * r.cols + b], least) << a << "," << b;
      }
  }
  EXPECT_THROW(land.blocks(0, rows + 1, 0, cols, 10, 10), seqcorvane::Error);
  EXPECT_THROW(land.blocks(4, 4, 0, cols, 10, 10), seqcorvane::Error);
  EXPECT_THROW(land.blocks(0, rows, 0, cols, 0, 10), seqcorvane::Error);
  try {
    land.bitsAbove(rows, 0);
    FAIL() << "a cell outside the grid was read";
  } catch (const seqcorvane::Error& e) {
    EXPECT_EQ(std::string(e.what()), "cell (" + std::to_string(rows) + ",0) is outside the grid of 0.." +
                                         std::to_string(rows - 1) + " by 0.." + std::to_string(cols - 1));
  }
  EXPECT_THROW(seqcorvane::Landscape({"s", "MKV"}, {"t", "MKX"}, testutil::models(), 50), seqcorvane::Error);
  EXPECT_THROW(seqcorvane::Landscape({"s", "MKV"}, {"t", "MKV"}, testutil::models(), 0), seqcorvane::Error);
}

TEST(Explore, ColumnConfidencesAreTheEnumeratedPosteriors) {
  std::mt19937 rng(909);
  for (int trial = 0; trial < 8; ++trial) {
    const std::string S = randomSeq(rng, 1 + static_cast<int>(rng() % 4)),
                      T = randomSeq(rng, 1 + static_cast<int>(rng() % 4));
    const int K = 1 + static_cast<int>(rng() % 1000);
    const std::vector<std::string>& paths = allPaths(S.size(), T.size());
    const std::string chosen = paths[rng() % paths.size()];
    SCOPED_TRACE(S + " / " + T + " K=" + std::to_string(K) + " " + chosen);
    const Reference ref(K);
    std::vector<double> costs;
    for (const std::string& p : paths) {
      const auto pt = ref.parts(p, S, T, 0, 0);
      costs.push_back(pt.first + pt.second);
    }
    const double all = neglogSumOf(costs);
    // A column of the chosen path: the probability of the paths that pair
    // its residues (match), or leave its residue unpaired (gap).
    auto posterior = [&](char state, size_t i, size_t j) {
      std::vector<double> with;
      for (size_t k = 0; k < paths.size(); ++k) {
        size_t a = 0, b = 0;
        bool paired = false, pairedAtAll = false;
        for (char c : paths[k]) {
          a += c != 'i';
          b += c != 'd';
          if (c == 'm' && a == i && b == j) paired = true;
          if (c == 'm' && (state == 'd' ? a == i : b == j)) pairedAtAll = true;
        }
        if (state == 'm' ? paired : !pairedAtAll) with.push_back(costs[k]);
      }
      return std::exp(all - neglogSumOf(with));
    };
    const seqcorvane::ColumnConfidence conf({"s", S}, {"t", T}, testutil::models(), K);
    const std::vector<double> got = conf.of(chosen);
    ASSERT_EQ(got.size(), chosen.size());
    size_t i = 0, j = 0;
    for (size_t l = 0; l < chosen.size(); ++l) {
      i += chosen[l] != 'i';
      j += chosen[l] != 'd';
      EXPECT_NEAR(got[l], posterior(chosen[l], i, j), 1e-6) << "column " << l;
    }
  }
}

TEST(Explore, ColumnConfidencesOfTheOptimalAlignmentAreTheOptimalCriterions) {
  std::mt19937 rng(12);
  const auto st = relatedPair(rng, 80);
  seqcorvane::AlignConfig config;
  config.columnConfidence = true;
  const seqcorvane::AlignResult r = seqcorvane::align({"s", st.first}, {"t", st.second}, testutil::models(), config);
  const seqcorvane::ColumnConfidence conf({"s", st.first}, {"t", st.second}, testutil::models(), r.parameters.K);
  const std::vector<double> got = conf.of(r.path);
  ASSERT_EQ(got.size(), r.columnConfidence.size());
  for (size_t l = 0; l < got.size(); ++l) EXPECT_NEAR(got[l], r.columnConfidence[l], 1e-6) << l;
  EXPECT_THROW(conf.of(r.path + "m"), seqcorvane::Error);
  EXPECT_THROW(conf.of(std::string(r.path).replace(0, 1, "x")), seqcorvane::Error);
}

TEST(Explore, PathThroughACellIsStatedAsAResultAndWrittenInEveryFormat) {
  const seqcorvane::Sequence s{"HBB", "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFF"},
      t{"HBA", "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYF"};
  const seqcorvane::Models& models = testutil::models();
  const int K = 80;
  const seqcorvane::CellPaths paths(s, t, models, K);
  const seqcorvane::Landscape land(s, t, models, K);
  const seqcorvane::ColumnConfidence conf(s, t, models, K);
  const seqcorvane::CellPaths::Through through = paths.best(30, 10);
  const seqcorvane::AlignResult r = seqcorvane::cellAlignmentResult(s, t, models, K, through.path, through.msgLen,
                                                                    land.bestMsgLen(), conf.of(through.path));
  EXPECT_EQ(r.criterion, seqcorvane::Criterion::marginal);
  EXPECT_EQ(r.parameters.K, K);
  EXPECT_EQ(r.search.K, K);
  EXPECT_EQ(r.path, through.path);
  EXPECT_EQ(r.alignmentMsgLen, through.msgLen);
  EXPECT_EQ(r.nullMsgLen, seqcorvane::nullMsgLen(s.residues, models) + seqcorvane::nullMsgLen(t.residues, models));
  EXPECT_DOUBLE_EQ(r.compressionBits, seqcorvane::nits2bits(r.nullMsgLen - land.bestMsgLen()));
  const std::vector<std::string> rows = seqcorvane::pathRows(through.path, s.residues, t.residues);
  EXPECT_EQ(r.rowS, rows[0]);
  EXPECT_EQ(r.rowT, rows[1]);
  const std::string sto = seqcorvane::formatAlignment(r, seqcorvane::AlignmentFormat::stockholm);
  EXPECT_NE(sto.find("(marginal criterion)"), std::string::npos);
  EXPECT_NE(sto.find("#=GR HBB PP"), std::string::npos);
  const std::string json = seqcorvane::formatAlignment(r, seqcorvane::AlignmentFormat::json);
  EXPECT_NE(json.find("\"marginal_K\": 80"), std::string::npos);
  // Every format reads back as the same rows.
  testutil::TempDir dir;
  for (auto f : {seqcorvane::AlignmentFormat::afasta, seqcorvane::AlignmentFormat::fasta,
                 seqcorvane::AlignmentFormat::clustal, seqcorvane::AlignmentFormat::stockholm}) {
    const std::string file = dir.path() + "/a" + seqcorvane::alignmentFormatExtension(f);
    seqcorvane::writeAlignmentFile(file, r, f);
    EXPECT_EQ(seqcorvane::readAlignmentFile(file).rows, rows) << seqcorvane::alignmentFormatName(f);
  }
  EXPECT_THROW(seqcorvane::cellAlignmentResult(s, t, models, K, through.path + "d", through.msgLen, 0, {}),
               seqcorvane::Error);
  EXPECT_THROW(seqcorvane::cellAlignmentResult(s, t, models, K, through.path, through.msgLen, 0, {0.5}),
               seqcorvane::Error);
}

namespace {

// A related pair inside unrelated flanks of T: the local hypothesis's case.
std::pair<std::string, std::string> embeddedPair(std::mt19937& rng, int len, int flank) {
  const auto st = relatedPair(rng, len);
  return {st.first, randomSeq(rng, flank) + st.second + randomSeq(rng, flank)};
}

seqcorvane::AlignConfig localConfig(seqcorvane::Criterion c = seqcorvane::Criterion::optimal) {
  seqcorvane::AlignConfig config;
  config.criterion = c;
  config.mode = seqcorvane::Hypothesis::local;
  return config;
}

// Whether cell (i, j) lies on the region of a local path: between its
// first matched column's cell before it and its last's.
bool regionPasses(const std::string& path, size_t i, size_t j) {
  const size_t first = path.find('m'), last = path.rfind('m');
  size_t a = 0, b = 0;
  for (size_t k = 0; k < path.size(); ++k) {
    if (k >= first && k <= last + 1 && a == i && b == j) return true;
    a += path[k] != 'i';
    b += path[k] != 'd';
  }
  return last + 1 == path.size() && a == i && b == j;
}

}  // namespace

TEST(Explore, LocalLandscapeIsTheLocalMarginalCriterionsAndBoundsThePathsThroughCells) {
  std::mt19937 rng(77);
  const auto st = embeddedPair(rng, 30, 25);
  const seqcorvane::Sequence s{"s", st.first}, t{"t", st.second};
  const seqcorvane::Models& models = testutil::models();
  std::vector<double> values;
  const seqcorvane::AlignResult r = seqcorvane::align(
      s, t, models, localConfig(seqcorvane::Criterion::marginal),
      [&](const seqcorvane::LandscapeRow& row) { values.insert(values.end(), row.values, row.values + row.size); });
  const int K = r.parameters.K;
  const seqcorvane::Landscape land(s, t, models, K, localConfig());
  EXPECT_EQ(land.hypothesis(), seqcorvane::Hypothesis::local);
  EXPECT_NEAR(land.marginalMsgLen(), r.search.msgLen, 1e-9 * r.search.msgLen);
  const double least = *std::min_element(values.begin(), values.end());
  EXPECT_NEAR(land.bestMsgLen(), least, 1e-9 * least);
  EXPECT_LT(land.marginalMsgLen(), land.bestMsgLen());  // every region passes some cell, none passes all
  const seqcorvane::CellPaths paths(s, t, models, K, localConfig());
  const seqcorvane::CellPaths::Through best = paths.best();
  double bestThrough = INFINITY;
  for (size_t i = 0; i < land.rows(); ++i)
    for (size_t j = 0; j < land.cols(); ++j) {
      const double bits = seqcorvane::nits2bits(values[i * land.cols() + j] - least);
      // No region passes the corners (0, |T|) and (|S|, 0): a region begins with a match and ends after one.
      if ((i == 0 && j + 1 == land.cols()) || (j == 0 && i + 1 == land.rows())) {
        ASSERT_TRUE(std::isinf(bits) && std::isinf(land.bitsAbove(i, j))) << i << "," << j;
        EXPECT_THROW(paths.best(i, j), seqcorvane::Error);
        continue;
      }
      ASSERT_NEAR(land.bitsAbove(i, j), bits, 1e-6 * bits + 1e-4) << i << "," << j;
      // The best alignment through a cell: a region that passes it, one of
      // those the cell's value sums over, and on the best alignment's region the best.
      const seqcorvane::CellPaths::Through x = paths.best(i, j);
      ASSERT_TRUE(regionPasses(x.path, i, j)) << i << "," << j << " " << x.path;
      ASSERT_GE(x.msgLen, nitsOf(land, i, j) - 1e-4) << i << "," << j;
      if (regionPasses(best.path, i, j)) {
        ASSERT_NEAR(x.msgLen, best.msgLen, 1e-9 * best.msgLen) << i << "," << j;
      }
      bestThrough = std::min(bestThrough, x.msgLen);
    }
  EXPECT_NEAR(bestThrough, best.msgLen, 1e-9 * best.msgLen);
  // The global hypothesis's paths differ: the flanks are gaps to pay for there.
  EXPECT_GT(seqcorvane::CellPaths(s, t, models, K).best().msgLen, best.msgLen);
}

TEST(Explore, LocalConfidencesAndACellResultCarryTheRegion) {
  std::mt19937 rng(78);
  const auto st = embeddedPair(rng, 40, 30);
  const seqcorvane::Sequence s{"S1", st.first}, t{"T1", st.second};
  const seqcorvane::Models& models = testutil::models();
  seqcorvane::AlignConfig config = localConfig();
  config.columnConfidence = true;
  const seqcorvane::AlignResult r = seqcorvane::align(s, t, models, config);
  const int K = r.parameters.K;
  const seqcorvane::ColumnConfidence conf(s, t, models, K, localConfig());
  const std::vector<double> got = conf.of(r.path);
  ASSERT_EQ(got.size(), r.columnConfidence.size());
  for (size_t l = 0; l < got.size(); ++l) EXPECT_NEAR(got[l], r.columnConfidence[l], 1e-6) << l;

  const seqcorvane::CellPaths paths(s, t, models, K, localConfig());
  const seqcorvane::Landscape land(s, t, models, K, localConfig());
  const seqcorvane::CellPaths::Through x = paths.best(35, 40);
  const seqcorvane::AlignResult cell = seqcorvane::cellAlignmentResult(
      s, t, models, K, x.path, x.msgLen, land.marginalMsgLen(), conf.of(x.path), localConfig());
  const seqcorvane::HypothesisDetails& h = cell.hypothesis;
  EXPECT_EQ(h.mode, seqcorvane::Hypothesis::local);
  EXPECT_EQ(h.sent, seqcorvane::Hypothesis::local);
  EXPECT_EQ(h.localMsgLen, land.marginalMsgLen());
  EXPECT_TRUE(std::isnan(h.globalMsgLen));
  // The region: the first matched column to the last, the flanks outside it.
  const size_t first = x.path.find('m'), last = x.path.rfind('m');
  const std::vector<std::string> rows = seqcorvane::pathRows(x.path, s.residues, t.residues);
  auto residuesIn = [](const std::string& row, size_t from, size_t to) {
    return static_cast<size_t>(std::count_if(row.begin() + from, row.begin() + to, [](char c) { return c != '-'; }));
  };
  EXPECT_EQ(h.region.beginS, residuesIn(rows[0], 0, first));
  EXPECT_EQ(h.region.endS - h.region.beginS, residuesIn(rows[0], first, last + 1));
  EXPECT_EQ(h.region.beginT, residuesIn(rows[1], 0, first));
  EXPECT_EQ(h.region.endT - h.region.beginT, residuesIn(rows[1], first, last + 1));
  const std::string sto = seqcorvane::formatAlignment(cell, seqcorvane::AlignmentFormat::stockholm);
  EXPECT_NE(sto.find("#=GF HY local, local sent\n"), std::string::npos) << sto;
  EXPECT_NE(sto.find("#=GS T1 RG " + std::to_string(h.region.beginT + 1) + "-" + std::to_string(h.region.endT)),
            std::string::npos);
  // The global hypothesis stated: the whole pair; a local path needs a match.
  seqcorvane::AlignConfig global;
  const seqcorvane::AlignResult whole =
      seqcorvane::cellAlignmentResult(s, t, models, K, x.path, x.msgLen, land.marginalMsgLen(), {}, global);
  EXPECT_EQ(whole.hypothesis.region.endT, t.residues.size());
  EXPECT_EQ(whole.hypothesis.globalMsgLen, land.marginalMsgLen());
  const std::string gaps = std::string(s.residues.size(), 'd') + std::string(t.residues.size(), 'i');
  EXPECT_THROW(seqcorvane::cellAlignmentResult(s, t, models, K, gaps, 0, 0, {}, localConfig()), seqcorvane::Error);
}

TEST(Explore, OneMachineCallsRefuseTheAutomaticChoice) {
  const seqcorvane::Sequence s{"s", "MKVLAAGIVG"}, t{"t", "MKVLSAGIVG"};
  const seqcorvane::Models& models = testutil::models();
  seqcorvane::AlignConfig config;
  config.mode = seqcorvane::Hypothesis::automatic;
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"the best paths through cells", [&] { seqcorvane::CellPaths(s, t, models, 50, config); }},
      {"landscapes", [&] { seqcorvane::Landscape(s, t, models, 50, config); }},
      {"column confidences", [&] { seqcorvane::ColumnConfidence(s, t, models, 50, config); }},
      {"alignments through cells",
       [&] { seqcorvane::cellAlignmentResult(s, t, models, 50, std::string(10, 'm'), 0, 0, {}, config); }},
  };
  for (const auto& [what, call] : calls) {
    try {
      call();
      ADD_FAILURE() << what << " took the automatic choice";
    } catch (const seqcorvane::Error& e) {
      EXPECT_EQ(e.kind(), seqcorvane::Error::Kind::input);
      EXPECT_EQ(std::string(e.what()), what +
                                           " are of the global or the local hypothesis, not auto: take the one an "
                                           "automatic result sent (its hypothesis.sent)");
    }
  }
  config.mode = static_cast<seqcorvane::Hypothesis>(7);
  EXPECT_THROW(seqcorvane::Landscape(s, t, models, 50, config), seqcorvane::Error);
}
