#include "calibration.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>

#include "main.h"
#include "misc.h"
#include "threeStateDPAClass.h"

namespace calibration {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

bool isResidue(char c) { return c >= 'A' && c <= 'Z' && std::string("ACDEFGHIKLMNPQRSTVWY").find(c) != std::string::npos; }

}  // namespace

// ---------------------------------------------------------------------------
// Reference alignments

std::vector<ReferencePair> readReferencePairs(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw CalibrationError(path + ": cannot open for reading");
  const std::vector<std::string> expected{"pair_id", "dataset", "family", "percent_identity", "row_s", "row_t"};
  std::map<std::string, size_t> column;
  std::vector<ReferencePair> pairs;
  std::string line;
  long lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = path + ":" + std::to_string(lineNo) + ": ";
    std::vector<std::string> f = splitTabs(line);
    if (lineNo == 1) {
      for (size_t k = 0; k < f.size(); ++k) column[f[k]] = k;
      for (const std::string& name : expected)
        if (!column.count(name)) throw CalibrationError(where + "header lacks the column '" + name + "'");
      continue;
    }
    if (line.empty()) continue;
    if (f.size() < column.size())
      throw CalibrationError(where + "expected " + std::to_string(column.size()) + " tab-separated fields, found " +
                             std::to_string(f.size()));
    ReferencePair p;
    p.id = f[column["pair_id"]];
    p.dataset = f[column["dataset"]];
    p.family = f[column["family"]];
    const std::string& pid = f[column["percent_identity"]];
    char* end = nullptr;
    p.percentIdentity = std::strtod(pid.c_str(), &end);
    if (pid.empty() || *end != '\0' || !(p.percentIdentity >= 0 && p.percentIdentity <= 100))
      throw CalibrationError(where + "percent_identity '" + pid + "' is not a number from 0 to 100");
    p.rowS = f[column["row_s"]];
    p.rowT = f[column["row_t"]];
    for (const std::string* row : {&p.rowS, &p.rowT})
      for (char c : *row)
        if (c != '-' && !isResidue(c))
          throw CalibrationError(where + "row holds '" + std::string(1, c) +
                                 "' (expected one of the 20 residue letters or '-')");
    try {
      rowsToStates(p.rowS, p.rowT);
    } catch (const CalibrationError& e) {
      throw CalibrationError(where + e.what());
    }
    if (ungap(p.rowS).empty() || ungap(p.rowT).empty()) throw CalibrationError(where + "a row holds no residue");
    pairs.push_back(std::move(p));
  }
  if (lineNo == 0) throw CalibrationError(path + ": empty file (expected a header line)");
  return pairs;
}

void writeReferencePairs(const std::string& path, const std::vector<ReferencePair>& pairs) {
  std::ofstream out(path);
  if (!out) throw CalibrationError(path + ": cannot open for writing");
  out << "pair_id\tdataset\tfamily\tpercent_identity\trow_s\trow_t\n";
  for (const ReferencePair& p : pairs)
    out << p.id << '\t' << p.dataset << '\t' << p.family << '\t' << p.percentIdentity << '\t' << p.rowS << '\t'
        << p.rowT << '\n';
  if (!out) throw CalibrationError(path + ": write error");
}

std::string ungap(const std::string& row) {
  std::string s;
  s.reserve(row.size());
  for (char c : row)
    if (c != '-') s.push_back(c);
  return s;
}

std::string rowsToStates(const std::string& rowS, const std::string& rowT) {
  if (rowS.size() != rowT.size())
    throw CalibrationError("rows of unequal length (" + std::to_string(rowS.size()) + " and " +
                           std::to_string(rowT.size()) + ")");
  std::string fsastr;
  fsastr.reserve(rowS.size());
  for (size_t l = 0; l < rowS.size(); ++l) {
    const bool gs = rowS[l] == '-', gt = rowT[l] == '-';
    if (gs && gt) throw CalibrationError("column " + std::to_string(l + 1) + " holds two gaps");
    fsastr.push_back(gs ? 'i' : gt ? 'd' : 'm');
  }
  return fsastr;
}

// ---------------------------------------------------------------------------
// Transitions

