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
#include "table.h"
#include "tableFile.h"
#include "workers.h"

using batch::printable;
using seqcorvane::shell::formatFixed;
using seqcorvane::shell::scanArguments;

namespace {

const char* USAGE =
    "usage: seqcorvane-batch [options] <all.fa>                 every pair of records within the file\n"
    "       seqcorvane-batch [options] <queries.fa> <targets.fa> every query against every target\n"
    "       seqcorvane-batch [options] --pairs <list.tsv>        the pairs of FASTA files listed\n"
    "       seqcorvane-batch --help | --version\n";

const char* HELP =
    "\n"
    "Aligns many pairs of protein sequences in the Minimum Message Length framework\n"
    "and writes one row a pair to a tab-separated table.\n"
    "\n"
    "Options:\n"
    "  -o <table.tsv>       the table (default: standard output, without resuming)\n"
    "  --table-format F     the table's format: tsv (default) or jsonl (JSON lines,\n"
    "                       the default when the table's name ends in .jsonl)\n"
    "  --criterion C        optimal (default), marginal or posterior\n"
    "  --alignments <dir>   also write each pair's alignment there, as <id_s>__<id_t>.afasta\n"
    "                       (optimal and posterior criteria; the directory is created)\n"
    "  --format F           the alignment files' format: afasta (default), fasta, clustal\n"
    "                       (.aln), stockholm (.sto) or json\n"
    "  --threads N          pairs at once (default: all cores)\n"
    "  --shard K/N          only the pairs K, K+N, K+2N, ... of the job (1 <= K <= N)\n"
    "  --data <dir>         the directory of the five model files\n"
    "  --help, --version\n"
    "\n"
    "Input: FASTA files of any number of records (plain or gzip-compressed; - for\n"
    "standard input); a record's identifier is the first word of its header. --pairs\n"
    "names a tab-separated file of two FASTA file names a line (one record each; '#'\n"
    "starts a comment). An empty file, or one without residues, is an error.\n"
    "\n"
    "The table opens with '#' lines saying what made it (the criterion, the models and\n"
    "their digest). Columns: id_s id_t length_s length_t criterion K null_bits\n"
    "alignment_bits compression_bits identity gap_openings seconds status pair_digest\n"
    "(of the pair's two sequences). identity (percent of the\n"
    "alignment's columns) and gap_openings are NA for the marginal criterion; for the\n"
    "posterior criterion K is the marginal distance, alignment_bits the decoded\n"
    "alignment's message length as --ivalue scores it and compression_bits the\n"
    "marginal compression, the program's verdict; status is ok or error (the reason\n"
    "on standard error). As JSON lines: one object a pair, with the columns' names as\n"
    "keys, numbers as numbers, NA as null, identifiers as ASCII strings (bytes that\n"
    "are not UTF-8 as U+FFFD); no '#' lines.\n"
    "\n"
    "A rerun with the same table resumes: pairs already in it with the same sequences\n"
    "are skipped (a table of another criterion or other models is refused); a row\n"
    "that does not hold a result of its pair in every field is aligned again, with a\n"
    "notice. Until the job is done rows gather in <table>.partial, which then becomes\n"
    "the table; a rerun over a finished table turns it into its .partial until done.\n"
    "A finished JSON-lines table holds no provenance and is not resumed (refused).\n"
    "One run at a time writes a table; another is refused. A device or pipe named by\n"
    "-o (/dev/stdout) is written into, without resuming.\n"
    "\n"
    "Exit status: 0 every pair done, 3 the table written but some pairs failed, 1 a\n"
    "usage or input error.\n";

// A failure of one pair, so that the other pairs go on: thrown by the
// check handler for a broken invariant met while the pair is computed too.
struct PairFailure {
  std::string message;
};
[[noreturn]] void throwPairFailure(const std::string& message) {
  throw PairFailure{"internal check failed: " + message};
}

[[noreturn]] void fail(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "seqcorvane-batch: " << message << "\n" << USAGE;
  std::exit(1);
}

std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

struct Settings {
  std::vector<std::string> files;
  std::string out, criterionName = "optimal", alignments, pairsList, dataDir;
  bool jsonLines = false;
  seqcorvane::Criterion criterion = seqcorvane::Criterion::optimal;
  seqcorvane::AlignmentFormat format = seqcorvane::AlignmentFormat::afasta;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  long shardK = 1, shardN = 1;
};

Settings parse(int argc, char* argv[]) {
  Settings s;
  const seqcorvane::shell::ArgumentScan args = scanArguments(argc, argv,
                                                             {{"-o", 1},
                                                              {"--criterion", 1},
                                                              {"--alignments", 1},
                                                              {"--pairs", 1},
                                                              {"--data", 1},
                                                              {"--threads", 1},
                                                              {"--format", 1},
                                                              {"--table-format", 1},
                                                              {"--shard", 1}},
                                                             false, true);
  if (!args.unknown.empty()) usageError("unknown option " + args.unknown[0]);
  if (!args.missingValue.empty()) usageError("option " + args.missingValue[0] + " needs a value");
  auto last = [&](const std::string& option, std::string& into) {
    const std::vector<std::string> v = args.of(option);
    if (!v.empty()) into = v.back();
  };
  last("-o", s.out);
  last("--criterion", s.criterionName);
  last("--alignments", s.alignments);
  last("--pairs", s.pairsList);
  last("--data", s.dataDir);
  s.files = args.of("-seq");
  if (!seqcorvane::parseCriterion(s.criterionName, s.criterion))
    usageError("--criterion takes optimal, marginal or posterior, not '" + s.criterionName + "'");
  for (const std::string& v : args.of("--format"))
    if (!seqcorvane::parseAlignmentFormat(v, s.format))
      usageError("--format takes afasta, fasta, clustal, stockholm or json, not '" + v + "'");
  const std::string dotJsonl = ".jsonl";
  s.jsonLines =
      s.out.size() > dotJsonl.size() && s.out.compare(s.out.size() - dotJsonl.size(), std::string::npos, dotJsonl) == 0;
  for (const std::string& v : args.of("--table-format")) {
    if (v != "tsv" && v != "jsonl") usageError("--table-format takes tsv or jsonl, not '" + v + "'");
    s.jsonLines = v == "jsonl";
  }
  for (const std::string& v : args.of("--threads")) {
    long n = 0;
    if (!seqcorvane::shell::parseInteger(v, n) || n < 1 || n > 4096)
      usageError("--threads takes a number of threads, not '" + v + "'");
    s.threads = static_cast<int>(n);
  }
  for (const std::string& v : args.of("--shard")) {
    const size_t slash = v.find('/');
    if (slash == std::string::npos || !seqcorvane::shell::parseInteger(v.substr(0, slash), s.shardK) ||
        !seqcorvane::shell::parseInteger(v.substr(slash + 1), s.shardN) || s.shardN < 1 || s.shardK < 1 ||
        s.shardK > s.shardN)
      usageError("--shard takes K/N with 1 <= K <= N, not '" + v + "'");
  }
  if (s.pairsList.empty() ? (s.files.empty() || s.files.size() > 2) : !s.files.empty())
    usageError("give one or two FASTA files, or --pairs with a list");
  if (!s.alignments.empty() && s.criterion == seqcorvane::Criterion::marginal)
    usageError("--alignments needs an alignment: not the marginal criterion");
  return s;
}

// Writes all of text to a stream, or fails naming what it is.
void writeAll(std::FILE* f, const std::string& text, const std::string& what) {
  if ((!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) || std::fflush(f) != 0)
    fail("cannot write " + what + ": " + std::strerror(errno));
}

int run(int argc, char* argv[]) {
  for (int a = 1; a < argc; ++a) {
    if (std::string(argv[a]) == "--help") {
      writeAll(stdout, std::string(USAGE) + HELP, "to standard output");
      return 0;
    }
    if (std::string(argv[a]) == "--version") {
      writeAll(stdout, std::string("seqcorvane-batch ") + seqcorvane::version() + "\n", "to standard output");
      return 0;
    }
  }
  const Settings set = parse(argc, argv);
  const batch::Job job = batch::makeJob(set.files, set.pairsList, set.shardK, set.shardN);
  if (job.jobPairs == 0)
    fail(!set.pairsList.empty() ? quoted(set.pairsList) + " lists no pairs"
         : set.files.size() == 1
             ? "no pairs to align: " + quoted(set.files[0]) + " holds " + std::to_string(job.sets[0].size()) +
                   " record" + (job.sets[0].size() == 1 ? "" : "s") + " (pairs within a file need two)"
             : "no pairs to align: " + quoted(job.sets[0].empty() ? set.files[0] : set.files[1]) + " holds no records");

  // The table: a regular file (or none yet) is written whole and resumed; a
  // device or a pipe is written into.
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

  seqcorvane::AlignConfig config;
  for (const std::string& note : seqcorvane::shell::settingsFromEnvironment(config))
    std::cerr << "seqcorvane-batch: notice: " << note << "\n";
  const seqcorvane::Models models(set.dataDir);
  // The posterior criterion's decoding as the library's defaults make it.
  const batch::Provenance provenance{
      set.criterionName, models.directory(), models.digest(),
      set.criterion == seqcorvane::Criterion::posterior && seqcorvane::PosteriorOptions{}.endGapsAlike
          ? "end gaps alike"
          : ""};
  // The partial file (locked) and what an earlier run left in it and in the table.
  std::unique_ptr<batch::TableFile> file;
  batch::EarlierRows inPartial, inTable;
  if (resumable) {
    file = std::make_unique<batch::TableFile>(set.out);
    if (!seqcorvane::sameFileAmong(file->partialPath(), job.inputFiles).empty())
      fail("the table " + quoted(file->partialPath()) + " is one of the input files: name another table with -o");
    if (set.jsonLines && !file->tableText().empty())
      fail("the table " + quoted(set.out) +
           " is there already, and a JSON-lines table holds no provenance to resume from: it is left as it is; "
           "remove it or name another table with -o");
    batch::readEarlier(file->tableText(), quoted(set.out), provenance, inTable);
    batch::readEarlier(file->partialText(), quoted(file->partialPath()), provenance, inPartial);
  }
  const std::vector<std::string> names =
      set.alignments.empty() ? std::vector<std::string>()
                             : batch::alignmentNames(job.pairs, seqcorvane::alignmentFormatExtension(set.format));

  // What an earlier run left that still holds.
  const std::vector<batch::Pair>& pairs = job.pairs;
  batch::Reuse reuse = batch::chooseEarlier(pairs, inPartial, inTable, set.criterionName, models);
  inPartial = {}, inTable = {};
  std::vector<std::string>& rows = reuse.rows;
  std::vector<size_t> todo;
  size_t withoutFile = 0;
  for (size_t p = 0; p < pairs.size(); ++p) {
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
    std::cerr << "seqcorvane-batch: resuming " << quoted(set.out) << ": " << pairs.size() - todo.size() << " of "
              << pairs.size() << " pairs done, " << todo.size() << " to align";
    if (reuse.changed) std::cerr << " (" << reuse.changed << " whose sequences changed since)";
    if (withoutFile) std::cerr << " (" << withoutFile << " without their alignment file)";
    std::cerr << "\n";
  }
  if (pairs.empty())
    std::cerr << "seqcorvane-batch: notice: shard " << set.shardK << "/" << set.shardN << " holds none of the job's "
              << job.jobPairs << " pairs\n";

  const std::string head = batch::provenanceLines(provenance) + batch::HEADER + "\n";
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
    for (size_t p = 0; p < pairs.size(); ++p)
      if (!rows[p].empty()) (reuse.fromPartial[p] ? fromPartial : fromTable) += rows[p] + "\n";
    file->begin(head, fromTable, fromPartial);
  }

