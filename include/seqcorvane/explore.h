// Looking at a pair whole: the landscape of the machine at one distance K,
// kept for every cell, the posterior confidence of any alignment's columns at
// that distance, and a path through chosen cells stated as a result that
// formatAlignment writes. With CellPaths (seqcorvane.h) at the same K these
// are what an interactive view of the pair needs: a picture of the
// landscape at any scale, the best alignment through a pointed cell, its
// message length and the confidence of each of its columns.
//
//   seqcorvane::Landscape land(s, t, models, K);        // 4 bytes a cell
//   auto r = land.blocks(0, land.rows(), 0, land.cols(), 600, 600);
//   seqcorvane::CellPaths paths(s, t, models, K);       // 50 bytes a cell
//   seqcorvane::ColumnConfidence conf(s, t, models, K); // 4 bytes a cell
//   auto through = paths.best(i, j);
//   auto result = seqcorvane::cellAlignmentResult(s, t, models, K, through.path, through.msgLen,
//                                                 land.bestMsgLen(), conf.of(through.path));
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

namespace seqcorvane {

// The marginal landscape of the three-state machine at distance K (the
// transitions of the priors at K), as the marginal criteria hand it to
// align()'s visitor at their distance: for every cell (i, j), 0 <= i <= |S|,
// 0 <= j <= |T|, the message length of all alignments through it, kept as
// bits above the best cell (single precision). Under the local hypothesis,
// of all alignments whose region passes the cell. Computing it takes 24
// bytes a cell for a while; keeping it, 4.
class Landscape {
 public:
  // Both sequences non-empty, standard residues only; K in 1..1000; under
  // the config's hypothesis, global or local (automatic is refused: take the
  // hypothesis an automatic result sent), on its threads and instruction
  // set. Throws Error (input) otherwise.
  Landscape(const Sequence& s, const Sequence& t, const Models& models, int K, const AlignConfig& config = {});

  std::size_t rows() const { return rows_; }  // |S| + 1
  std::size_t cols() const { return cols_; }  // |T| + 1
  int distance() const { return K_; }
  Hypothesis hypothesis() const { return hypothesis_; }  // global or local
  // The least value, in nits: under the global hypothesis the marginal
  // message length at K (every alignment passes through the two corners);
  // under the local one, that of the regions through the best cell.
  double bestMsgLen() const { return bestMsgLen_; }
  // The message length of all alignments at K, in nits (the marginal
  // criterion's at its distance): under the global hypothesis bestMsgLen
  // but for rounding.
  double marginalMsgLen() const { return marginalMsgLen_; }
  // The bits of cell (i, j) above the best cell. Throws Error (input) for a
  // cell outside the grid.
  float bitsAbove(std::size_t i, std::size_t j) const;

  // Rows i0..i1-1 and columns j0..j1-1 in a grid of at most maxRows by
  // maxCols blocks, each holding the least value of its cells, so that the
  // narrow band of near-best alignments stays visible at any scale. A window
  // smaller than that is given cell by cell. Throws Error (input) for an
  // empty window or one outside the grid, or a size of 0.
  struct Blocks {
    std::size_t rows = 0, cols = 0;  // blocks
    std::vector<float> values;       // rows * cols, row by row
  };
  Blocks blocks(std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1, std::size_t maxRows,
                std::size_t maxCols) const;

 private:
  std::size_t rows_ = 0, cols_ = 0;
  int K_ = 0;
  Hypothesis hypothesis_ = Hypothesis::global;
  double bestMsgLen_ = 0, marginalMsgLen_ = 0;
  std::vector<float> bits_;
};

// The posterior probabilities of the machine at distance K, kept for every
// pair of residues (4 bytes a cell): the confidence of each column of any
// alignment of the pair.
class ColumnConfidence {
 public:
  // Under the config's hypothesis, global or local (automatic is refused):
  // under the local one a residue is unpaired in a flank as in a gap.
  ColumnConfidence(const Sequence& s, const Sequence& t, const Models& models, int K, const AlignConfig& config = {});
  ~ColumnConfidence();
  ColumnConfidence(ColumnConfidence&&) noexcept;
  ColumnConfidence& operator=(ColumnConfidence&&) noexcept;

  // Per column of the path ('m', 'd', 'i'), the posterior probability of its
  // pair (match) or of its residue being unpaired (gap). Throws Error
  // (input) when the path is not an alignment of the whole pair.
  std::vector<double> of(const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An alignment of the pair given by its path (the best through a cell, say)
// as a result of the marginal criterion at distance K (its search at K), for
// formatAlignment: its rows, the parameters at K, the null message length,
// its message length (alignmentMsgLen), the marginal message length at K,
// the compression (the null less the marginal, as the marginal criteria
// state it) and the column confidences (empty: none), under the config's
// hypothesis, global or local (automatic is refused): the result's
// hypothesis details name it as the one asked and sent, with the marginal
// message length as its own and the path's region (a local path needs a
// matched column). Throws Error (input) when the path is not an alignment
// of the pair.
AlignResult cellAlignmentResult(const Sequence& s, const Sequence& t, const Models& models, int K,
                                const std::string& path, double msgLen, double marginalMsgLen,
                                const std::vector<double>& confidence, const AlignConfig& config = {});

// Bytes of dynamic-programming storage that exploring a pair of these
// lengths needs at its peak: the landscape being computed (28 bytes a cell)
// beside the cell paths (50), then the column confidences (4) and an
// alignment under a criterion (at most 5); 58 bytes a cell stay.
double explorerMemoryNeeded(std::size_t nS, std::size_t nT);

}  // namespace seqcorvane