TransitionCounts& TransitionCounts::operator+=(const TransitionCounts& o) {
  matchToMatch += o.matchToMatch;
  matchToGap += o.matchToGap;
  gapStay += o.gapStay;
  gapToMatch += o.gapToMatch;
  gapSwitch += o.gapSwitch;
  return *this;
}

TransitionCounts countTransitions(const std::string& fsastr) {
  TransitionCounts c;
  for (size_t l = 1; l < fsastr.size(); ++l) {
    const char x = fsastr[l - 1], y = fsastr[l];
    if (x == 'm')
      (y == 'm' ? c.matchToMatch : c.matchToGap) += 1;
    else
      (y == 'm' ? c.gapToMatch : y == x ? c.gapStay : c.gapSwitch) += 1;
  }
  return c;
}

// ---------------------------------------------------------------------------
// Distance of the match columns

PairCounts countMatchedPairs(const std::string& rowS, const std::string& rowT, const std::string& alphabet) {
  PairCounts counts{};
  int idx[256];
  std::fill(std::begin(idx), std::end(idx), -1);
  for (size_t k = 0; k < alphabet.size(); ++k) idx[static_cast<unsigned char>(alphabet[k])] = static_cast<int>(k);
  const size_t n = std::min(rowS.size(), rowT.size());
  for (size_t l = 0; l < n; ++l) {
    const int a = idx[static_cast<unsigned char>(rowS[l])], b = idx[static_cast<unsigned char>(rowT[l])];
    if (a >= 0 && b >= 0) counts[a][b] += 1;
  }
  return counts;
}

MatchCostTables::MatchCostTables(const nullModelClass_t& nullMdl) {
  SubmatClass_t model(1);
  alphabet_ = model.getAlphabet();
  if (alphabet_.size() != 20) throw CalibrationError("the substitution model's alphabet is not 20 letters");
  std::array<double, 20> pnull{};
  for (size_t a = 0; a < 20; ++a) pnull[a] = nullMdl.pr(std::string(1, alphabet_[a]));
  costs_.resize(MAX_K);
  for (int K = 1; K <= MAX_K; ++K) {
    model.exp(K);
    for (unsigned a = 0; a < 20; ++a)
      for (unsigned b = 0; b < 20; ++b)
        costs_[K - 1][a][b] = -std::log(0.5 * (pnull[a] * model.pr(b, a) + pnull[b] * model.pr(a, b)));
  }
}

MatchCostTables::MatchCostTables(std::string alphabet, std::vector<PairCounts> costs)
    : alphabet_(std::move(alphabet)), costs_(std::move(costs)) {}

double MatchCostTables::matchMsgLen(int K, const PairCounts& counts) const {
  const PairCounts& c = costs_[K - 1];
  double total = 0;
  for (int a = 0; a < 20; ++a)
    for (int b = 0; b < 20; ++b)
      if (counts[a][b] != 0) total += counts[a][b] * c[a][b];
  return total;
}

int MatchCostTables::bestK(const PairCounts& counts) const {
  // Only the residue pairs that occur matter; gather them once.
  std::vector<std::pair<int, double>> used;
  for (int a = 0; a < 20; ++a)
    for (int b = 0; b < 20; ++b)
      if (counts[a][b] != 0) used.emplace_back(a * 20 + b, counts[a][b]);
  int best = 1;
  double bestLen = std::numeric_limits<double>::infinity();
  for (int K = 1; K <= maxK(); ++K) {
    const double* c = &costs_[K - 1][0][0];
    double total = 0;
    for (const auto& u : used) total += u.second * c[u.first];
    if (total < bestLen) {
      bestLen = total;
      best = K;
    }
  }
  return best;
}

std::vector<Observation> observePairs(const std::vector<ReferencePair>& pairs, const MatchCostTables& tables) {
  std::vector<Observation> obs;
  obs.reserve(pairs.size());
  for (const ReferencePair& p : pairs) {
    Observation o;
    o.K = tables.bestK(countMatchedPairs(p.rowS, p.rowT, tables.alphabet()));
    o.counts = countTransitions(rowsToStates(p.rowS, p.rowT));
    obs.push_back(o);
  }
  return obs;
}

// ---------------------------------------------------------------------------
// Multinomial logistic regression in ln K

