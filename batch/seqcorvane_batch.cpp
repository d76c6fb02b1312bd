// seqcorvane-batch: many pairs in one process, tabulated.
//
// The pairs: every pair of records within one FASTA file, or every record of
// a first file against every record of a second, or the pairs of FASTA files
// listed in a tab-separated file (one record each); a shard takes the pairs
// K, K+N, ... of the job (job.h). Models are loaded once; the pairs run on
// several threads, one thread a pair, each pair's memory reserved before it
// starts. Each pair gives one row of the table (table.h); its numbers are
// those the single-pair program prints for the pair.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "environment.h"
#include "job.h"
#include "memoryGate.h"
#include "numbers.h"
#include "options.h"
#include "program.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"
#include "settings.h"
#include "table.h"
#include "tableFile.h"
#include "workers.h"

using batch::printable;
using batch::Settings;
using seqcorvane::shell::formatFixed;

namespace {

// A failure of one pair, so that the other pairs go on: thrown by the
// check handler for a broken invariant met while the pair is computed too.
struct PairFailure {
  std::string message;
};
[[noreturn]] void throwPairFailure(const std::string& message) {
  throw PairFailure{"internal check failed: " + message};
}

[[noreturn]] void fail(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }

std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

// Writes all of text to a stream, or fails naming what it is.
void writeAll(std::FILE* f, const std::string& text, const std::string& what) {
  if ((!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) || std::fflush(f) != 0)
    fail("cannot write " + what + ": " + std::strerror(errno));
}

// Refuses a job without pairs, naming why.
void requirePairs(const Settings& set, const batch::Job& job) {
  if (job.jobPairs != 0) return;
  fail(!set.pairsList.empty() ? quoted(set.pairsList) + " lists no pairs"
       : set.files.size() == 1
           ? "no pairs to align: " + quoted(set.files[0]) + " holds " + std::to_string(job.sets[0].size()) + " record" +
                 (job.sets[0].size() == 1 ? "" : "s") + " (pairs within a file need two)"
           : "no pairs to align: " + quoted(job.sets[0].empty() ? set.files[0] : set.files[1]) + " holds no records");
}

// Checks the outputs before any work: the table (a regular file, or none
// yet, is resumable; a device or a pipe is written into) and the directory
// of the alignment files. Returns whether the table is resumable.
bool checkOutputs(const Settings& set, const batch::Job& job) {
  bool resumable = false;
  if (!set.out.empty()) {
    struct stat st;
    const bool exists = ::stat(set.out.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) fail("cannot write the table " + quoted(set.out) + ": " + std::strerror(EISDIR));
    resumable = !exists || S_ISREG(st.st_mode);
    if (resumable) seqcorvane::checkOutputDirectory(set.out);
    for (const std::string& f : {set.out, set.out + ".partial"})
      if (!seqcorvane::sameFileAmong(f, job.inputFiles).empty())
        fail("the table " + quoted(f) + " is one of the input files: name another table with -o");
  }
  if (!set.alignments.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(set.alignments, ec);
    if (ec) fail("cannot create the directory " + quoted(set.alignments) + ": " + ec.message());
    seqcorvane::checkOutputDirectory(set.alignments + "/x");
  }
  return resumable;
}

// The pairs a resume aligns again (those without a reused row, or whose
// alignment file is gone), with the notices that say what was reused.
std::vector<size_t> pairsToAlign(const Settings& set, const batch::Job& job, batch::Reuse& reuse,
                                 const std::vector<std::string>& names) {
  std::vector<std::string>& rows = reuse.rows;
  std::vector<size_t> todo;
  size_t withoutFile = 0;
  for (size_t p = 0; p < job.pairs.size(); ++p) {
    if (!rows[p].empty() && !set.alignments.empty() && ::access((set.alignments + "/" + names[p]).c_str(), F_OK) != 0) {
      ++withoutFile;
      rows[p].clear();
    }
    if (rows[p].empty()) todo.push_back(p);
  }
  if (reuse.setAside)
    std::cerr << "seqcorvane-batch: notice: " << quoted(set.out) << ": " << reuse.setAside
              << (reuse.setAside == 1 ? " row does not hold a result of its pair"
                                      : " rows do not hold a result of their pair")
              << " in every field (a value that does not parse or is out of range, lengths other than the sequences'): "
              << (reuse.setAside == 1 ? "its pair is" : "their pairs are") << " aligned again\n";
  if (reuse.any) {
    std::cerr << "seqcorvane-batch: resuming " << quoted(set.out) << ": " << job.pairs.size() - todo.size() << " of "
              << job.pairs.size() << " pairs done, " << todo.size() << " to align";
    if (reuse.changed) std::cerr << " (" << reuse.changed << " whose sequences changed since)";
    if (withoutFile) std::cerr << " (" << withoutFile << " without their alignment file)";
    std::cerr << "\n";
  }
  if (job.pairs.empty())
    std::cerr << "seqcorvane-batch: notice: shard " << set.shardK << "/" << set.shardN << " holds none of the job's "
              << job.jobPairs << " pairs\n";
  return todo;
}

// One pair aligned, its memory reserved at the gate while it runs; a pair
// without residues or larger than the gate's room fails.
seqcorvane::AlignResult alignPair(const batch::Pair& pair, const seqcorvane::Models& models,
                                  const seqcorvane::AlignConfig& config, seqcorvane::shell::MemoryGate& gate) {
  if (pair.s->sequence.empty() || pair.t->sequence.empty())
    throw PairFailure{"no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in " +
                      printable(pair.s->sequence.empty() ? pair.s->id : pair.t->id)};
  const double needed = seqcorvane::memoryNeeded(pair.s->sequence.size(), pair.t->sequence.size(), config);
  if (!gate.enter(needed))
    throw PairFailure{"needs " + seqcorvane::shell::memoryText(needed) + " of memory; " +
                      seqcorvane::shell::memoryText(gate.room()) + " available"};
  try {
    const seqcorvane::AlignResult r =
        seqcorvane::align({pair.s->id, pair.s->sequence}, {pair.t->id, pair.t->sequence}, models, config);
    gate.leave(needed);
    return r;
  } catch (...) {
    gate.leave(needed);
    throw;
  }
}

// What one pair gives its row: the fields from K to gap_openings, the
// calibrated compression and the fields after it (none under the global
// hypothesis); or why it failed.
struct PairOutcome {
  std::string fields, calibrated, hypothesis, failure;
};

PairOutcome alignedFields(const Settings& set, const batch::Pair& pair, const std::string& alignmentFile,
                          const seqcorvane::Models& models, const seqcorvane::AlignConfig& config,
                          seqcorvane::shell::MemoryGate& gate) {
  PairOutcome o;
  try {
    const seqcorvane::AlignResult r = alignPair(pair, models, config, gate);
    if (!set.alignments.empty()) seqcorvane::writeAlignmentFile(alignmentFile, r, set.format);
    o.fields = batch::resultFields(r, models);
    o.calibrated = batch::calibratedField(r);
    if (set.mode != seqcorvane::Hypothesis::global) o.hypothesis = batch::hypothesisFields(r);
  } catch (const seqcorvane::Error& e) {
    o.failure = e.what();
  } catch (const PairFailure& f) {
    o.failure = f.message;
  } catch (const std::bad_alloc&) {
    o.failure = "out of memory";
  }
  return o;
}

// The pairs of todo aligned on the settings' threads, each row stored in
// rows and appended to the partial file as it is done; the first row that
// cannot be written stops the run (the pairs running finish) and is thrown.
// Returns the number of pairs that failed.
size_t alignPairs(const Settings& set, const batch::Job& job, const std::vector<size_t>& todo,
                  const std::vector<std::string>& names, const seqcorvane::Models& models,
                  seqcorvane::AlignConfig config, std::vector<std::string>& rows, batch::TableFile* file) {
  std::atomic<size_t> next{0}, failed{0};
  std::mutex writeMutex;
  std::string partialError;
  std::atomic<bool> stop{false};
  batch::Progress progress(todo.size(), ::isatty(2) == 1 && !todo.empty());
  const seqcorvane::CheckHandler programHandler = seqcorvane::setCheckHandler(throwPairFailure);
  config.criterion = set.criterion;
  config.mode = set.mode;
  config.threads = 1;  // one thread a pair: the pairs run side by side
  const int threads = std::max(1, std::min<int>(set.threads, static_cast<int>(todo.size())));
  // What the pairs may use at once: what this process may use now, less room
  // for the threads' stacks and the rest of the program. Each pair may use
  // what the gate let it reserve; the gate, not the free memory of the
  // moment, decides while other pairs run.
  seqcorvane::shell::MemoryGate gate(seqcorvane::shell::memoryAvailable() - 32.0 * (1 << 20), 80.0 * (1 << 20));
  config.memoryLimit = gate.room();
  auto worker = [&] {
    while (!stop) {
      const size_t n = next++;
      if (n >= todo.size()) return;
      const batch::Pair& pair = job.pairs[todo[n]];
      const auto t0 = std::chrono::steady_clock::now();
      auto seconds = [&] {
        return formatFixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 3);
      };
      const std::string start = pair.s->id + '\t' + pair.t->id + '\t' + std::to_string(pair.s->sequence.size()) + '\t' +
                                std::to_string(pair.t->sequence.size()) + '\t' + set.criterionName + '\t';
      const PairOutcome o = alignedFields(
          set, pair, set.alignments.empty() ? "" : set.alignments + "/" + names[todo[n]], models, config, gate);
      std::string row = start + o.fields + seconds() + "\tok\t" + pair.digest + o.calibrated + o.hypothesis;
      std::lock_guard<std::mutex> lock(writeMutex);
      if (!o.failure.empty()) {
        ++failed;
        row = start + "NA\tNA\tNA\tNA\tNA\tNA\t" + seconds() + "\terror\t" + pair.digest +
              batch::FAILED_CALIBRATED_FIELD +
              (set.mode == seqcorvane::Hypothesis::global ? "" : batch::FAILED_HYPOTHESIS_FIELDS);
        std::cerr << "seqcorvane-batch: pair " << printable(pair.s->id) << " / " << printable(pair.t->id) << ": "
                  << o.failure << "\n";
      }
      rows[todo[n]] = row;
      if (file != nullptr && partialError.empty()) {
        try {
          file->append(row + "\n");
        } catch (const seqcorvane::Error& e) {
          partialError = e.what();
          stop = true;
        }
      }
      progress.pairDone();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error& e) {
      std::cerr << "seqcorvane-batch: notice: could start " << t << " of " << threads << " threads ("
                << e.code().message() << "); going on with " << t << "\n";
      break;
    }
  }
  worker();
  for (auto& t : pool) t.join();
  seqcorvane::setCheckHandler(programHandler);
  if (!partialError.empty()) fail(partialError + "; the rows written so far stay in it for a rerun");
  return failed;
}

