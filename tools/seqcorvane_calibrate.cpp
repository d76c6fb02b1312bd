// seqcorvane-calibrate: fits the alignment machine's gap priors to reference
// pairwise alignments, and measures how closely the machine's optimal
// alignments reproduce the references.
//
//   fit       writes a priors table fitted to the pairs (optionally leaving
//             out one fold of families)
//   accuracy  runs the optimal mode on the pairs with one set of model files
//             and one priors table, and tabulates accuracy and compression
//   crossval  for each substitution model: fits on four folds of families,
//             measures on the fifth, against a baseline priors table; picks
//             the table and the model to ship
//   sample    writes a small, deterministic sample of the pairs
//
// The models are read the way the program reads them: from ./data of the
// working directory. Each set of model files and priors table gets its own
// working directory (<scratch>/<label>/data/), and the tool changes into it
// before building models.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "dataFiles.h"
#include "misc.h"

namespace fs = std::filesystem;
using namespace calibration;

namespace {

const char* USAGE =
    "usage:\n"
    "  seqcorvane-calibrate fit --pairs FILE [--models DIR] [--out FILE] [--fold F [--folds N]] [--degree D]\n"
    "  seqcorvane-calibrate accuracy --pairs FILE [--models DIR] [--priors FILE] [--workers N]\n"
    "                                [--scratch DIR] [--report FILE] [--title TEXT]\n"
    "  seqcorvane-calibrate crossval --pairs FILE --model NAME=DIR [--model NAME=DIR ...] --baseline FILE\n"
    "                                [--folds N] [--degree D] [--workers N] [--scratch DIR] [--report FILE]\n"
    "                                [--ship DIR]\n"
    "  seqcorvane-calibrate sample --pairs FILE --out FILE [--per-bin N] [--max-length L]\n"
    "\n"
    "  --pairs     reference alignments (pair_id, dataset, family, percent_identity, row_s, row_t)\n"
    "  --models    directory of the model files (protSeqNullMMLEstimatesOrder0.txt, S_double_precision.txt,\n"
    "              D_double_precision.txt, S_inv_double_precision.txt); default: the data directory in use\n"
    "  --out       output file (fit: default data/DirichletPriorsGivenN.txt)\n"
    "  --fold F    fit on the families outside fold F of N (default N = 5)\n"
    "  --degree D  degree of the polynomial in ln K of the curves' logits (default 1)\n"
    "  --priors    priors table to measure (default: the one beside the model files, else the one in use)\n"
    "  --baseline  the priors table the fitted ones are compared with\n"
    "  --workers   worker processes (default 2)\n"
    "  --scratch   directory for the working copies of the data (default /tmp/seqcorvane-cv)\n"
    "  --report    Markdown file for the tables\n"
    "  --ship      copy the chosen model files and priors table into this data directory\n";

const std::vector<std::string> MODEL_FILES = {"protSeqNullMMLEstimatesOrder0.txt", "S_double_precision.txt",
                                              "D_double_precision.txt", "S_inv_double_precision.txt"};
const std::string PRIORS_FILE = "DirichletPriorsGivenN.txt";

struct Options {
  std::string command;
  std::string pairs, models, out, priors, baseline, scratch = "/tmp/seqcorvane-cv", report, ship, title;
  std::vector<std::pair<std::string, std::string>> modelSets;
  int fold = -1, folds = 5, workers = 2, perBin = 4, maxLength = 160, degree = 1;
  std::string commandLine;
};

[[noreturn]] void usageError(const std::string& msg) {
  std::cerr << "seqcorvane-calibrate: " << msg << "\n\n" << USAGE;
  std::exit(1);
}

int toInt(const std::string& flag, const std::string& v) {
  char* end = nullptr;
  long x = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0') usageError(flag + " expects an integer, not '" + v + "'");
  return static_cast<int>(x);
}

std::string absolute(const std::string& p) { return p.empty() ? p : fs::absolute(p).lexically_normal().string(); }

Options parse(int argc, char** argv) {
  Options o;
  for (int k = 0; k < argc; ++k) o.commandLine += (k ? " " : "") + std::string(argv[k]);
  if (argc < 2) usageError("no command given");
  o.command = argv[1];
  for (int k = 2; k < argc; ++k) {
    const std::string a = argv[k];
    auto value = [&]() -> std::string {
      if (k + 1 >= argc) usageError(a + " expects a value");
      return argv[++k];
    };
    if (a == "--pairs") o.pairs = absolute(value());
    else if (a == "--models") o.models = absolute(value());
    else if (a == "--out") o.out = absolute(value());
    else if (a == "--priors") o.priors = absolute(value());
    else if (a == "--baseline") o.baseline = absolute(value());
    else if (a == "--scratch") o.scratch = absolute(value());
    else if (a == "--report") o.report = absolute(value());
    else if (a == "--ship") o.ship = absolute(value());
    else if (a == "--title") o.title = value();
    else if (a == "--fold") o.fold = toInt(a, value());
    else if (a == "--folds") o.folds = toInt(a, value());
    else if (a == "--workers") o.workers = toInt(a, value());
    else if (a == "--degree") o.degree = toInt(a, value());
    else if (a == "--per-bin") o.perBin = toInt(a, value());
    else if (a == "--max-length") o.maxLength = toInt(a, value());
    else if (a == "--model") {
      const std::string v = value();
      const size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == v.size()) usageError("--model expects NAME=DIR");
      o.modelSets.emplace_back(v.substr(0, eq), absolute(v.substr(eq + 1)));
    } else if (a == "-h" || a == "--help") {
      std::cout << USAGE;
      std::exit(0);
    } else usageError("unknown argument '" + a + "'");
  }
  if (o.pairs.empty() && o.command != "-h") usageError("--pairs is required");
  if (o.folds < 2) usageError("--folds must be at least 2");
  if (o.fold >= o.folds) usageError("--fold must be below --folds");
  if (o.workers < 1) usageError("--workers must be at least 1");
  if (o.degree < 1 || o.degree > 3) usageError("--degree must be 1, 2 or 3");
  return o;
}