std::vector<double> LogisticFit::probabilities(double K) const {
  const double x = std::log(K);
  const size_t J = coef.size() + 1;
  std::vector<double> eta(J, 0.0);
  for (size_t j = 1; j < J; ++j) {
    double e = 0, xp = 1;
    for (double c : coef[j - 1]) {
      e += c * xp;
      xp *= x;
    }
    eta[j] = e;
  }
  const double m = *std::max_element(eta.begin(), eta.end());
  double z = 0;
  for (double& e : eta) z += (e = std::exp(e - m));
  for (double& e : eta) e /= z;
  return eta;
}

std::string LogisticFit::formula(int j) const {
  std::ostringstream s;
  s << std::setprecision(10);
  const std::vector<double>& c = coef.at(j - 1);
  for (size_t k = 0; k < c.size(); ++k) {
    if (k == 0) s << c[k];
    else s << (c[k] < 0 ? " - " : " + ") << std::fabs(c[k]) << (k == 1 ? " ln K" : " (ln K)^" + std::to_string(k));
  }
  return s.str();
}

namespace {

// Solves A x = b (small, symmetric positive definite in use) by Gaussian
// elimination with partial pivoting.
std::vector<double> solve(std::vector<std::vector<double>> A, std::vector<double> b) {
  const size_t n = b.size();
  for (size_t c = 0; c < n; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c])) piv = r;
    std::swap(A[c], A[piv]);
    std::swap(b[c], b[piv]);
    if (A[c][c] == 0) throw CalibrationError("singular system in the logistic fit");
    for (size_t r = c + 1; r < n; ++r) {
      const double f = A[r][c] / A[c][c];
      for (size_t k = c; k < n; ++k) A[r][k] -= f * A[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n);
  for (size_t c = n; c-- > 0;) {
    double s = b[c];
    for (size_t k = c + 1; k < n; ++k) s -= A[c][k] * x[k];
    x[c] = s / A[c][c];
  }
  return x;
}

}  // namespace