// The table's partial file, locked, and what an earlier run left in it and
// in the table.
std::unique_ptr<batch::TableFile> openTable(const Settings& set, const batch::Job& job,
                                            const batch::Provenance& provenance, batch::EarlierRows& inPartial,
                                            batch::EarlierRows& inTable) {
  auto file = std::make_unique<batch::TableFile>(set.out);
  if (!seqcorvane::sameFileAmong(file->partialPath(), job.inputFiles).empty())
    fail("the table " + quoted(file->partialPath()) + " is one of the input files: name another table with -o");
  if (set.jsonLines && !file->tableText().empty())
    fail("the table " + quoted(set.out) +
         " is there already, and a JSON-lines table holds no provenance to resume from: it is left as it is; "
         "remove it or name another table with -o");
  batch::readEarlier(file->tableText(), quoted(set.out), provenance, inTable);
  batch::readEarlier(file->partialText(), quoted(file->partialPath()), provenance, inPartial);
  return file;
}

// What the table's '#' lines state: the criterion, the models, the posterior
// criterion's decoding as the library's defaults make it (the local
// hypothesis prices no end gaps: its flanks are not gaps), the hypothesis.
batch::Provenance provenanceOf(const Settings& set, const seqcorvane::Models& models) {
  const bool endGapsAlike = set.criterion == seqcorvane::Criterion::posterior &&
                            seqcorvane::PosteriorOptions{}.endGapsAlike && set.mode != seqcorvane::Hypothesis::local;
  return {set.criterionName, models.directory(), models.digest(), endGapsAlike ? "end gaps alike" : "",
          seqcorvane::hypothesisName(set.mode)};
}

