#include "calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <map>
#include <sstream>

#include "invariants.h"
#include "numbers.h"
#include "seqcorvane/io.h"

namespace calibration {

using seqcorvane::shell::formatFixed;
using seqcorvane::shell::parseNumber;

namespace {
[[noreturn]] void fatalError(const std::string& message) {
  throw seqcorvane::Error(seqcorvane::Error::Kind::input, message);
}
}  // namespace

std::vector<ReferencePair> readReferencePairs(const std::string& path) {
  const std::vector<std::string> lines = seqcorvane::readTextLines(path);
  std::map<std::string, size_t> column;
  std::vector<ReferencePair> pairs;
  for (size_t n = 0; n < lines.size(); ++n) {
    std::string line = lines[n];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    const std::string where = path + ":" + std::to_string(n + 1) + ": ";
    if (n == 0) {
      for (size_t k = 0; k < f.size(); ++k) column[f[k]] = k;
      for (const char* c : {"pair_id", "dataset", "family", "percent_identity", "row_s", "row_t"})
        if (!column.count(c)) fatalError(where + "the header lacks the column " + c);
      continue;
    }
    if (line.empty()) continue;
    if (f.size() != column.size()) fatalError(where + "expected " + std::to_string(column.size()) + " fields");
    ReferencePair p;
    p.id = f[column["pair_id"]];
    p.dataset = f[column["dataset"]];
    p.family = f[column["family"]];
    if (!parseNumber(f[column["percent_identity"]], p.percentIdentity))
      fatalError(where + "percent_identity is not a number");
    p.rowS = f[column["row_s"]];
    p.rowT = f[column["row_t"]];
    if (p.rowS.size() != p.rowT.size()) fatalError(where + "the two rows differ in length");
    for (size_t k = 0; k < p.rowS.size(); ++k) {
      const char a = p.rowS[k], b = p.rowT[k];
      if (a == '-' && b == '-') fatalError(where + "a column of two gaps");
      for (char c : {a, b})
        if (c != '-' && std::string("ACDEFGHIKLMNPQRSTVWY").find(c) == std::string::npos)
          fatalError(where + "'" + std::string(1, c) + "' is not a residue letter or a gap");
    }
    if (seqcorvane::standardResidues(p.rowS).empty() || seqcorvane::standardResidues(p.rowT).empty())
      fatalError(where + "a row without residues");
    pairs.push_back(p);
  }
  return pairs;
}

int foldOfFamily(const std::string& family, int nFolds) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : family) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return static_cast<int>(h % static_cast<std::uint64_t>(nFolds));
}

int identityBin(double pid) {
  if (pid < 20) return 0;
  if (pid < 30) return 1;
  if (pid < 40) return 2;
  if (pid < 60) return 3;
  return 4;
}

const char* binLabel(int bin) {
  static const char* labels[N_BINS] = {"0-20%", "20-30%", "30-40%", "40-60%", "60-100%"};
  return bin >= 0 && bin < N_BINS ? labels[bin] : "all";
}

Agreement compareAlignments(const std::string& referenceFsastr, const std::string& testFsastr) {
  // The matched residue pairs (i of S, j of T) of each, in order of i.
  auto matched = [](const std::string& fsastr) {
    std::vector<std::pair<long, long>> pairs;
    long i = 0, j = 0;
    for (const char c : fsastr) {
      if (c == 'm') pairs.emplace_back(i, j);
      i += c != 'i';
      j += c != 'd';
    }
    return std::make_pair(pairs, std::make_pair(i, j));
  };
  Agreement a;
  a.referenceGapOpenings = seqcorvane::gapOpenings(referenceFsastr);
  a.gapOpenings = seqcorvane::gapOpenings(testFsastr);
  const auto ref = matched(referenceFsastr), test = matched(testFsastr);
  SC_CHECK(ref.second == test.second);
  a.referencePairs = static_cast<long>(ref.first.size());
  a.testPairs = static_cast<long>(test.first.size());
  size_t k = 0;
  for (const auto& r : ref.first) {
    while (k < test.first.size() && test.first[k].first < r.first) ++k;
    if (k < test.first.size() && test.first[k] == r) ++a.reproduced;
  }
  return a;
}

TransitionCounts countTransitions(const std::string& fsastr) {
  TransitionCounts t;
  for (size_t l = 1; l < fsastr.size(); ++l) {
    const char x = fsastr[l - 1], y = fsastr[l];
    if (x == 'm')
      (y == 'm' ? t.matchToMatch : t.matchToGap) += 1;
    else if (y == 'm')
      t.gapToMatch += 1;
    else
      (y == x ? t.gapStay : t.gapSwitch) += 1;
  }
  return t;
}