LogisticFit fitLogisticInLogK(const std::vector<CountsAtDistance>& data, int nOutcomes, int degree,
                              double pseudoCount, double slopePrecision) {
  if (nOutcomes < 2) throw CalibrationError("a logistic fit needs at least two outcomes");
  if (degree < 0 || degree > 4) throw CalibrationError("the degree of the curves must be 0 to 4");
  const size_t J = static_cast<size_t>(nOutcomes), D = static_cast<size_t>(degree) + 1, P = D * (J - 1);
  // Work in z = ln K - mean (count-weighted), where the powers of z are far
  // less correlated than those of ln K; the pseudo-counts sit at z = 0.
  double sw = 0, swx = 0;
  for (const CountsAtDistance& d : data) {
    if (d.counts.size() != J) throw CalibrationError("counts of the wrong size in the logistic fit");
    if (!(d.K >= 1)) throw CalibrationError("distance below 1 in the logistic fit");
    double n = 0;
    for (double c : d.counts) n += c;
    sw += n;
    swx += n * std::log(d.K);
  }
  const double xbar = sw > 0 ? swx / sw : 0.0;
  struct Row {
    std::vector<double> f;  // powers of z
    std::vector<double> y;
    double n;
  };
  auto powers = [&](double z) {
    std::vector<double> f(D);
    double zp = 1;
    for (size_t k = 0; k < D; ++k, zp *= z) f[k] = zp;
    return f;
  };
  std::vector<Row> rows;
  for (const CountsAtDistance& d : data) {
    Row r{powers(std::log(d.K) - xbar), d.counts, 0};
    for (double c : d.counts) r.n += c;
    if (r.n > 0) rows.push_back(r);
  }
  const Row prior{powers(0.0), std::vector<double>(J, pseudoCount), pseudoCount * double(J)};

  auto probs = [&](const std::vector<double>& th, const std::vector<double>& f) {
    std::vector<double> eta(J, 0.0);
    for (size_t j = 1; j < J; ++j)
      for (size_t k = 0; k < D; ++k) eta[j] += th[D * (j - 1) + k] * f[k];
    const double m = *std::max_element(eta.begin(), eta.end());
    double s = 0;
    for (double& e : eta) s += (e = std::exp(e - m));
    for (double& e : eta) e /= s;
    return eta;
  };
  auto logLik = [&](const std::vector<double>& th, bool withPrior) {
    double L = 0;
    auto add = [&](const Row& r) {
      std::vector<double> p = probs(th, r.f);
      for (size_t j = 0; j < J; ++j)
        if (r.y[j] > 0) L += r.y[j] * std::log(p[j]);
    };
    for (const Row& r : rows) add(r);
    if (withPrior) {
      add(prior);
      for (size_t j = 1; j < J; ++j)
        for (size_t k = 1; k < D; ++k) L -= 0.5 * slopePrecision * th[D * (j - 1) + k] * th[D * (j - 1) + k];
    }
    return L;
  };

  // Newton's method with step halving; H is the negative Hessian.
  std::vector<double> th(P, 0.0);
  double L = logLik(th, true);
  int it = 0;
  for (; it < 200; ++it) {
    std::vector<double> g(P, 0.0);
    std::vector<std::vector<double>> H(P, std::vector<double>(P, 0.0));
    auto accumulate = [&](const Row& r) {
      std::vector<double> p = probs(th, r.f);
      for (size_t j = 1; j < J; ++j) {
        const double resid = r.y[j] - r.n * p[j];
        for (size_t u = 0; u < D; ++u) g[D * (j - 1) + u] += resid * r.f[u];
        for (size_t k = 1; k < J; ++k) {
          const double w = r.n * p[j] * ((j == k ? 1.0 : 0.0) - p[k]);
          for (size_t u = 0; u < D; ++u)
            for (size_t v = 0; v < D; ++v) H[D * (j - 1) + u][D * (k - 1) + v] += w * r.f[u] * r.f[v];
        }
      }
    };
    for (const Row& r : rows) accumulate(r);
    accumulate(prior);
    for (size_t j = 1; j < J; ++j)
      for (size_t k = 1; k < D; ++k) {
        g[D * (j - 1) + k] -= slopePrecision * th[D * (j - 1) + k];
        H[D * (j - 1) + k][D * (j - 1) + k] += slopePrecision;
      }
    const std::vector<double> step = solve(H, g);
    double t = 1.0, Lnew = L;
    std::vector<double> trial(P);
    for (int halvings = 0; halvings < 60; ++halvings, t *= 0.5) {
      for (size_t q = 0; q < P; ++q) trial[q] = th[q] + t * step[q];
      Lnew = logLik(trial, true);
      if (Lnew >= L - 1e-12 * std::fabs(L)) break;
    }
    double maxStep = 0;
    for (size_t q = 0; q < P; ++q) maxStep = std::max(maxStep, std::fabs(trial[q] - th[q]));
    th = trial;
    const double gain = Lnew - L;
    L = Lnew;
    if (maxStep < 1e-10 || std::fabs(gain) < 1e-13 * (1 + std::fabs(L))) {
      ++it;
      break;
    }
  }
  LogisticFit fit;
  fit.degree = degree;
  fit.iterations = it;
  // Back to powers of ln K: sum_k c_k (x - m)^k = sum_i x^i sum_{k>=i} c_k C(k,i) (-m)^(k-i).
  for (size_t j = 1; j < J; ++j) {
    std::vector<double> c(D, 0.0);
    for (size_t k = 0; k < D; ++k) {
      double binom = 1;  // C(k, i)
      for (size_t i = 0; i <= k; ++i) {
        c[i] += th[D * (j - 1) + k] * binom * std::pow(-xbar, double(k - i));
        binom = binom * double(k - i) / double(i + 1);
      }
    }
    fit.coef.push_back(c);
  }
  fit.logLikelihood = logLik(th, false);
  return fit;
}

double GapCurves::pOpen(int K) const { return open.probabilities(K)[1]; }
double GapCurves::pGapToMatch(int K) const { return gap.probabilities(K)[0]; }
double GapCurves::pStay(int K) const { return gap.probabilities(K)[1]; }
double GapCurves::pSwitch(int K) const { return gap.probabilities(K)[2]; }

