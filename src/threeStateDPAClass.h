// The three-state alignment machine (match M, delete D, insert I) over a pair
// of protein sequences: its dynamic-programming matrices, transition
// probabilities, optimal alignment, parameter estimation, the message length
// of a given alignment, the marginal probability over all alignments, the
// landscape of marginal probabilities through every cell and the interactive
// mode. Also the log-space sum and minimum helpers its programmes share.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "nullModelClass.h"

// State codes.
constexpr int64_t STATE_M = 0;
constexpr int64_t STATE_D = 1;
constexpr int64_t STATE_I = 2;
constexpr int64_t STATE_NONE = 9;

// One cell of a DP matrix (all lengths in nits).
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

// A (|S|+1) x (|T|+1) matrix of cells in one contiguous buffer; m[i][j] is
// row i, column j.
class DPMatrix {
 public:
  DPMatrix() = default;
  DPMatrix(size_t nRows, size_t nCols) : rows(nRows), cols(nCols), cells(nRows * nCols) {}
  dpcell_t* operator[](size_t i) { return cells.data() + i * cols; }
  const dpcell_t* operator[](size_t i) const { return cells.data() + i * cols; }
  size_t size() const { return rows; }
  size_t nColumns() const { return cols; }
  std::vector<dpcell_t>& allCells() { return cells; }

 private:
  size_t rows = 0;
  size_t cols = 0;
  std::vector<dpcell_t> cells;
};

// ---- log-space sums and minima ----
// -ln(sum of e^-x) over the entries, without leaving log space.
double findNeglogSum(std::vector<double> v);
// The same for a fixed number of entries, with exactly the same operations
// (sort ascending, then add from the smallest finite value up); allocates nothing.
template <size_t N>
double findNeglogSum(std::array<double, N> v);
// The cell of least totalMsgLen among the first three; ties to the lower index.
dpcell_t findMin(const std::vector<dpcell_t>& cells);
// The same choice among three cells without building a vector.
const dpcell_t& findMin(const dpcell_t& c0, const dpcell_t& c1, const dpcell_t& c2);
double findMinIvalue(double a, double b, double c, int& pos);
double findMinInArray(const std::vector<double>& array);
double findMinAndArgMinInArray(const std::vector<double>& array, int& argmin);

class threeStateDPAClass_t {
 public:
  // Runs the whole computation for the criterion ("optimal", "marginal" or
  // "marginal-interactive"; any other value runs nothing).
  threeStateDPAClass_t(std::string& S, std::string& T, nullModelClass_t& nullMdl, SubmatClass_t& pam,
                       std::string criterion, std::string outPrefix);
  // Scores a given alignment (its state string).
  threeStateDPAClass_t(std::string& S, std::string& T, std::string& fsastr, nullModelClass_t& nullMdl,
                       SubmatClass_t& pam);
  ~threeStateDPAClass_t();

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
  const std::vector<DPMatrix>& getDPMatrices() const { return dpmat; }
  const std::vector<DPMatrix>& getDPMatricesCell2sink() const { return dpmat_cell2sink; }
  const std::vector<std::vector<double>>& getLandscape() const { return landscape; }

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
  void fillDPMatrices_cell2sink();
  std::string printAlignmentThroughCell(int i, int j);
  void printTotalFwdPlusBwd();

 private:
  // Per-residue costs for the current parameters, computed once before each
  // DP pass so that the inner loops are additions and comparisons.
  void prepareCosts();
  void interactiveMode();
  void saveAlignment(const std::vector<std::string>& rows);
  // Pnull of a residue letter (order-0 null model), cached at construction.
  double pnull(char c) const { return pnullOfChar[static_cast<unsigned char>(c)]; }
  void cacheNullProbs();

  std::string S;
  std::string T;
  nullModelClass_t nullMdl;
  SubmatClass_t pam;
  std::string criterion;
  std::string outPrefix;
  std::map<std::string, double> fsaPr;
  std::vector<DPMatrix> dpmat;
  std::vector<DPMatrix> dpmat_cell2sink;
  double paramMsgLen = 0;
  double optAlignMsgLen = std::numeric_limits<double>::infinity();
  double optAlignMsgLen_cell2sink = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen_2sink = std::numeric_limits<double>::infinity();
  std::string optAlignFSAstr;
  std::string cell2sinkFSAstr;
  std::vector<std::vector<double>> landscape;

  // Cost tables (nits) for the current parameters.
  std::vector<double> gapCostS;   // -ln Pnull(S[i])
  std::vector<double> gapCostT;   // -ln Pnull(T[j])
  std::vector<int> idxS;          // substitution-model index of S[i]
  std::vector<int> idxT;          // substitution-model index of T[j]
  std::array<std::array<double, 20>, 20> matchCost{};  // [a][b]: -ln matchPr(a of S, b of T)
  std::array<std::array<double, 3>, 3> transCost{};    // [X][Y]: -ln fsaPr[XY]
  std::vector<std::string> savedFiles;  // alignments saved in the interactive mode
  std::array<double, 256> pnullOfChar{};
};