int matchDistance(const ReferencePair& pair, const seqcorvane::Models& models) {
  // The match columns as counts of residue pairs, costed at every K with the
  // machine's own match cost.
  std::map<std::pair<char, char>, double> counts;
  for (size_t k = 0; k < pair.rowS.size(); ++k)
    if (pair.rowS[k] != '-' && pair.rowT[k] != '-') counts[{pair.rowS[k], pair.rowT[k]}] += 1;
  int bestK = 1;
  double best = std::numeric_limits<double>::infinity();
  for (int K = 1; K <= 1000; ++K) {
    double cost = 0;
    for (const auto& c : counts) cost += c.second * seqcorvane::pairMsgLen(models, K, c.first.first, c.first.second);
    if (cost < best) best = cost, bestK = K;
  }
  return bestK;
}

// ---- the logistic fit ----

std::vector<double> LogisticFit::probabilities(double K) const {
  const double x = std::log(K);
  std::vector<double> eta(coef.size() + 1, 0.0);
  for (size_t j = 1; j < eta.size(); ++j) {
    double xp = 1;
    for (double c : coef[j - 1]) eta[j] += c * xp, xp *= x;
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
    if (k == 0)
      s << c[k];
    else
      s << (c[k] < 0 ? " - " : " + ") << std::fabs(c[k]) << (k == 1 ? " ln K" : " (ln K)^" + std::to_string(k));
  }
  return s.str();
}

namespace {

// Solves A x = b by Gaussian elimination with partial pivoting.
std::vector<double> solve(std::vector<std::vector<double>> A, std::vector<double> b) {
  const size_t n = b.size();
  for (size_t c = 0; c < n; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c])) piv = r;
    std::swap(A[c], A[piv]);
    std::swap(b[c], b[piv]);
    SC_CHECK(A[c][c] != 0);
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

namespace {

// The multinomial logistic model of the fit: for the outcomes 1..J-1 the
// linear predictor eta_j = sum_k th[D (j - 1) + k] z^k over the powers of
// z = ln K - mean (outcome 0 the reference), with the counts at each distance.
struct LogisticData {
  struct Row {
    std::vector<double> f, y;  // the powers of z; the counts of each outcome
    double n;                  // their sum
  };
  size_t J, D;
  std::vector<Row> rows;

  std::vector<double> probs(const std::vector<double>& th, const std::vector<double>& f) const {
    std::vector<double> eta(J, 0.0);
    for (size_t j = 1; j < J; ++j)
      for (size_t k = 0; k < D; ++k) eta[j] += th[D * (j - 1) + k] * f[k];
    const double m = *std::max_element(eta.begin(), eta.end());
    double s = 0;
    for (double& e : eta) s += (e = std::exp(e - m));
    for (double& e : eta) e /= s;
    return eta;
  }
  double logLik(const std::vector<double>& th) const {
    double L = 0;
    for (const Row& r : rows) {
      const std::vector<double> p = probs(th, r.f);
      for (size_t j = 0; j < J; ++j)
        if (r.y[j] > 0) L += r.y[j] * std::log(p[j]);
    }
    return L;
  }
  // Newton's step: the gradient solved against the negative Hessian.
  std::vector<double> newtonStep(const std::vector<double>& th) const {
    const size_t P = D * (J - 1);
    std::vector<double> g(P, 0.0);
    std::vector<std::vector<double>> H(P, std::vector<double>(P, 1e-9));
    for (const Row& r : rows) {
      const std::vector<double> p = probs(th, r.f);
      for (size_t j = 1; j < J; ++j) {
        for (size_t u = 0; u < D; ++u) g[D * (j - 1) + u] += (r.y[j] - r.n * p[j]) * r.f[u];
        for (size_t k = 1; k < J; ++k) {
          const double w = r.n * p[j] * ((j == k ? 1.0 : 0.0) - p[k]);
          for (size_t u = 0; u < D; ++u)
            for (size_t v = 0; v < D; ++v) H[D * (j - 1) + u][D * (k - 1) + v] += w * r.f[u] * r.f[v];
        }
      }
    }
    return solve(H, g);
  }
};

std::vector<double> powersOf(double z, size_t D) {
  std::vector<double> f(D);
  double zp = 1;
  for (size_t k = 0; k < D; ++k, zp *= z) f[k] = zp;
  return f;
}

// Back to powers of ln K: sum_k c_k (x - m)^k = sum_i x^i sum_{k>=i} c_k C(k,i) (-m)^(k-i).
LogisticFit inPowersOfLnK(const std::vector<double>& th, size_t J, size_t D, double xbar) {
  LogisticFit fit;
  for (size_t j = 1; j < J; ++j) {
    std::vector<double> c(D, 0.0);
    for (size_t k = 0; k < D; ++k) {
      double binom = 1;
      for (size_t i = 0; i <= k; ++i) {
        c[i] += th[D * (j - 1) + k] * binom * std::pow(-xbar, double(k - i));
        binom = binom * double(k - i) / double(i + 1);
      }
    }
    fit.coef.push_back(c);
  }
  return fit;
}

}  // namespace