GapCurves fitGapCurves(const std::vector<Observation>& obs, int degree) {
  std::vector<CountsAtDistance> fromMatch, fromGap;
  for (const Observation& o : obs) {
    fromMatch.push_back({double(o.K), {o.counts.matchToMatch, o.counts.matchToGap}});
    fromGap.push_back({double(o.K), {o.counts.gapToMatch, o.counts.gapStay, o.counts.gapSwitch}});
  }
  GapCurves c;
  c.open = fitLogisticInLogK(fromMatch, 2, degree);
  c.gap = fitLogisticInLogK(fromGap, 3, degree);
  return c;
}

PriorsTable buildPriorsTable(const std::vector<Observation>& obs, const FitOptions& options) {
  PriorsTable t;
  t.curves = fitGapCurves(obs, options.degree);
  t.options = options;
  const ConcentrationRule& rule = options.concentration;
  const int maxK = MatchCostTables::MAX_K;
  t.cMatch.assign(maxK, rule.floorCount);
  t.cGap.assign(maxK, rule.floorCount);
  const double h2 = 2 * rule.bandwidth * rule.bandwidth;
  for (int K = 1; K <= maxK; ++K) {
    const double x = std::log(double(K));
    for (const Observation& o : obs) {
      const double d = x - std::log(double(o.K));
      const double w = std::exp(-d * d / h2);
      t.cMatch[K - 1] += w * o.counts.fromMatch();
      t.cGap[K - 1] += w * o.counts.fromGap();
    }
  }
  for (int K = 1; K <= maxK; ++K) {
    const double cm = t.cMatch[K - 1], cg = t.cGap[K - 1];
    const double pOpen = t.curves.pOpen(K);
    const std::vector<double> g = t.curves.gap.probabilities(K);  // to match, stay, switch
    // The modes (alpha_i - 1) / (sum alpha - d) are the fitted probabilities.
    t.rows.push_back({K, 1 + cm * (1 - pOpen), 1 + cm * pOpen, 1 + cg * g[1], 1 + cg * g[0], 1 + cg * g[2]});
  }
  return t;
}

void writePriorsTable(const std::string& path, const PriorsTable& table, const std::vector<std::string>& header) {
  std::ofstream out(path);
  if (!out) throw CalibrationError(path + ": cannot open for writing");
  for (const std::string& h : header) out << "# " << h << '\n';
  out << std::setprecision(17);
  for (const PriorRow& r : table.rows)
    out << r.K << ' ' << r.aM1 << ' ' << r.aM2 << ' ' << r.aI1 << ' ' << r.aI2 << ' ' << r.aI3 << '\n';
  out.close();
  if (!out) throw CalibrationError(path + ": write error");
}

std::vector<std::string> describePriorsTable(const PriorsTable& table, const std::vector<Observation>& obs) {
  TransitionCounts total;
  int minK = MatchCostTables::MAX_K, maxK = 1;
  for (const Observation& o : obs) {
    total += o.counts;
    minK = std::min(minK, o.K);
    maxK = std::max(maxK, o.K);
  }
  auto num = [](double v) {
    std::ostringstream s;
    s << std::setprecision(10) << v;
    return s.str();
  };
  const GapCurves& c = table.curves;
  std::vector<std::string> h;
  h.push_back("Fitted from " + std::to_string(obs.size()) + " reference pairs; distances of their match columns " +
              std::to_string(minK) + " to " + std::to_string(maxK) + ".");
  h.push_back("Transitions counted: M->M " + num(total.matchToMatch) + ", M->gap " + num(total.matchToGap) +
              ", gap->same gap " + num(total.gapStay) + ", gap->M " + num(total.gapToMatch) + ", gap->other gap " +
              num(total.gapSwitch) + ".");
  h.push_back("p_open(K) = 1 / (1 + exp(-(" + c.open.formula(1) + ")))");
  h.push_back("gap state: p_stay(K) = e_s / (1 + e_s + e_w), p_switch(K) = e_w / (1 + e_s + e_w), back to M 1 / (1 "
              "+ e_s + e_w),");
  h.push_back("  e_s = exp(" + c.gap.formula(1) + "), e_w = exp(" + c.gap.formula(2) + ")");
  h.push_back("Maximum likelihood (Newton), logits polynomial of degree " + std::to_string(c.open.degree) +
              " in ln K, half a pseudo-count per outcome at the mean ln K.");
  h.push_back("Concentration c(K) per state: transitions out of the state in pairs near K, Gaussian kernel in ln K of "
              "width " + num(table.options.concentration.bandwidth) + ", plus " + num(table.options.concentration.floorCount) + ".");
  h.push_back("Columns: K, match prior (1 + c (1 - p_open), 1 + c p_open), gap prior (1 + c p_stay, 1 + c (1 - "
              "p_stay - p_switch), 1 + c p_switch).");
  return h;
}