std::string dirOf(const std::string& path) { return fs::path(path).parent_path().string(); }

// The directory of the model files in use when none is named.
std::string defaultModelsDir() { return absolute(dirOf(modelFilePath(MODEL_FILES[1]))); }

std::string defaultPriors(const std::string& modelsDir) {
  const std::string beside = modelsDir + "/" + PRIORS_FILE;
  if (fs::exists(beside)) return beside;
  return absolute(modelFilePath(PRIORS_FILE));
}

// <scratch>/<label>/data/ with copies of the model files and the priors table;
// returns <scratch>/<label>.
std::string makeWorkdir(const std::string& scratch, const std::string& label, const std::string& modelsDir,
                        const std::string& priorsFile) {
  const fs::path work = fs::path(scratch) / label;
  const fs::path data = work / "data";
  fs::create_directories(data);
  for (const std::string& f : MODEL_FILES) {
    const fs::path src = fs::path(modelsDir) / f;
    if (!fs::exists(src)) throw CalibrationError(src.string() + ": model file not found");
    fs::copy_file(src, data / f, fs::copy_options::overwrite_existing);
  }
  if (!priorsFile.empty()) fs::copy_file(priorsFile, data / PRIORS_FILE, fs::copy_options::overwrite_existing);
  return work.string();
}

void enter(const std::string& dir) {
  if (::chdir(dir.c_str()) != 0) throw CalibrationError(dir + ": cannot change into the directory");
}

