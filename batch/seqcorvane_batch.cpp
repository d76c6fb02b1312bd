// seqcorvane-batch: many pairs in one process, tabulated.
//
// The pairs: every pair of records within one FASTA file, or every record of
// a first file against every record of a second, or the pairs of FASTA files
// listed in a tab-separated file (one record each). Models are loaded once;
// the pairs run on several threads, one thread a pair. Each pair gives one
// row of a tab-separated table; its numbers are those the single-pair
// program prints for the pair.
//
// The table is whole or absent: rows go to <table>.partial as pairs finish,
// and the table, in the order of the pairs, replaces <table> when all are
// done. A rerun with the same table skips the pairs already in <table> or in
// <table>.partial (failed pairs are tried again), so an interrupted run
// resumes where it stopped.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "cmdLineParser.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

using seqcorvane::formatFixed;

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
    "  --criterion C        optimal (default), marginal or posterior\n"
    "  --alignments <dir>   also write each pair's alignment there, as <id_s>__<id_t>.afasta\n"
    "                       (optimal and posterior criteria)\n"
    "  --threads N          pairs at once (default: all cores)\n"
    "  --shard K/N          only the pairs K, K+N, K+2N, ... of the job (1 <= K <= N)\n"
    "  --data <dir>         the directory of the five model files\n"
    "  --help, --version\n"
    "\n"
    "Input: FASTA files of any number of records (plain or gzip-compressed); a record's\n"
    "identifier is the first word of its header. --pairs names a tab-separated file of\n"
    "two FASTA file names a line (one record each; '#' starts a comment).\n"
    "\n"
    "Table columns: id_s id_t length_s length_t criterion K null_bits alignment_bits\n"
    "compression_bits identity gap_openings seconds status. identity (percent of the\n"
    "alignment's columns) and gap_openings are NA for the marginal criterion; for the\n"
    "posterior criterion K is the marginal distance, alignment_bits the decoded\n"
    "alignment's message length as --ivalue scores it and compression_bits the\n"
    "marginal compression, the program's verdict; status is ok or error (the reason\n"
    "on standard error).\n"
    "\n"
    "A rerun with the same table resumes: pairs already in it are skipped. The table\n"
    "is written whole when the job is done; until then rows gather in <table>.partial.\n"
    "\n"
    "Exit status: 0 every pair done, 3 the table written but some pairs failed, 1 a\n"
    "usage or input error.\n";

const char* HEADER =
    "id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
    "gap_openings\tseconds\tstatus";

struct Record {
  std::string id, sequence;
};

struct Pair {
  const Record* s;
  const Record* t;
  std::string key() const { return s->id + '\t' + t->id; }
};

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

// The records of a FASTA file, filtered to the standard residues; a record
// without a name is named by its position.
std::vector<Record> readRecords(const std::string& path) {
  std::vector<Record> records;
  size_t dropped = 0;
  for (const seqcorvane::Record& r : seqcorvane::readFasta(path)) {
    const std::string id = r.name.empty() ? "record" + std::to_string(records.size() + 1) : r.name;
    records.push_back(Record{id, seqcorvane::standardResidues(r.text)});
    dropped += seqcorvane::droppedCharacters(r.text);
  }
  std::set<std::string> seen;
  for (const Record& r : records)
    if (!seen.insert(r.id).second) fail("'" + path + "' holds the identifier '" + r.id + "' twice");
  if (dropped != 0)
    std::cerr << "seqcorvane-batch: notice: '" << path << "': dropped " << dropped
              << " characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)\n";
  return records;
}

// A file name made of the identifiers, with anything but letters, digits,
// '.', '-' and '_' replaced by '_'.
std::string safeName(const std::string& id) {
  std::string s = id;
  for (char& c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) c = '_';
  return s;
}

// The rows of a table file by pair key, skipping its header and any line
// that is not a whole row (the last line of an interrupted run).
std::map<std::string, std::string> readRows(const std::string& path, const std::string& criterion) {
  std::map<std::string, std::string> rows;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;  // no newline: an unfinished row
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    if (f.size() != 13 || line == HEADER || f[4] != criterion || f[12] != "ok") continue;
    rows[f[0] + '\t' + f[1]] = line;
  }
  return rows;
}

