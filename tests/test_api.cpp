// The public calls as another program uses them: the header compiles on its
// own (it comes first here), results hang together, errors are typed, and
// threads sharing one Models get what one thread gets.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"
#include "testUtil.h"

using seqcorvane::AlignConfig;
using seqcorvane::AlignResult;
using seqcorvane::Criterion;
using seqcorvane::Sequence;

namespace {

Sequence example(const std::string& file) {
  const std::vector<seqcorvane::Record> r = seqcorvane::readFasta(testutil::examplePath(file));
  return {r.at(0).name, seqcorvane::standardResidues(r.at(0).text)};
}

AlignResult alignWith(const Sequence& s, const Sequence& t, Criterion c, int threads = 0) {
  AlignConfig config;
  config.criterion = c;
  config.threads = threads;
  config.columnConfidence = true;
  return seqcorvane::align(s, t, testutil::models(), config);
}

void expectSame(const AlignResult& a, const AlignResult& b) {
  EXPECT_EQ(a.path, b.path);
  EXPECT_EQ(a.parameters.K, b.parameters.K);
  EXPECT_EQ(a.parameters.transitions, b.parameters.transitions);
  EXPECT_EQ(a.compressionBits, b.compressionBits);
  EXPECT_EQ(a.search.K, b.search.K);
  EXPECT_EQ(a.columnConfidence, b.columnConfidence);
  EXPECT_EQ(std::isnan(a.search.msgLen) ? 0.0 : a.search.msgLen, std::isnan(b.search.msgLen) ? 0.0 : b.search.msgLen);
}

std::string messageOf(const std::function<void()>& fn, seqcorvane::Error::Kind kind) {
  try {
    fn();
  } catch (const seqcorvane::Error& e) {
    EXPECT_EQ(e.kind(), kind) << e.what();
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(Api, ResultsOfEachCriterionHangTogether) {
  const Sequence s = example("hbb_human.fa"), t = example("hba_macfa.fa");
  EXPECT_EQ(s.name, "HBB_HUMAN");
  const AlignResult opt = alignWith(s, t, Criterion::optimal);
  EXPECT_EQ(seqcorvane::pathRows(opt.path, s.residues, t.residues), (std::vector<std::string>{opt.rowS, opt.rowT}));
  EXPECT_EQ(seqcorvane::rowsPath(opt.rowS, opt.rowT), opt.path);
  EXPECT_EQ(opt.nullMsgLen, seqcorvane::nullMsgLen(s.residues, testutil::models()) +
                                seqcorvane::nullMsgLen(t.residues, testutil::models()));
  EXPECT_EQ(opt.compressionBits, seqcorvane::nits2bits(opt.nullMsgLen - opt.alignmentMsgLen));
  EXPECT_TRUE(opt.related());
  EXPECT_TRUE(std::isnan(opt.search.msgLen));
  ASSERT_EQ(opt.columnConfidence.size(), opt.path.size());

  const AlignResult marg = alignWith(s, t, Criterion::marginal);
  EXPECT_TRUE(marg.path.empty());
  EXPECT_TRUE(std::isnan(marg.alignmentMsgLen));
  EXPECT_EQ(marg.parameters.K, marg.search.K);
  EXPECT_EQ(marg.parameters.transitions, marg.search.parameters.transitions);
  EXPECT_EQ(marg.compressionBits, seqcorvane::nits2bits(marg.nullMsgLen - marg.search.msgLen));
  // Summed over all alignments the pair costs less than along the best one.
  EXPECT_GT(marg.compressionBits, opt.compressionBits);

  const AlignResult post = alignWith(s, t, Criterion::posterior);
  ASSERT_EQ(post.columnConfidence.size(), post.path.size());
  for (double p : post.columnConfidence) EXPECT_TRUE(p >= 0 && p <= 1 + 1e-9) << p;
  const seqcorvane::ScoreResult scored = seqcorvane::scoreAlignment(post.rowS, post.rowT, testutil::models());
  EXPECT_EQ(post.posterior.score.msgLen, scored.msgLen);
  EXPECT_EQ(post.alignmentMsgLen, scored.msgLen);
  // The shipped models have fitted match emissions; without them the matches
  // are averaged over four site rates.
  EXPECT_TRUE(post.posterior.fittedMatches);
  EXPECT_TRUE(post.posterior.siteRates.empty());
  EXPECT_EQ(post.posterior.gapOpenScale, 0.35);
  seqcorvane::AlignConfig averaged;
  averaged.criterion = Criterion::posterior;
  averaged.posterior.fittedMatches = false;
  const AlignResult rated = seqcorvane::align(s, t, testutil::models(), averaged);
  EXPECT_FALSE(rated.posterior.fittedMatches);
  EXPECT_EQ(rated.posterior.siteRates.size(), 4u);

  for (Criterion c : {Criterion::optimal, Criterion::marginal, Criterion::posterior}) {
    Criterion back = Criterion::optimal;
    EXPECT_TRUE(seqcorvane::parseCriterion(seqcorvane::criterionName(c), back));
    EXPECT_EQ(back, c);
  }
  Criterion none;
  EXPECT_FALSE(seqcorvane::parseCriterion("fast", none));
  // The dialogue is the single program's, not a criterion of the library.
  EXPECT_FALSE(seqcorvane::parseCriterion("marginal-interactive", none));
  EXPECT_EQ(seqcorvane::gapOpenings("mmddmiim"), 2);
  EXPECT_EQ(seqcorvane::percentIdentity({"AC-D", "ACEE"}), 50.0);
}

// Two threads aligning different pairs through one Models get the results
// that one thread gets, pair by pair.
TEST(Api, ThreadsSharingOneModelsGetWhatOneThreadGets) {
  const std::vector<Sequence> seqs = {example("hbb_human.fa"), example("hba_macfa.fa"), example("myg_horse.fa"),
                                      example("hbb_colli.fa"), example("7less_drome.fa")};
  std::vector<std::pair<size_t, size_t>> pairs;
  for (size_t a = 0; a < seqs.size(); ++a)
    for (size_t b = a + 1; b < seqs.size(); ++b) pairs.emplace_back(a, b);
  for (Criterion c : {Criterion::optimal, Criterion::posterior}) {
    std::vector<AlignResult> alone, shared(pairs.size());
    for (const auto& p : pairs) alone.push_back(alignWith(seqs[p.first], seqs[p.second], c, 1));
    auto work = [&](size_t first) {
      for (size_t k = first; k < pairs.size(); k += 2)
        shared[k] = alignWith(seqs[pairs[k].first], seqs[pairs[k].second], c, 2);
    };
    std::thread other(work, 1);
    work(0);
    other.join();
    for (size_t k = 0; k < pairs.size(); ++k) {
      SCOPED_TRACE(std::string(seqcorvane::criterionName(c)) + " pair " + std::to_string(k));
      expectSame(alone[k], shared[k]);
    }
  }
}

TEST(Api, ProblemsAreTypedErrorsWithOneLine) {
  using Kind = seqcorvane::Error::Kind;
  const seqcorvane::Models& m = testutil::models();
  EXPECT_EQ(messageOf(
                [&] {
                  seqcorvane::align({"s", ""}, {"t", "ACD"}, m);
                },
                Kind::input),
            "sequence 's' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
  EXPECT_EQ(
      messageOf(
          [&] {
            seqcorvane::align({"s", "ACx"}, {"t", "ACD"}, m);
          },
          Kind::input),
      "sequence 's' holds 'x' at position 3, which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY (filter "
      "it with standardResidues)");
  EXPECT_EQ(messageOf([&] { seqcorvane::scoreAlignment("A-", "-", m); }, Kind::input),
            "the two rows of the alignment differ in length (2 and 1 columns)");
  EXPECT_EQ(messageOf([&] { seqcorvane::scoreAlignment("A-C", "A-D", m); }, Kind::input),
            "column 2 of the alignment holds two gaps");
  EXPECT_EQ(messageOf(
                [&] {
                  seqcorvane::CellPaths({"s", "A"}, {"t", "C"}, m, 0);
                },
                Kind::input),
            "distance 0 is outside 1..1000");
  EXPECT_EQ(messageOf([&] { seqcorvane::pairMsgLen(m, 5, 'A', 'B'); }, Kind::input),
            "'AB' is not a pair of residue letters ACDEFGHIKLMNPQRSTVWY");
  testutil::TempDir dir;
  EXPECT_EQ(messageOf([&] { seqcorvane::Models bad(dir.file("none")); }, Kind::model),
            "model directory '" + dir.file("none") + "' is not a directory");
  EXPECT_EQ(messageOf([&] { seqcorvane::readFasta(dir.file("none.fa")); }, Kind::input),
            "cannot open file '" + dir.file("none.fa") + "': No such file or directory");
}

TEST(Api, MemoryNeededGrowsWithTheGridAndTheCriterion) {
  const double opt = seqcorvane::memoryNeeded(1000, 1000, Criterion::optimal);
  const double post = seqcorvane::memoryNeeded(1000, 1000, Criterion::posterior);
  const double marg = seqcorvane::memoryNeeded(1000, 1000, Criterion::marginal);
  const double paths = seqcorvane::CellPaths::memoryNeeded(1000, 1000);
  EXPECT_LT(opt, post);
  EXPECT_LT(post, marg);
  EXPECT_LT(marg, paths);
  EXPECT_GT(opt, 1e6);
  EXPECT_LT(opt, 3e6);
}

// A run larger than the config's memory is refused by the call itself, with
// the sizes in units that show them.
TEST(Api, RunsTooLargeForTheMemoryAreRefused) {
  const Sequence s{"s", std::string(300, 'A')}, t{"t", std::string(200, 'C')};
  AlignConfig config;
  config.criterion = Criterion::posterior;
  config.memoryLimit = 20e6;
  EXPECT_EQ(messageOf([&] { seqcorvane::align(s, t, testutil::models(), config); }, seqcorvane::Error::Kind::resources),
            "aligning sequences of 300 and 200 residues with the posterior criterion needs 32.5 MiB of memory; 19.1 "
            "MiB available");
  EXPECT_EQ(messageOf([&] { seqcorvane::CellPaths(s, t, testutil::models(), 100, config); },
                      seqcorvane::Error::Kind::resources),
            "keeping the best paths through the cells of sequences of 300 and 200 residues needs 35.1 MiB of memory; "
            "19.1 MiB "
            "available");
  config.memoryLimit = 40e6;
  EXPECT_NO_THROW(seqcorvane::align(s, t, testutil::models(), config));
}

// Every public entry point refuses what it cannot use with an Error (input)
// that names the setting or says what is wrong, never the check handler.
TEST(Api, EveryEntryPointRefusesWhatItCannotUse) {
  using Kind = seqcorvane::Error::Kind;
  const seqcorvane::Models& m = testutil::models();
  const Sequence s{"s", "MVLSPADKTNVKAAW"}, t{"t", "MVHLTPEEKSAVTAL"};
  const double nan = std::nan(""), inf = INFINITY;
  auto withConfig = [&](const std::function<void(AlignConfig&)>& set) {
    AlignConfig c;
    c.criterion = Criterion::posterior;
    set(c);
    return messageOf([&] { seqcorvane::align(s, t, m, c); }, Kind::input);
  };
  for (double x : {nan, 0.0, -1.0, 2.0, inf})
    EXPECT_EQ(
        withConfig([&](AlignConfig& c) { c.posterior.gapOpenScale = x; }).rfind("PosteriorOptions.gapOpenScale ", 0),
        0u);
  for (double x : {nan, -1.0, inf})
    EXPECT_EQ(withConfig([&](AlignConfig& c) { c.posterior.rateShape = x; }).rfind("PosteriorOptions.rateShape ", 0),
              0u);
  for (double x : {nan, inf, -0.5})
    EXPECT_EQ(withConfig([&](AlignConfig& c) { c.posterior.gapWeight = x; }).rfind("PosteriorOptions.gapWeight ", 0),
              0u);
  EXPECT_EQ(withConfig([](AlignConfig& c) { c.posterior.rateCategories = 0; }),
            "PosteriorOptions.rateCategories 0 is outside 1..1000");
  EXPECT_EQ(withConfig([](AlignConfig& c) { c.posterior.topDistance = -1; }),
            "PosteriorOptions.topDistance -1 is outside 1..1000");
  EXPECT_EQ(withConfig([](AlignConfig& c) { c.posterior.distanceCap = -5; }),
            "PosteriorOptions.distanceCap -5 is outside 0..1000 (0: no cap)");
  EXPECT_EQ(withConfig([](AlignConfig& c) { c.criterion = static_cast<Criterion>(42); }),
            "AlignConfig.criterion 42 is none of optimal, marginal and posterior");
  EXPECT_EQ(withConfig([](AlignConfig& c) { c.threads = -2; }), "AlignConfig.threads -2 is outside 0..1024");
  EXPECT_EQ(withConfig([&](AlignConfig& c) { c.memoryLimit = nan; }),
            "AlignConfig.memoryLimit nan is not a number of bytes (0 or more)");
  EXPECT_EQ(std::string(seqcorvane::criterionName(static_cast<Criterion>(42))), "unknown");

  EXPECT_EQ(
      messageOf([&] { seqcorvane::nullMsgLen("XXZ", m); }, Kind::input),
      "the sequence holds 'X' at position 1, which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY (filter "
      "it with standardResidues)");
  EXPECT_EQ(seqcorvane::nullMsgLen("", m), seqcorvane::nullMsgLen("", m));  // no residues: the length alone
  EXPECT_EQ(messageOf([] { seqcorvane::pathRows("mmq", "AC", "AC"); }, Kind::input),
            "column 3 of the path holds 'q': a path holds only 'm', 'd' and 'i'");
  EXPECT_EQ(messageOf([] { seqcorvane::pathRows("mm", "AC", "A"); }, Kind::input),
            "the path takes 2 and 2 residues; the sequences hold 2 and 1");
  EXPECT_EQ(messageOf([] { seqcorvane::rowsPath("AC-", "A"); }, Kind::input),
            "the two rows differ in length (3 and 1 columns)");
  EXPECT_EQ(messageOf([] { seqcorvane::rowsPath("A-", "C-"); }, Kind::input), "column 2 holds two gaps");
  EXPECT_EQ(messageOf([] { seqcorvane::percentIdentity({}); }, Kind::input), "an alignment has two rows, not 0");
  EXPECT_EQ(messageOf([] { seqcorvane::gapOpenings("m\n"); }, Kind::input),
            "column 2 of the path holds '\\n': a path holds only 'm', 'd' and 'i'");

  AlignConfig marginal;
  marginal.criterion = Criterion::marginal;
  const AlignResult r = seqcorvane::align(s, t, m, marginal);
  EXPECT_EQ(messageOf([&] { seqcorvane::formatAlignment(r, seqcorvane::AlignmentFormat::afasta); }, Kind::input),
            "the result of the marginal criterion holds no alignment to write in afasta format");
  EXPECT_NE(seqcorvane::formatAlignment(r, seqcorvane::AlignmentFormat::json).find("\"rows\": []"), std::string::npos);
  AlignResult broken = alignWith(s, t, Criterion::posterior);
  broken.columnConfidence.pop_back();
  EXPECT_EQ(messageOf([&] { seqcorvane::formatAlignment(broken, seqcorvane::AlignmentFormat::stockholm); }, Kind::input)
                .rfind("the result has ", 0),
            0u);
  testutil::TempDir dir;
  EXPECT_EQ(messageOf([&] { seqcorvane::writeConfidenceFile(dir.file("c.tsv"), "mm", {0.5}); }, Kind::input),
            "the path has 2 columns and 1 posteriors");
  EXPECT_EQ(messageOf([&] { seqcorvane::writeAfastaFile(dir.file("a.afasta"), {"A"}); }, Kind::input),
            "an alignment has two rows, not 1");
  seqcorvane::LandscapeFiles files(dir.file("l"), 1, 1);
  const double values[2] = {1, 2};
  EXPECT_EQ(messageOf(
                [&] {
                  files.row({1, values, 2});
                },
                Kind::input),
            "landscape row 1 of 2 values where row 0 of 2 belongs (of 2 rows)");
  files.row({0, values, 2});
  EXPECT_EQ(messageOf([&] { files.commit(); }, Kind::input), "the landscape files hold 1 of their 2 rows");
}

// Characters a caller or a file gives are quoted whole when they are UTF-8,
// escaped when they are not, and the message keeps its end.
TEST(Api, MessagesQuoteCharactersSafely) {
  using Kind = seqcorvane::Error::Kind;
  const seqcorvane::Models& m = testutil::models();
  EXPECT_EQ(messageOf(
                [&] {
                  seqcorvane::align({"s", "MVLS\xc3\x85PADK"}, {"t", "MVLS"}, m);
                },
                Kind::input),
            "sequence 's' holds '\xc3\x85' at position 5, which is not one of the residue letters "
            "ACDEFGHIKLMNPQRSTVWY (filter it with standardResidues)");
  EXPECT_EQ(messageOf(
                [&] {
                  seqcorvane::align({"s", std::string("MV\0LS", 5)}, {"t", "MVLS"}, m);
                },
                Kind::input),
            "sequence 's' holds '\\0' at position 3, which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY "
            "(filter it with standardResidues)");
  EXPECT_EQ(messageOf(
                [&] {
                  seqcorvane::align({"caf\xe9", "MVX"}, {"t", "MVLS"}, m);
                },
                Kind::input)
                .substr(0, 27),
            "sequence 'caf\\xe9' holds 'X");
}

// The length of a path is stated with the tree code: an alignment with more
// columns than it can state is refused before any work.
TEST(Api, AlignmentsLongerThanTheLengthCodeAreRefused) {
#ifdef SEQCORVANE_SANITIZED
  GTEST_SKIP() << "two rows of 656 million columns";
#endif
  const std::string rowS(size_t{656043856} + 1, 'A');
  EXPECT_EQ(
      messageOf([&] { seqcorvane::scoreAlignment(rowS, rowS, testutil::models()); }, seqcorvane::Error::Kind::input),
      "the alignment has 656043857 columns; at most 656043856 can be scored");
}
