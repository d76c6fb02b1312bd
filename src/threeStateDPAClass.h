// The three-state alignment machine (match M, delete D, insert I) over a pair
// of protein sequences: its transition probabilities, the optimal alignment,
// parameter estimation, the message length of a given alignment, the
// marginal probability over all alignments, the landscape of marginal
// probabilities through every cell and the interactive mode. Also the
// log-space sum and minimum helpers of its programmes.
//
// The machine computes and reports: it writes its report to the output
// stream it is given and reads the dialogue from the input stream it is
// given (standard output and input by default); a failure goes through the
// check module's handler. The class is implemented in one file per concern:
//   threeStateDPAClass.cpp     construction, parameters, report, log-space helpers
//   dpaOptimal.cpp             the optimal fill and the traces
//   dpaEstimation.cpp          parameter estimation and a given alignment's length
//   dpaMarginal.cpp            the marginal sums and the landscape
//   dpaInteractive.cpp         the path through a cell and the dialogue
// The recurrences themselves are in dpKernels, the costs they read in dpCosts.
//
// Memory per grid cell (i, j): one byte of trace codes for the optimal
// criterion; 24 bytes of sums to the sink for the marginal one; for the
// interactive mode the best totals in both directions, their trace codes and
// the landscape, 58 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "dpCosts.h"
#include "dpKernels.h"
#include "nullModelClass.h"

// One cell of the machine's best-path programme: the path's message length in
// its transition and emission parts and their sum, its counts, and the state
// of its previous column (9: none). The fill keeps these fields in compact
// rolling rows; the type remains the unit that findMin compares.
constexpr int64_t STATE_NONE = 9;
struct dpcell_t {
  double transMsgLen = std::numeric_limits<double>::infinity();
  double emitMsgLen = std::numeric_limits<double>::infinity();
  double totalMsgLen = std::numeric_limits<double>::infinity();
  int64_t nMatches = 0;
  int64_t nColumns = 0;
  int64_t prevState = STATE_NONE;
  double fwdMsgLen = std::numeric_limits<double>::infinity();
  double bwdMsgLen = std::numeric_limits<double>::infinity();
};

// ---- log-space sums and minima ----
// -ln(sum of e^-x) over the entries, without leaving log space.
double findNeglogSum(std::vector<double> v);
// The same for a fixed number of entries, with exactly the same operations;
// allocates nothing.
template <size_t N>
double findNeglogSum(std::array<double, N> v);
// The cell of least totalMsgLen among the first three; ties to the lower index.
dpcell_t findMin(const std::vector<dpcell_t>& cells);
double findMinIvalue(double a, double b, double c, int& pos);
double findMinInArray(const std::vector<double>& array);
double findMinAndArgMinInArray(const std::vector<double>& array, int& argmin);

// How the posterior criterion decodes: the rate variation among sites of its
// model, the gap weight of the maximum expected accuracy alignment, and what
// it does where the marginal distance reaches the top of its range.
struct PosteriorOptions {
  double rateShape = 1;  // gamma shape of the site rates (0: every site at one rate)
  int rateCategories = 4;
  double gapOpenScale = 0.35;  // the priors' gap-opening probability times this
  double gapWeight = 0;
  bool fallbackAtTop = true;  // decode at the optimal criterion's distance there
  int topDistance = 999;
  int distanceCap = 0;  // decode at no more than this distance (0: no cap)
};

class threeStateDPAClass_t {
 public:
  // Runs the whole computation for the criterion ("optimal", "marginal",
  // "marginal-interactive" or "posterior"; any other value runs nothing).
  threeStateDPAClass_t(std::string& S, std::string& T, nullModelClass_t& nullMdl, SubmatClass_t& pam,
                       std::string criterion, std::string outPrefix, std::ostream& out = std::cout,
                       std::istream& in = std::cin);
  // Scores a given alignment (its state string).
  threeStateDPAClass_t(std::string& S, std::string& T, std::string& fsastr, nullModelClass_t& nullMdl,
                       SubmatClass_t& pam, std::ostream& out = std::cout);
  ~threeStateDPAClass_t();

  // Bytes of DP storage a run of the criterion needs for sequences of these
  // lengths (the per-cell storage and the rolling rows).
  static double bytesNeeded(size_t nS, size_t nT, const std::string& criterion);

  void init();
  void initParams();
  void resetDPMatrices();
  void printParams();

  double getOptAlignMsgLen() const { return optAlignMsgLen; }
  double getMarginalProbMsgLen() const { return marginalProbMsgLen; }
  std::string getOptAlignFSAstr() const { return optAlignFSAstr; }
  int getSubmatK() const { return pam.getK(); }

  // Read access for inspection and tests.
  double getMarginalProbMsgLen_2sink() const { return marginalProbMsgLen_2sink; }
  double getOptAlignMsgLen_cell2sink() const { return optAlignMsgLen_cell2sink; }
  double getParamMsgLen() const { return paramMsgLen; }
  std::string getCell2sinkFSAstr() const { return cell2sinkFSAstr; }
  const std::map<std::string, double>& getFsaPr() const { return fsaPr; }
  // The landscape value of a cell (nits); kept for the interactive mode only.
  double landscapeAt(size_t i, size_t j) const { return landscape.at(i * (T.size() + 1) + j); }
  // The costs every pass reads, at the current parameters, and at distance K
  // with the transitions for K (the machine's parameters unchanged); with
  // site rates set, the match costs average the model over them.
  CostTable costs() const;
  CostTable costsAt(int K) const;
  // The marginal message length at distance K from the exact log-space pass,
  // or from the fast one (within about 1e-8 nits of it); changes nothing.
  double marginalMsgLenAt(int K, bool exact) const;