LogisticFit fitLogisticInLogK(const std::vector<CountsAtDistance>& data, int nOutcomes, int degree) {
  SC_CHECK(nOutcomes >= 2 && degree >= 0 && degree <= 4);
  LogisticData m{static_cast<size_t>(nOutcomes), static_cast<size_t>(degree) + 1, {}};
  const size_t P = m.D * (m.J - 1);
  // In z = ln K - mean the powers are far less correlated; the pseudo-counts sit at z = 0.
  double sw = 0, swx = 0;
  for (const CountsAtDistance& d : data) {
    double n = 0;
    for (double c : d.counts) n += c;
    sw += n, swx += n * std::log(d.K);
  }
  const double xbar = sw > 0 ? swx / sw : 0.0;
  for (const CountsAtDistance& d : data) {
    LogisticData::Row r{powersOf(std::log(d.K) - xbar, m.D), d.counts, 0};
    for (double c : d.counts) r.n += c;
    if (r.n > 0) m.rows.push_back(r);
  }
  m.rows.push_back(LogisticData::Row{powersOf(0.0, m.D), std::vector<double>(m.J, 0.5), 0.5 * double(m.J)});
  // Newton's method with step halving.
  std::vector<double> th(P, 0.0);
  double L = m.logLik(th);
  for (int it = 0; it < 200; ++it) {
    const std::vector<double> step = m.newtonStep(th);
    std::vector<double> trial(P);
    double t = 1.0, Lnew = L;
    for (int halvings = 0; halvings < 60; ++halvings, t *= 0.5) {
      for (size_t q = 0; q < P; ++q) trial[q] = th[q] + t * step[q];
      Lnew = m.logLik(trial);
      if (Lnew >= L - 1e-12 * std::fabs(L)) break;
    }
    double maxStep = 0;
    for (size_t q = 0; q < P; ++q) maxStep = std::max(maxStep, std::fabs(trial[q] - th[q]));
    th = trial;
    const double gain = Lnew - L;
    L = Lnew;
    if (maxStep < 1e-10 || std::fabs(gain) < 1e-13 * (1 + std::fabs(L))) break;
  }
  return inPowersOfLnK(th, m.J, m.D, xbar);
}

void writeFittedPriors(const std::string& path, const std::vector<Observation>& obs, int degree,
                       const std::vector<std::string>& header) {
  std::vector<CountsAtDistance> fromMatch, fromGap;
  for (const Observation& o : obs) {
    fromMatch.push_back({double(o.K), {o.counts.matchToMatch, o.counts.matchToGap}});
    fromGap.push_back({double(o.K), {o.counts.gapToMatch, o.counts.gapStay, o.counts.gapSwitch}});
  }
  const LogisticFit open = fitLogisticInLogK(fromMatch, 2, degree), gap = fitLogisticInLogK(fromGap, 3, degree);
  std::ostringstream text;
  for (const std::string& h : header) text << "# " << h << "\n";
  text << "# p_open(K) = 1 / (1 + exp(-(" << open.formula(1) << ")))\n"
       << "# gap state: e_s = exp(" << gap.formula(1) << "), e_w = exp(" << gap.formula(2)
       << "); back to M, stay, switch = (1, e_s, e_w) / (1 + e_s + e_w)\n"
       << "# concentration c(K): transitions out of the state near K (Gaussian kernel of width 0.25 in ln K) + 2\n"
       << "# columns: K, match prior (1 + c (1 - p_open), 1 + c p_open), gap prior (1 + c p_stay, 1 + c p_back, "
          "1 + c p_switch)\n";
  text << std::setprecision(17);
  const double h2 = 2 * 0.25 * 0.25;
  for (int K = 1; K <= 1000; ++K) {
    double cm = 2, cg = 2;
    for (const Observation& o : obs) {
      const double d = std::log(double(K)) - std::log(double(o.K));
      const double w = std::exp(-d * d / h2);
      cm += w * o.counts.fromMatch();
      cg += w * o.counts.fromGap();
    }
    const double pOpen = open.probabilities(K)[1];
    const std::vector<double> g = gap.probabilities(K);  // back, stay, switch
    text << K << ' ' << 1 + cm * (1 - pOpen) << ' ' << 1 + cm * pOpen << ' ' << 1 + cg * g[1] << ' ' << 1 + cg * g[0]
         << ' ' << 1 + cg * g[2] << '\n';
  }
  seqcorvane::writeWholeFile(path, text.str());
}

}  // namespace calibration