std::string formatObservedRates(const std::vector<Observation>& obs, const GapCurves& curves) {
  const int edges[] = {1, 11, 31, 61, 101, 151, 251, 401, 701, 1001};
  std::ostringstream s;
  s << "| K | pairs | from M | p_open observed / fitted | from gap | p_stay observed / fitted | p_switch observed / "
       "fitted |\n|---|---:|---:|---:|---:|---:|---:|\n";
  for (int b = 0; b + 1 < int(sizeof(edges) / sizeof(edges[0])); ++b) {
    TransitionCounts c;
    long n = 0;
    double fOpen = 0, fStay = 0, fSwitch = 0;  // fitted expectations of the counts
    for (const Observation& o : obs) {
      if (o.K < edges[b] || o.K >= edges[b + 1]) continue;
      ++n;
      c += o.counts;
      fOpen += o.counts.fromMatch() * curves.pOpen(o.K);
      fStay += o.counts.fromGap() * curves.pStay(o.K);
      fSwitch += o.counts.fromGap() * curves.pSwitch(o.K);
    }
    s << "| " << edges[b] << "-" << edges[b + 1] - 1 << " | " << n << " | " << c.fromMatch() << " | ";
    auto ratio = [&](double x, double d) {
      std::ostringstream r;
      if (d > 0) r << std::fixed << std::setprecision(4) << x / d;
      else r << "-";
      return r.str();
    };
    s << ratio(c.matchToGap, c.fromMatch()) << " / " << ratio(fOpen, c.fromMatch()) << " | " << c.fromGap() << " | "
      << ratio(c.gapStay, c.fromGap()) << " / " << ratio(fStay, c.fromGap()) << " | " << ratio(c.gapSwitch, c.fromGap())
      << " / " << ratio(fSwitch, c.fromGap()) << " |\n";
  }
  return s.str();
}

// ---------------------------------------------------------------------------
// Accuracy

std::vector<std::pair<int, int>> matchedResiduePairs(const std::string& fsastr) {
  std::vector<std::pair<int, int>> pairs;
  int i = 0, j = 0;
  for (char c : fsastr) {
    if (c == 'm') pairs.emplace_back(i++, j++);
    else if (c == 'd') ++i;
    else if (c == 'i') ++j;
    else throw CalibrationError(std::string("state string holds '") + c + "' (expected m, d or i)");
  }
  return pairs;
}

namespace {
std::pair<int, int> residuesConsumed(const std::string& fsastr) {
  int i = 0, j = 0;
  for (char c : fsastr) {
    if (c == 'm' || c == 'd') ++i;
    if (c == 'm' || c == 'i') ++j;
  }
  return {i, j};
}
}  // namespace

AlignmentAgreement compareAlignments(const std::string& referenceFsastr, const std::string& testFsastr) {
  if (residuesConsumed(referenceFsastr) != residuesConsumed(testFsastr))
    throw CalibrationError("the two alignments do not align the same sequences");
  // Both lists are sorted by i (and by j): walk them together.
  const auto ref = matchedResiduePairs(referenceFsastr), test = matchedResiduePairs(testFsastr);
  AlignmentAgreement a;
  a.referencePairs = static_cast<long>(ref.size());
  size_t k = 0;
  for (const auto& r : ref) {
    while (k < test.size() && test[k].first < r.first) ++k;
    if (k < test.size() && test[k] == r) ++a.reproduced;
  }
  return a;
}

int identityBin(double pid) {
  if (pid < 20) return 0;
  if (pid < 30) return 1;
  if (pid < 40) return 2;
  if (pid < 60) return 3;
  return 4;
}