int run(int argc, char* argv[]) {
  for (int a = 1; a < argc; ++a) {
    if (std::string(argv[a]) == "--help") {
      writeAll(stdout, std::string(batch::USAGE) + batch::HELP, "to standard output");
      return 0;
    }
    if (std::string(argv[a]) == "--version") {
      writeAll(stdout, std::string("seqcorvane-batch ") + seqcorvane::version() + "\n", "to standard output");
      return 0;
    }
  }
  const Settings set = batch::parse(argc, argv);
  const batch::Job job = batch::makeJob(set.files, set.pairsList, set.shardK, set.shardN);
  requirePairs(set, job);
  const bool resumable = checkOutputs(set, job);

  seqcorvane::AlignConfig config;
  for (const std::string& note : seqcorvane::shell::settingsFromEnvironment(config))
    std::cerr << "seqcorvane-batch: notice: " << note << "\n";
  const seqcorvane::Models models(set.dataDir);
  const batch::Provenance provenance = provenanceOf(set, models);
  // The partial file (locked) and what an earlier run left in it and in the table.
  batch::EarlierRows inPartial, inTable;
  std::unique_ptr<batch::TableFile> file =
      resumable ? openTable(set, job, provenance, inPartial, inTable) : std::unique_ptr<batch::TableFile>();
  const std::vector<std::string> names =
      set.alignments.empty() ? std::vector<std::string>()
                             : batch::alignmentNames(job.pairs, seqcorvane::alignmentFormatExtension(set.format));
  // What an earlier run left that still holds.
  batch::Reuse reuse = batch::chooseEarlier(job.pairs, inPartial, inTable, provenance, models);
  inPartial = {}, inTable = {};
  const std::vector<size_t> todo = pairsToAlign(set, job, reuse, names);
  std::vector<std::string>& rows = reuse.rows;

  const std::string head = batch::provenanceLines(provenance) + batch::headerOf(provenance.mode) + "\n";
  auto wholeTable = [&] {
    std::string table = head;
    for (const std::string& row : rows) table += row + "\n";
    return table;
  };
  if (file) {
    // A finished table that already holds the job is left as it is.
    if (todo.empty() && !set.jsonLines && file->tableText() == wholeTable()) {
      file->discardPartial();
      return 0;
    }
    std::string fromTable, fromPartial;
    for (size_t p = 0; p < job.pairs.size(); ++p)
      if (!rows[p].empty()) (reuse.fromPartial[p] ? fromPartial : fromTable) += rows[p] + "\n";
    file->begin(head, fromTable, fromPartial);
  }
  const size_t failed = alignPairs(set, job, todo, names, models, config, rows, file.get());

  // The whole table, in the order of the pairs.
  const std::string table = wholeTable();
  std::string jsonLines;
  if (set.jsonLines)
    for (const std::string& row : rows) jsonLines += batch::jsonRow(row, provenance.mode) + "\n";
  const std::string& text = set.jsonLines ? jsonLines : table;
  if (set.out.empty())
    writeAll(stdout, text, "the table to standard output");
  else if (file)
    file->finish(text, set.jsonLines ? table : "");
  else
    seqcorvane::writeWholeFile(set.out, text);
  if (failed > 0) {
    std::cerr << "seqcorvane-batch: " << failed << " of " << todo.size() << " pairs failed\n";
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  return seqcorvane::shell::runProgram("seqcorvane-batch", [&] { return run(argc, argv); });
}