  std::atomic<size_t> next{0}, failed{0};
  std::mutex writeMutex;
  // The first row that could not be written stops the run: no pair is
  // started after it (the pairs running finish).
  std::string partialError;
  std::atomic<bool> stop{false};
  batch::Progress progress(todo.size(), ::isatty(2) == 1 && !todo.empty());
  const seqcorvane::CheckHandler programHandler = seqcorvane::setCheckHandler(throwPairFailure);
  config.criterion = set.criterion;
  config.threads = 1;  // one thread a pair: the pairs run side by side
  const int threads = std::max(1, std::min<int>(set.threads, static_cast<int>(todo.size())));
  // What the pairs may use at once: what this process may use now, less room
  // for the threads' stacks and the rest of the program.
  seqcorvane::shell::MemoryGate gate(seqcorvane::shell::memoryAvailable() - 32.0 * (1 << 20), 80.0 * (1 << 20));
  // Each pair may use what the gate let it reserve; the gate, not the free
  // memory of the moment, decides while other pairs run.
  config.memoryLimit = gate.room();
  auto worker = [&] {
    while (true) {
      if (stop) return;
      const size_t n = next++;
      if (n >= todo.size()) return;
      const batch::Pair& pair = pairs[todo[n]];
      const auto t0 = std::chrono::steady_clock::now();
      auto seconds = [&] {
        return formatFixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 3);
      };
      const std::string start = pair.s->id + '\t' + pair.t->id + '\t' + std::to_string(pair.s->sequence.size()) + '\t' +
                                std::to_string(pair.t->sequence.size()) + '\t' + set.criterionName + '\t';
      std::string row, failure;
      try {
        if (pair.s->sequence.empty() || pair.t->sequence.empty())
          throw PairFailure{"no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in " +
                            printable(pair.s->sequence.empty() ? pair.s->id : pair.t->id)};
        const double needed = seqcorvane::memoryNeeded(pair.s->sequence.size(), pair.t->sequence.size(), set.criterion);
        if (!gate.enter(needed))
          throw PairFailure{"needs " + seqcorvane::shell::memoryText(needed) + " of memory; " +
                            seqcorvane::shell::memoryText(gate.room()) + " available"};
        seqcorvane::AlignResult r;
        try {
          r = seqcorvane::align({pair.s->id, pair.s->sequence}, {pair.t->id, pair.t->sequence}, models, config);
        } catch (...) {
          gate.leave(needed);
          throw;
        }
        gate.leave(needed);
        const bool aligned = !r.path.empty();  // a criterion with an alignment
        const int K = set.criterion == seqcorvane::Criterion::optimal ? r.parameters.K : r.search.K;
        const double alignmentMsgLen = aligned ? r.alignmentMsgLen : r.marginalMsgLen;
        const std::string numbers = std::to_string(K) + '\t' +
                                    formatFixed(seqcorvane::nits2bits(seqcorvane::nullMsgLen(r.s.residues, models)) +
                                                    seqcorvane::nits2bits(seqcorvane::nullMsgLen(r.t.residues, models)),
                                                3) +
                                    '\t' + formatFixed(seqcorvane::nits2bits(alignmentMsgLen), 3) + '\t' +
                                    formatFixed(r.compressionBits, 3) + '\t' +
                                    (aligned ? formatFixed(seqcorvane::percentIdentity({r.rowS, r.rowT}), 3) : "NA") +
                                    '\t' + (aligned ? std::to_string(seqcorvane::gapOpenings(r.path)) : "NA") + '\t';
        if (!set.alignments.empty())
          seqcorvane::writeAlignmentFile(set.alignments + "/" + names[todo[n]], r, set.format);
        row = start + numbers + seconds() + "\tok\t" + pair.digest;
      } catch (const seqcorvane::Error& e) {
        failure = e.what();
      } catch (const PairFailure& f) {
        failure = f.message;
      } catch (const std::bad_alloc&) {
        failure = "out of memory";
      }
      std::lock_guard<std::mutex> lock(writeMutex);
      if (!failure.empty()) {
        ++failed;
        row = start + "NA\tNA\tNA\tNA\tNA\tNA\t" + seconds() + "\terror\t" + pair.digest;
        std::cerr << "seqcorvane-batch: pair " << printable(pair.s->id) << " / " << printable(pair.t->id) << ": "
                  << failure << "\n";
      }
      rows[todo[n]] = row;
      if (file && partialError.empty()) {
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

  // The whole table, in the order of the pairs.
  const std::string table = wholeTable();
  std::string jsonLines;
  if (set.jsonLines)
    for (const std::string& row : rows) jsonLines += batch::jsonRow(row) + "\n";
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