std::string binLabel(int bin) {
  static const char* labels[N_BINS] = {"0-20%", "20-30%", "30-40%", "40-60%", "60-100%"};
  return bin >= 0 && bin < N_BINS ? labels[bin] : "all";
}

namespace {
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
}  // namespace

void withSilentStdout(const std::function<void()>& fn) {
  static NullBuffer nullBuffer;
  std::cout.flush();
  std::streambuf* saved = std::cout.rdbuf(&nullBuffer);
  try {
    fn();
  } catch (...) {
    std::cout.rdbuf(saved);
    throw;
  }
  std::cout.rdbuf(saved);
}

PairResult evaluatePair(const ReferencePair& pair, nullModelClass_t& nullMdl, SubmatClass_t& pam) {
  PairResult r;
  r.id = pair.id;
  r.bin = identityBin(pair.percentIdentity);
  std::string S = ungap(pair.rowS), T = ungap(pair.rowT);
  std::string refFsa = rowsToStates(pair.rowS, pair.rowT);
  withSilentStdout([&] {
    const double INull = computeINullST(S, T, nullMdl);
    threeStateDPAClass_t opt(S, T, nullMdl, pam, "optimal", "/dev/null");
    const std::string optFsa = opt.getOptAlignFSAstr();
    const AlignmentAgreement a = compareAlignments(refFsa, optFsa);
    r.referencePairs = a.referencePairs;
    r.reproduced = a.reproduced;
    r.optimalK = opt.getSubmatK();
    r.optimalCompressionBits = nits2bits(INull - opt.getOptAlignMsgLen());
    threeStateDPAClass_t given(S, T, refFsa, nullMdl, pam);
    r.referenceK = given.getSubmatK();
    r.referenceCompressionBits = nits2bits(INull - given.getOptAlignMsgLen());
  });
  return r;
}

std::string formatPairResult(const PairResult& r) {
  std::ostringstream s;
  s << std::setprecision(17) << r.id << '\t' << r.bin << '\t' << r.referencePairs << '\t' << r.reproduced << '\t'
    << r.referenceCompressionBits << '\t' << r.optimalCompressionBits << '\t' << r.optimalK << '\t' << r.referenceK;
  return s.str();
}

PairResult parsePairResult(const std::string& line) {
  std::vector<std::string> f = splitTabs(line);
  if (f.size() != 8) throw CalibrationError("malformed result line: " + line);
  PairResult r;
  try {
    r.id = f[0];
    r.bin = std::stoi(f[1]);
    r.referencePairs = std::stol(f[2]);
    r.reproduced = std::stol(f[3]);
    r.referenceCompressionBits = std::stod(f[4]);
    r.optimalCompressionBits = std::stod(f[5]);
    r.optimalK = std::stoi(f[6]);
    r.referenceK = std::stoi(f[7]);
  } catch (const std::exception&) {
    throw CalibrationError("malformed result line: " + line);
  }
  return r;
}

AccuracyTable tabulate(const std::vector<PairResult>& results) {
  AccuracyTable t;
  for (const PairResult& r : results) {
    for (AccuracyRow* row : {&t.bins.at(r.bin), &t.overall}) {
      row->pairs += 1;
      row->referencePairs += r.referencePairs;
      row->reproduced += r.reproduced;
      row->sumPairFraction += r.referencePairs ? double(r.reproduced) / double(r.referencePairs) : 1.0;
      row->sumReferenceCompression += r.referenceCompressionBits;
      row->sumOptimalCompression += r.optimalCompressionBits;
    }
  }
  return t;
}

std::string formatAccuracyTable(const AccuracyTable& t) {
  std::ostringstream s;
  s << "| identity | pairs | reference residue pairs | accuracy | per-pair mean accuracy | mean compression of "
       "reference (bits) | mean compression of optimal (bits) |\n";
  s << "|---|---:|---:|---:|---:|---:|---:|\n";
  auto line = [&](const std::string& label, const AccuracyRow& r) {
    s << "| " << label << " | " << r.pairs << " | " << r.referencePairs << " | " << std::fixed << std::setprecision(4)
      << r.accuracy() << " | " << r.meanPairAccuracy() << " | " << std::setprecision(1)
      << r.meanReferenceCompression() << " | " << r.meanOptimalCompression() << " |\n";
    s.unsetf(std::ios::floatfield);
  };
  for (int b = 0; b < N_BINS; ++b) line(binLabel(b), t.bins[b]);
  line("all", t.overall);
  return s.str();
}