class Progress {
 public:
  Progress(size_t total, bool shown) : total(total), shown(shown), start(std::chrono::steady_clock::now()) {}
  void pairDone() {
    const size_t done = ++finished;
    if (!shown) return;
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (done != total && now - lastShown < std::chrono::milliseconds(200)) return;
    lastShown = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double rate = seconds > 0 ? done / seconds : 0;
    const double left = rate > 0 ? (total - done) / rate : 0;
    const int width = 30, filled = total ? static_cast<int>(width * done / total) : width;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu pairs, %.1f pairs/s, %dm%02ds left ", std::string(filled, '=').c_str(),
                 std::string(width - filled, ' ').c_str(), done, total, rate, static_cast<int>(left) / 60,
                 static_cast<int>(left) % 60);
    if (done == total) std::fputc('\n', stderr);
  }

 private:
  size_t total;
  bool shown;
  std::atomic<size_t> finished{0};
  std::mutex mutex;
  std::chrono::steady_clock::time_point start, lastShown;
};

int run(int argc, char* argv[]) {
  std::vector<std::string> files;
  std::string out, criterion = "optimal", alignments, pairsList, dataDir;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  long shardK = 1, shardN = 1;
  for (int a = 1; a < argc; ++a) {
    if (std::string(argv[a]) == "--help") {
      std::cout << USAGE << HELP;
      return 0;
    }
    if (std::string(argv[a]) == "--version") {
      std::cout << "seqcorvane-batch " << seqcorvane::version() << "\n";
      return 0;
    }
  }
  const ArgumentScan args = scanArguments(argc, argv,
                                          {{"-o", 1},
                                           {"--criterion", 1},
                                           {"--alignments", 1},
                                           {"--pairs", 1},
                                           {"--data", 1},
                                           {"--threads", 1},
                                           {"--shard", 1}},
                                          false, true);
  if (!args.unknown.empty()) usageError("unknown option " + args.unknown[0]);
  if (!args.missingValue.empty()) usageError("option " + args.missingValue[0] + " needs a value");
  auto last = [&](const std::string& option, std::string& into) {
    const std::vector<std::string> v = args.of(option);
    if (!v.empty()) into = v.back();
  };
  last("-o", out);
  last("--criterion", criterion);
  last("--alignments", alignments);
  last("--pairs", pairsList);
  last("--data", dataDir);
  files = args.of("-seq");
  seqcorvane::Criterion parsedCriterion = seqcorvane::Criterion::optimal;
  if (!seqcorvane::parseCriterion(criterion, parsedCriterion) ||
      parsedCriterion == seqcorvane::Criterion::marginalInteractive)
    usageError("--criterion takes optimal, marginal or posterior, not '" + criterion + "'");
  for (const std::string& v : args.of("--threads")) {
    long n = 0;
    if (!seqcorvane::parseInteger(v, n) || n < 1 || n > 4096)
      usageError("--threads takes a number of threads, not '" + v + "'");
    threads = static_cast<int>(n);
  }
  for (const std::string& v : args.of("--shard")) {
    const size_t slash = v.find('/');
    if (slash == std::string::npos || !seqcorvane::parseInteger(v.substr(0, slash), shardK) ||
        !seqcorvane::parseInteger(v.substr(slash + 1), shardN) || shardN < 1 || shardK < 1 || shardK > shardN)
      usageError("--shard takes K/N with 1 <= K <= N, not '" + v + "'");
  }
  if (pairsList.empty() ? (files.empty() || files.size() > 2) : !files.empty())
    usageError("give one or two FASTA files, or --pairs with a list");
  if (!alignments.empty() && criterion == "marginal")
    usageError("--alignments needs an alignment: not the marginal criterion");

  // The records and the pairs.
  std::vector<std::vector<Record>> sets;
  std::vector<Pair> pairs;
  if (!pairsList.empty()) {
    std::vector<std::pair<std::string, std::string>> names;
    long lineNo = 0;
    for (const std::string& line : seqcorvane::readTextLines(pairsList)) {
      ++lineNo;
      if (line.empty() || line[0] == '#') continue;
      const size_t tab = line.find('\t');
      if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos)
        fail(pairsList + ":" + std::to_string(lineNo) + ": expected two file names separated by a tab");
      names.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    sets.reserve(2 * names.size());
    for (const auto& n : names) {
      for (const std::string& f : {n.first, n.second}) {
        sets.push_back(readRecords(f));
        if (sets.back().size() != 1)
          fail("'" + f + "' holds " + std::to_string(sets.back().size()) + " records; expected exactly one");
      }
      pairs.push_back(Pair{&sets[sets.size() - 2][0], &sets.back()[0]});
    }
  } else {
    for (const std::string& f : files) sets.push_back(readRecords(f));
    if (sets.size() == 1) {
      for (size_t i = 0; i < sets[0].size(); ++i)
        for (size_t j = i + 1; j < sets[0].size(); ++j) pairs.push_back(Pair{&sets[0][i], &sets[0][j]});
    } else {
      for (const Record& q : sets[0])
        for (const Record& t : sets[1]) pairs.push_back(Pair{&q, &t});
    }
  }
  {
    std::vector<Pair> shard;
    for (size_t p = 0; p < pairs.size(); ++p)
      if (static_cast<long>(p % shardN) == shardK - 1) shard.push_back(pairs[p]);
    pairs.swap(shard);
  }
  {
    std::set<std::string> keys;
    for (const Pair& p : pairs)
      if (!keys.insert(p.key()).second) fail("the pair " + p.s->id + " / " + p.t->id + " comes twice");
  }

  // What an earlier run left.
  const std::string partial = out.empty() ? "" : out + ".partial";
  std::map<std::string, std::string> done;
  if (!out.empty()) {
    seqcorvane::checkOutputDirectory(out);
    for (const std::string& f : {out, partial})
      for (auto& kv : readRows(f, criterion)) done.insert(kv);
  }
  if (!alignments.empty()) seqcorvane::checkOutputDirectory(alignments + "/x");

  // The models, once; the rows gathered so far, then the new ones as they come.
  const seqcorvane::Models models(dataDir);
  std::FILE* partialFile = nullptr;
  if (!out.empty()) {
    partialFile = std::fopen(partial.c_str(), "w");
    if (partialFile == nullptr) fail("cannot write '" + partial + "': " + std::strerror(errno));
    std::fprintf(partialFile, "%s\n", HEADER);
    for (const Pair& p : pairs) {
      auto it = done.find(p.key());
      if (it != done.end()) std::fprintf(partialFile, "%s\n", it->second.c_str());
    }
    std::fflush(partialFile);
  }
  std::vector<size_t> todo;
  for (size_t p = 0; p < pairs.size(); ++p)
    if (!done.count(pairs[p].key())) todo.push_back(p);

  std::vector<std::string> rows(pairs.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> failed{0};
  std::mutex writeMutex;
  Progress progress(todo.size(), ::isatty(2) == 1 && !todo.empty());
  seqcorvane::setCheckHandler(throwPairFailure);
  seqcorvane::AlignConfig config;
  config.criterion = parsedCriterion;
  config.threads = 1;  // one thread a pair: the pairs run side by side
  auto worker = [&] {
    while (true) {
      const size_t n = next++;
      if (n >= todo.size()) return;
      const Pair& pair = pairs[todo[n]];
      const auto t0 = std::chrono::steady_clock::now();
      std::string row = pair.s->id + '\t' + pair.t->id + '\t' + std::to_string(pair.s->sequence.size()) + '\t' +
                        std::to_string(pair.t->sequence.size()) + '\t' + criterion + '\t';
      std::string failure;
      try {
        if (pair.s->sequence.empty() || pair.t->sequence.empty())
          throw PairFailure{"no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in " +
                            (pair.s->sequence.empty() ? pair.s->id : pair.t->id)};
        const double needed =
            seqcorvane::memoryNeeded(pair.s->sequence.size(), pair.t->sequence.size(), parsedCriterion);
        const double available = seqcorvane::memoryAvailable();
        if (needed > available)
          throw PairFailure{"needs " + seqcorvane::gibText(needed) + " of memory; " + seqcorvane::gibText(available) +
                            " available"};
        const seqcorvane::AlignResult r =
            seqcorvane::align({pair.s->id, pair.s->sequence}, {pair.t->id, pair.t->sequence}, models, config);
        const bool aligned = !r.path.empty();  // a criterion with an alignment
        const int K = parsedCriterion == seqcorvane::Criterion::optimal ? r.parameters.K : r.marginalK;
        const double alignmentMsgLen = aligned ? r.alignmentMsgLen : r.marginalMsgLen;
        row += std::to_string(K) + '\t' +
               formatFixed(seqcorvane::nits2bits(r.nullMsgLenS) + seqcorvane::nits2bits(r.nullMsgLenT), 3) + '\t' +
               formatFixed(seqcorvane::nits2bits(alignmentMsgLen), 3) + '\t' + formatFixed(r.compressionBits, 3) +
               '\t' + (aligned ? formatFixed(seqcorvane::percentIdentity({r.rowS, r.rowT}), 3) : "NA") + '\t' +
               (aligned ? std::to_string(seqcorvane::gapOpenings(r.path)) : "NA") + '\t';
        if (!alignments.empty())
          seqcorvane::writeAfastaFile(alignments + "/" + safeName(pair.s->id) + "__" + safeName(pair.t->id) + ".afasta",
                                      {r.rowS, r.rowT});
        row += formatFixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 3) + "\tok";
      } catch (const seqcorvane::Error& e) {
        failure = e.what();
      } catch (const PairFailure& f) {
        failure = f.message;
      } catch (const std::bad_alloc&) {
        failure = "out of memory";
      }
      if (!failure.empty()) {
        ++failed;
        row += "NA\tNA\tNA\tNA\tNA\tNA\t" +
               formatFixed(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 3) + "\terror";
        std::lock_guard<std::mutex> lock(writeMutex);
        std::cerr << "seqcorvane-batch: pair " << pair.s->id << " / " << pair.t->id << ": " << failure << "\n";
      }
      rows[todo[n]] = row;
      if (partialFile != nullptr) {
        std::lock_guard<std::mutex> lock(writeMutex);
        std::fprintf(partialFile, "%s\n", row.c_str());
        std::fflush(partialFile);
      }
      progress.pairDone();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < std::min<int>(threads, static_cast<int>(todo.size())); ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
  seqcorvane::setCheckHandler(nullptr);

  // The whole table, in the order of the pairs.
  std::string table = std::string(HEADER) + "\n";
  for (size_t p = 0; p < pairs.size(); ++p) {
    auto it = done.find(pairs[p].key());
    table += (it != done.end() ? it->second : rows[p]) + "\n";
  }
  if (out.empty()) {
    std::cout << table << std::flush;
  } else {
    if (std::ferror(partialFile) != 0 || std::fclose(partialFile) != 0)
      fail("cannot write '" + partial + "': " + std::strerror(errno));
    seqcorvane::writeWholeFile(out, table);
    ::unlink(partial.c_str());
  }
  if (failed > 0) {
    std::cerr << "seqcorvane-batch: " << failed << " of " << todo.size() << " pairs failed\n";
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  ::signal(SIGXFSZ, SIG_IGN);
  auto failLine = [](const std::string& message) {
    std::cout.flush();
    std::cerr << "seqcorvane-batch: error: " << message << std::endl;
    return 1;
  };
  try {
    return run(argc, argv);
  } catch (const seqcorvane::Error& e) {
    if (e.verbatim()) {
      std::cerr << e.what() << std::flush;
      return 1;
    }
    return failLine(e.what());
  } catch (const std::bad_alloc&) {
    return failLine("out of memory: a memory allocation failed");
  } catch (const std::exception& e) {
    return failLine(std::string("unexpected failure: ") + e.what());
  }
}