  // optimal alignment search
  void fillDPMatrices();
  double traceback(std::string& fsastr, int32_t i, int32_t j, int32_t state);
  double traceforward(std::string& fsastr, int32_t i, int32_t j, int32_t state);

  // parameter estimation
  void EM();
  void estimateParams(std::string fsastr);
  void estimate3StateMachineParams_dirichlet();
  void estimateSubmatParam(std::string fsastr);
  double evalNegLogMatches_fullAlignment(std::string fsastr, std::vector<std::string> A, int n);
  double evalNegLogMatches(std::vector<std::string> pairs, int K);

  // message length of a given alignment
  double fsa2IA(std::string fsastr);
  double fsa2ISTgA(std::string fsastr);
  void printJoints();

  // marginal probability, landscape, alignments through a cell
  double computeTotalProbOfST(int K, bool verbose);
  void computeTotalProbOfST_2sink(bool flag);
  void searchTotalProbOfST();
  // The distance of least marginal message length, with the machine's
  // parameters and marginalProbMsgLen left at it; the landscape files are
  // written only when asked. Returns the distance.
  int searchMarginalDistance(bool writeLandscape);

  // posterior decoding
  // The marginal search, then the maximum expected accuracy alignment and its
  // column posteriors at the distance the options settle on; the parameters
  // are left at that distance and marginalProbMsgLen at the marginal one's.
  void decodePosterior(const PosteriorOptions& options);
  const std::string& getPosteriorFSAstr() const { return posteriorFSAstr; }
  const std::vector<double>& getPosteriorConfidence() const { return posteriorConfidence; }
  int getSearchedDistance() const { return searchedDistance; }
  // The posterior of each column of an alignment at the current parameters
  // (pair posterior of a matched column, unpaired posterior of a gap's residue).
  std::vector<double> columnConfidence(const std::string& fsastr) const;
  // The distance the optimal criterion settles on for this pair.
  int optimalDistance() const;
  void fillDPMatrices_cell2sink();
  std::string printAlignmentThroughCell(int i, int j);
  void printTotalFwdPlusBwd();

 private:
  // The forward sum at the current parameters; hands each finished row to visit.
  double forwardSum(const SumRowVisitor& visit);
  // The block that reports the marginal message length at the current parameters.
  void printMarginalReport();
  void interactiveMode();
  void runPosterior();
  void saveAlignment(const std::vector<std::string>& rows);
  double pnullOf(char c) const { return pnull[static_cast<unsigned char>(c)]; }
  // A trace that met a cell without predecessor: the "Wierd!" report, then a failure.
  [[noreturn]] void corruptPath(const TraceWalk& w);
  // The length of the path traced from the best of the three end cells, and
  // that cell's total (used by both fills for the reported message length).
  double bestPathMsgLen(const TraceCodes& codes, const std::array<PathCost, 3>& end) const;

  std::string S;
  std::string T;
  nullModelClass_t nullMdl;
  SubmatClass_t pam;
  std::string criterion;
  std::string outPrefix;
  std::map<std::string, double> fsaPr;
  double paramMsgLen = 0;
  double optAlignMsgLen = std::numeric_limits<double>::infinity();
  double optAlignMsgLen_cell2sink = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen_2sink = std::numeric_limits<double>::infinity();
  std::string optAlignFSAstr;
  std::string cell2sinkFSAstr;

  std::ostream* out;
  std::istream* in;
  NullProbs pnull{};
  // The mean rates of the site-rate categories of the posterior criterion's
  // model; empty: every site at one rate, as the other criteria model it.
  std::vector<double> siteRates;
  // The posterior criterion's model opens gaps with the priors' probability
  // times this; 1 for the other criteria.
  double gapOpenScale = 1;
  // The transitions at the model's distance: the priors' modes, with the
  // gap opening scaled.
  TransitionTable modelTransitions(const SubmatClass_t& model) const;

  // Best-path trace codes from the start (dpmat) and from the sink
  // (dpmat_cell2sink, in the reversed frame of reversedForSink).
  TraceCodes dpmat;
  TraceCodes dpmat_cell2sink;
  std::array<PathCost, 3> fwdEnd{}, sinkEnd{};  // the three end cells of each fill
  bool fwdFilled = false, sinkFilled = false;
  // Whether the fills keep the best total of every cell (the interactive mode).
  bool keepTotals() const { return criterion == "marginal-interactive"; }
  // The best totals of every cell in both directions (interactive mode only).
  StatePlanes fwdTotals, sinkTotals;
  // The sums to the sink of every cell, in the reversed frame, for the landscape.
  StatePlanes sinkSums;
  // The landscape, row-major (interactive mode only: the files are written
  // row by row as the rows are computed).
  std::vector<double, LargeAllocator<double>> landscape;
  std::vector<std::string> savedFiles;  // alignments saved in the interactive mode
  // The posterior criterion's alignment, its column posteriors and distances.
  std::string posteriorFSAstr;
  std::vector<double> posteriorConfidence;
  int posteriorK = 0, searchedDistance = 0;
};