bool atLeastAsAccurate(const AccuracyTable& candidate, const AccuracyTable& baseline) {
  if (candidate.overall.accuracy() < baseline.overall.accuracy()) return false;
  for (int b = 0; b < N_BINS; ++b) {
    if (b == identityBin(40)) break;  // bins below 40% identity only
    if (candidate.bins[b].accuracy() < baseline.bins[b].accuracy()) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Folds

int foldOfFamily(const std::string& family, int nFolds) {
  uint64_t h = 1469598103934665603ULL;  // FNV-1a, 64 bits
  for (unsigned char c : family) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return static_cast<int>(h % static_cast<uint64_t>(nFolds));
}

// ---------------------------------------------------------------------------
// Worker processes

std::vector<std::string> runInWorkers(const std::vector<size_t>& order, int nWorkers,
                                      const std::function<std::string(size_t)>& job,
                                      const std::function<void(size_t, size_t)>& progress) {
  const size_t nJobs = order.size();
  std::vector<std::string> out(nJobs);
  if (nJobs == 0) return out;
  nWorkers = std::max(1, std::min<int>(nWorkers, static_cast<int>(nJobs)));
  // The next job to hand out and the number finished, shared by all workers.
  void* shared = ::mmap(nullptr, 2 * sizeof(std::atomic<size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                        -1, 0);
  if (shared == MAP_FAILED) throw CalibrationError("cannot map shared memory for the workers");
  auto* next = new (shared) std::atomic<size_t>(0);
  auto* done = new (static_cast<std::atomic<size_t>*>(shared) + 1) std::atomic<size_t>(0);

  char dirTmpl[] = "/tmp/seqcorvane-workers-XXXXXX";
  if (::mkdtemp(dirTmpl) == nullptr) throw CalibrationError("cannot create a directory for the workers' results");
  const std::string dir = dirTmpl;
  std::cout.flush();
  std::cerr.flush();
  std::vector<pid_t> pids;
  for (int w = 0; w < nWorkers; ++w) {
    const std::string file = dir + "/worker" + std::to_string(w);
    pid_t pid = ::fork();
    if (pid < 0) throw CalibrationError("fork failed");
    if (pid == 0) {
      int status = 0;
      {
        std::ofstream res(file);
        withSilentStdout([&] {
          while (true) {
            const size_t k = next->fetch_add(1);
            if (k >= nJobs) break;
            const size_t jobIndex = order[k];
            std::string line;
            try {
              line = job(jobIndex);
            } catch (const std::exception& e) {
              std::cerr << "job " << jobIndex << ": " << e.what() << "\n";
              status = 3;
              break;
            }
            res << jobIndex << '\t' << line << '\n';
            res.flush();
            done->fetch_add(1);
          }
        });
        res.close();
        if (!res) status = 4;
      }
      std::cerr.flush();
      ::_exit(status);
    }
    pids.push_back(pid);
  }
  std::string failure;
  size_t remaining = pids.size();
  while (remaining > 0) {
    for (pid_t& pid : pids) {
      if (pid <= 0) continue;
      int status = 0;
      pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
          failure = "a worker process failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                    ")";
        pid = 0;
        --remaining;
      }
    }
    if (progress) progress(done->load(), nJobs);
    if (remaining > 0) ::usleep(200000);
  }
  std::vector<bool> have(nJobs, false);
  for (int w = 0; w < nWorkers; ++w) {
    const std::string file = dir + "/worker" + std::to_string(w);
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      const size_t k = std::stoul(line.substr(0, tab));
      if (k < nJobs) {
        out[k] = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        have[k] = true;
      }
    }
    std::remove(file.c_str());
  }
  ::rmdir(dir.c_str());
  ::munmap(shared, 2 * sizeof(std::atomic<size_t>));
  if (!failure.empty()) throw CalibrationError(failure);
  for (size_t k = 0; k < nJobs; ++k)
    if (!have[k]) throw CalibrationError("no result for job " + std::to_string(k));
  return out;
}

}  // namespace calibration