uint64_t fileHash(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint64_t h = 1469598103934665603ULL;
  char c;
  while (in.get(c)) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

std::string hex(uint64_t h) {
  std::ostringstream s;
  s << std::hex << std::setw(16) << std::setfill('0') << h;
  return s.str();
}

// The models of one working directory, built once per process.
struct Models {
  nullModelClass_t nullMdl;
  SubmatClass_t pam;
  Models() : nullMdl("0"), pam(250) {}
};

Models& modelsOf(const std::string& workdir) {
  static std::map<std::string, std::unique_ptr<Models>> cache;
  auto& m = cache[workdir];
  if (!m) {
    enter(workdir);
    m = std::make_unique<Models>();
  }
  return *m;
}

std::vector<size_t> largestFirst(const std::vector<ReferencePair>& pairs, const std::vector<size_t>& pairOfJob) {
  std::vector<size_t> order(pairOfJob.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  auto cost = [&](size_t k) {
    const ReferencePair& p = pairs[pairOfJob[k]];
    return double(ungap(p.rowS).size()) * double(ungap(p.rowT).size());
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return cost(a) > cost(b); });
  return order;
}

void progressLine(size_t done, size_t total) {
  static size_t last = static_cast<size_t>(-1);
  static auto start = std::chrono::steady_clock::now();
  static const bool terminal = ::isatty(2);
  // On a terminal every change; otherwise every tenth of the way.
  if (done == last || (!terminal && done != total && done / std::max<size_t>(1, total / 10) ==
                                                         last / std::max<size_t>(1, total / 10)))
    return;
  last = done;
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cerr << (terminal ? "\r  " : "  ") << done << " / " << total << " alignments, " << std::fixed << std::setprecision(0) << s << " s"
            << (done == total || !terminal ? "\n" : "") << std::flush;
}

std::vector<PairResult> runEvaluations(const std::vector<ReferencePair>& pairs, const std::vector<size_t>& pairOfJob,
                                       const std::vector<std::string>& workdirOfJob, int workers) {
  auto lines = runInWorkers(
      largestFirst(pairs, pairOfJob), workers,
      [&](size_t k) {
        Models& m = modelsOf(workdirOfJob[k]);
        enter(workdirOfJob[k]);
        return formatPairResult(evaluatePair(pairs[pairOfJob[k]], m.nullMdl, m.pam));
      },
      progressLine);
  std::vector<PairResult> results;
  for (const std::string& l : lines) results.push_back(parsePairResult(l));
  return results;
}

void writeText(const std::string& path, const std::string& text) {
  if (!dirOf(path).empty()) fs::create_directories(dirOf(path));
  std::ofstream out(path);
  out << text;
  out.close();
  if (!out) throw CalibrationError(path + ": cannot write");
}

std::string dataDescription(const Options& o, const std::vector<ReferencePair>& pairs) {
  return "Reference pairs: " + fs::path(o.pairs).filename().string() + " (" + std::to_string(pairs.size()) +
         " pairs, FNV-1a " + hex(fileHash(o.pairs)) + ").";
}

std::string modelsDescription(const std::string& name, const std::string& dir) {
  return "Substitution model: " + name + " (S_double_precision.txt FNV-1a " +
         hex(fileHash(dir + "/S_double_precision.txt")) + ").";
}

std::string coefficientsLine(const GapCurves& c) {
  std::ostringstream s;
  s << "logit p_open = " << c.open.formula(1) << "; ln(p_stay / p_back) = " << c.gap.formula(1)
    << "; ln(p_switch / p_back) = " << c.gap.formula(2);
  return s.str();
}

std::string curveSamples(const GapCurves& c) {
  std::ostringstream s;
  s << "| K | p_open | p_stay | p_switch | back to match |\n|---:|---:|---:|---:|---:|\n";
  for (int K : {1, 10, 30, 60, 100, 150, 250, 400, 700, 1000})
    s << "| " << K << " | " << std::fixed << std::setprecision(4) << c.pOpen(K) << " | " << c.pStay(K) << " | "
      << c.pSwitch(K) << " | " << c.pGapToMatch(K) << " |\n";
  return s.str();
}

FitOptions fitOptions(const Options& o) {
  FitOptions f;
  f.degree = o.degree;
  return f;
}

// ---- fit ----

int runFit(const Options& o) {
  const std::vector<ReferencePair> all = readReferencePairs(o.pairs);
  std::vector<ReferencePair> pairs;
  for (const ReferencePair& p : all)
    if (o.fold < 0 || foldOfFamily(p.family, o.folds) != o.fold) pairs.push_back(p);
  if (pairs.empty()) throw CalibrationError("no pairs to fit");
  const std::string modelsDir = o.models.empty() ? defaultModelsDir() : o.models;
  const std::string out = o.out.empty() ? absolute("data/" + PRIORS_FILE) : o.out;
  const std::string work = makeWorkdir(o.scratch, "fit", modelsDir, defaultPriors(modelsDir));
  enter(work);
  nullModelClass_t nullMdl("0");
  const MatchCostTables tables(nullMdl);
  const std::vector<Observation> obs = observePairs(pairs, tables);
  const PriorsTable table = buildPriorsTable(obs, fitOptions(o));
  std::vector<std::string> header{"Dirichlet priors on the alignment machine's transitions, one line per distance K.",
                                  dataDescription(o, all), modelsDescription(modelsDir, modelsDir)};
  if (o.fold >= 0)
    header.push_back("Families of fold " + std::to_string(o.fold) + " of " + std::to_string(o.folds) +
                     " left out (fold = FNV-1a of the family name mod " + std::to_string(o.folds) + ").");
  for (const std::string& h : describePriorsTable(table, obs)) header.push_back(h);
  header.push_back("Generated by: " + o.commandLine);
  writePriorsTable(out, table, header);
  std::cout << "Fitted " << pairs.size() << " pairs; " << coefficientsLine(table.curves) << "\n"
            << curveSamples(table.curves) << "\nObserved and fitted rates by distance of the match columns:\n\n"
            << formatObservedRates(obs, table.curves) << "\nWrote " << out << "\n";
  return 0;
}

// ---- accuracy ----

int runAccuracy(const Options& o) {
  const auto t0 = std::chrono::steady_clock::now();
  const std::vector<ReferencePair> pairs = readReferencePairs(o.pairs);
  const std::string modelsDir = o.models.empty() ? defaultModelsDir() : o.models;
  const std::string priors = o.priors.empty() ? defaultPriors(modelsDir) : o.priors;
  const std::string work = makeWorkdir(o.scratch, "accuracy", modelsDir, priors);
  std::vector<size_t> pairOfJob(pairs.size());
  for (size_t k = 0; k < pairs.size(); ++k) pairOfJob[k] = k;
  std::vector<std::string> workdirs(pairs.size(), work);
  const AccuracyTable t = tabulate(runEvaluations(pairs, pairOfJob, workdirs, o.workers));
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::ostringstream md;
  md << "## " << (o.title.empty() ? "Alignment accuracy" : o.title) << "\n\n"
     << dataDescription(o, pairs) << " Model files: " << modelsDir << "; priors: " << priors << ".\n\n"
     << formatAccuracyTable(t) << "\n"
     << "Run time " << std::fixed << std::setprecision(0) << secs << " s with " << o.workers
     << " worker processes. Command: `" << o.commandLine << "`\n";
  std::cout << md.str();
  if (!o.report.empty()) writeText(o.report, md.str());
  return 0;
}

// ---- crossval ----

struct ModelRun {
  std::string name, dir;
  std::string baselineWork;
  std::vector<std::string> foldWork;
  std::string fullTable;
  GapCurves fullCurves;
  std::vector<Observation> observations;
  std::vector<GapCurves> foldCurves;
  std::vector<PairResult> baselineResults, fittedResults;
  AccuracyTable baseline, fitted;
  bool fittedShips = false;
};

int runCrossval(const Options& o) {
  const auto t0 = std::chrono::steady_clock::now();
  if (o.modelSets.empty()) usageError("crossval needs at least one --model NAME=DIR");
  if (o.baseline.empty()) usageError("crossval needs --baseline FILE");
  const std::vector<ReferencePair> pairs = readReferencePairs(o.pairs);
  std::vector<int> foldOf(pairs.size());
  std::vector<long> pairsInFold(o.folds, 0);
  for (size_t k = 0; k < pairs.size(); ++k) ++pairsInFold[foldOf[k] = foldOfFamily(pairs[k].family, o.folds)];

  std::vector<ModelRun> runs;
  for (const auto& [name, dir] : o.modelSets) {
    ModelRun r;
    r.name = name;
    r.dir = dir;
    r.baselineWork = makeWorkdir(o.scratch, name + "/baseline", dir, o.baseline);
    enter(r.baselineWork);
    nullModelClass_t nullMdl("0");
    const MatchCostTables tables(nullMdl);
    const std::vector<Observation> obs = observePairs(pairs, tables);
    auto header = [&](const std::string& what) {
      return std::vector<std::string>{"Dirichlet priors on the alignment machine's transitions, one line per distance K.",
                                      dataDescription(o, pairs), modelsDescription(name, dir), what};
    };
    for (int f = 0; f < o.folds; ++f) {
      std::vector<Observation> train;
      for (size_t k = 0; k < pairs.size(); ++k)
        if (foldOf[k] != f) train.push_back(obs[k]);
      const PriorsTable table = buildPriorsTable(train, fitOptions(o));
      r.foldCurves.push_back(table.curves);
      const std::string work = makeWorkdir(o.scratch, name + "/fold" + std::to_string(f), dir, "");
      auto h = header("Families of fold " + std::to_string(f) + " of " + std::to_string(o.folds) +
                      " left out (fold = FNV-1a of the family name mod " + std::to_string(o.folds) + ").");
      for (const std::string& line : describePriorsTable(table, train)) h.push_back(line);
      h.push_back("Generated by: " + o.commandLine);
      writePriorsTable(work + "/data/" + PRIORS_FILE, table, h);
      r.foldWork.push_back(work);
    }
    const PriorsTable full = buildPriorsTable(obs, fitOptions(o));
    r.fullCurves = full.curves;
    r.observations = obs;
    const std::string fullWork = makeWorkdir(o.scratch, name + "/full", dir, "");
    auto h = header("All families.");
    for (const std::string& line : describePriorsTable(full, obs)) h.push_back(line);
    h.push_back("Generated by: " + o.commandLine);
    r.fullTable = fullWork + "/data/" + PRIORS_FILE;
    writePriorsTable(r.fullTable, full, h);
    std::cerr << name << ": " << coefficientsLine(full.curves) << "\n";
    runs.push_back(std::move(r));
  }

  // Every pair once with the baseline table and once with the table fitted
  // without its fold, for every model.
  std::vector<size_t> pairOfJob;
  std::vector<std::string> workOfJob;
  for (const ModelRun& r : runs)
    for (size_t k = 0; k < pairs.size(); ++k) {
      pairOfJob.push_back(k);
      workOfJob.push_back(r.baselineWork);
      pairOfJob.push_back(k);
      workOfJob.push_back(r.foldWork[foldOf[k]]);
    }
  std::cerr << "Aligning " << pairOfJob.size() << " pairs with " << o.workers << " workers\n";
  const std::vector<PairResult> results = runEvaluations(pairs, pairOfJob, workOfJob, o.workers);
  for (size_t m = 0; m < runs.size(); ++m) {
    for (size_t k = 0; k < pairs.size(); ++k) {
      runs[m].baselineResults.push_back(results[m * 2 * pairs.size() + 2 * k]);
      runs[m].fittedResults.push_back(results[m * 2 * pairs.size() + 2 * k + 1]);
    }
    runs[m].baseline = tabulate(runs[m].baselineResults);
    runs[m].fitted = tabulate(runs[m].fittedResults);
    runs[m].fittedShips = atLeastAsAccurate(runs[m].fitted, runs[m].baseline);
  }
  // The first model listed is the incumbent. Another replaces it only by the
  // rule that decides between the priors tables: at least as accurate overall
  // and in every bin below 40% identity (each model with the table it would
  // ship); among several such, the most accurate overall.
  auto shipping = [&](const ModelRun& r) -> const AccuracyTable& { return r.fittedShips ? r.fitted : r.baseline; };
  size_t best = 0;
  for (size_t m = 1; m < runs.size(); ++m)
    if (atLeastAsAccurate(shipping(runs[m]), shipping(runs[0])) &&
        (best == 0 || shipping(runs[m]).overall.accuracy() > shipping(runs[best]).overall.accuracy()))
      best = m;
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::ostringstream md;
  md << "# Cross-validated alignment accuracy\n\n"
     << dataDescription(o, pairs) << " Families in " << o.folds
     << " folds by FNV-1a hash of the family name; pairs per fold:";
  for (int f = 0; f < o.folds; ++f) md << " " << pairsInFold[f];
  md << ". Baseline priors: " << fs::path(o.baseline).filename().string() << " (FNV-1a "
     << hex(fileHash(o.baseline)) << ").\n\n"
     << "Accuracy: the fraction of the reference's residue pairs (its match columns) that the optimal alignment "
        "matches too, pooled over the pairs of a row; the per-pair mean beside it. Compression: null message length "
        "minus I(A,<S,T>), in bits, of the reference alignment (scoring mode) and of the optimal one.\n\n";
  md << "## Summary\n\n| model | baseline, all | fitted, all | baseline 0-20% | fitted 0-20% | baseline 20-30% | "
        "fitted 20-30% | baseline 30-40% | fitted 30-40% | fitted table ships |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n";
  for (const ModelRun& r : runs) {
    md << "| " << r.name << std::fixed << std::setprecision(4) << " | " << r.baseline.overall.accuracy() << " | "
       << r.fitted.overall.accuracy();
    for (int b = 0; b < 3; ++b) md << " | " << r.baseline.bins[b].accuracy() << " | " << r.fitted.bins[b].accuracy();
    md << " | " << (r.fittedShips ? "yes" : "no") << " |\n";
  }
  md << "\nModel rule: the first model (" << runs[0].name
     << ") stays unless another, with the table it would ship, is at least as accurate overall and in every bin "
        "below 40% identity.\n\nChosen: " << runs[best].name << " with the " << (runs[best].fittedShips ? "fitted" : "baseline")
     << " priors table.\n\n";
  for (const ModelRun& r : runs) {
    md << "## " << r.name << "\n\nBaseline priors:\n\n" << formatAccuracyTable(r.baseline)
       << "\nFitted priors (each fold measured with the table fitted on the other folds):\n\n"
       << formatAccuracyTable(r.fitted) << "\nPer fold, overall accuracy (baseline / fitted):";
    for (int f = 0; f < o.folds; ++f) {
      std::vector<PairResult> b, t;
      for (size_t k = 0; k < pairs.size(); ++k)
        if (foldOf[k] == f) {
          b.push_back(r.baselineResults[k]);
          t.push_back(r.fittedResults[k]);
        }
      md << " fold " << f << " " << std::fixed << std::setprecision(4) << tabulate(b).overall.accuracy() << " / "
         << tabulate(t).overall.accuracy() << (f + 1 < o.folds ? ";" : ".");
    }
    md << "\n\nCoefficients fitted on all pairs (ln K as the regressor): " << coefficientsLine(r.fullCurves)
       << ".\n\n" << curveSamples(r.fullCurves) << "\nObserved and fitted rates by distance of the match columns (all pairs):\n\n"
       << formatObservedRates(r.observations, r.fullCurves) << "\nCoefficients per fold:\n\n";
    for (int f = 0; f < o.folds; ++f) md << "- fold " << f << " left out: " << coefficientsLine(r.foldCurves[f]) << "\n";
    md << "\n";
  }
  md << "Run time " << std::fixed << std::setprecision(0) << secs << " s with " << o.workers
     << " worker processes.\n\nCommand: `" << o.commandLine << "`\n";
  std::cout << md.str();
  if (!o.report.empty()) writeText(o.report, md.str());

  // Per-pair results, for inspection.
  std::ostringstream tsv;
  tsv << "model\ttable\tpair_id\tbin\treference_pairs\treproduced\treference_compression_bits\t"
         "optimal_compression_bits\toptimal_K\treference_K\n";
  for (const ModelRun& r : runs)
    for (size_t k = 0; k < pairs.size(); ++k) {
      tsv << r.name << "\tbaseline\t" << formatPairResult(r.baselineResults[k]) << "\n";
      tsv << r.name << "\tfitted\t" << formatPairResult(r.fittedResults[k]) << "\n";
    }
  writeText(o.scratch + "/pair_results.tsv", tsv.str());

  if (!o.ship.empty()) {
    const ModelRun& r = runs[best];
    fs::create_directories(o.ship);
    for (const std::string& f : MODEL_FILES)
      fs::copy_file(fs::path(r.dir) / f, fs::path(o.ship) / f, fs::copy_options::overwrite_existing);
    fs::copy_file(r.fittedShips ? r.fullTable : o.baseline, fs::path(o.ship) / PRIORS_FILE,
                  fs::copy_options::overwrite_existing);
    std::cerr << "Shipped " << r.name << " (" << (r.fittedShips ? "fitted" : "baseline") << " priors) to " << o.ship
              << "\n";
  }
  return 0;
}

// ---- sample ----

int runSample(const Options& o) {
  if (o.out.empty()) usageError("sample needs --out FILE");
  const std::vector<ReferencePair> pairs = readReferencePairs(o.pairs);
  // Per identity bin, the pairs of length at most L in the order of a hash
  // of their names; at most one pair per family.
  std::vector<std::vector<std::pair<uint64_t, size_t>>> byBin(N_BINS);
  for (size_t k = 0; k < pairs.size(); ++k) {
    const ReferencePair& p = pairs[k];
    if (static_cast<int>(p.rowS.size()) > o.maxLength) continue;
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : p.id) h = (h ^ c) * 1099511628211ULL;
    byBin[identityBin(p.percentIdentity)].emplace_back(h, k);
  }
  std::vector<ReferencePair> chosen;
  for (auto& bin : byBin) {
    std::sort(bin.begin(), bin.end());
    std::vector<std::string> families;
    int n = 0;
    for (const auto& e : bin) {
      if (n == o.perBin) break;
      const ReferencePair& p = pairs[e.second];
      if (std::find(families.begin(), families.end(), p.family) != families.end()) continue;
      families.push_back(p.family);
      chosen.push_back(p);
      ++n;
    }
  }
  writeReferencePairs(o.out, chosen);
  std::cout << "Wrote " << chosen.size() << " pairs to " << o.out << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  try {
    if (o.command == "fit") return runFit(o);
    if (o.command == "accuracy") return runAccuracy(o);
    if (o.command == "crossval") return runCrossval(o);
    if (o.command == "sample") return runSample(o);
    usageError("unknown command '" + o.command + "'");
  } catch (const std::exception& e) {
    std::cerr << "seqcorvane-calibrate: " << e.what() << "\n";
    return 1;
  }
}
