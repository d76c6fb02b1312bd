#include "settings.h"

#include <cstdlib>
#include <iostream>
#include <thread>

#include "numbers.h"
#include "options.h"

namespace batch {

const char* const USAGE =
    "usage: seqcorvane-batch [options] <all.fa>                 every pair of records within the file\n"
    "       seqcorvane-batch [options] <queries.fa> <targets.fa> every query against every target\n"
    "       seqcorvane-batch [options] --pairs <list.tsv>        the pairs of FASTA files listed\n"
    "       seqcorvane-batch --help | --version\n";

const char* const HELP =
    "\n"
    "Aligns many pairs of protein sequences in the Minimum Message Length framework\n"
    "and writes one row a pair to a tab-separated table.\n"
    "\n"
    "Options:\n"
    "  -o <table.tsv>       the table (default: standard output, without resuming)\n"
    "  --table-format F     the table's format: tsv (default) or jsonl (JSON lines,\n"
    "                       the default when the table's name ends in .jsonl)\n"
    "  --criterion C        optimal (default), marginal or posterior\n"
    "  --mode M             the hypothesis sent beside the null one: global (default;\n"
    "                       the two sequences end to end), local (a region of each\n"
    "                       aligned, the residues outside it under the null model) or\n"
    "                       auto (either, the message stating which)\n"
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
    "(of the pair's two sequences) calibrated_bits. identity (percent of the\n"
    "alignment's columns) and gap_openings are NA for the marginal criterion; for the\n"
    "posterior criterion K is the marginal distance, alignment_bits the decoded\n"
    "alignment's message length as --ivalue scores it and compression_bits the\n"
    "marginal compression, the program's verdict; status is ok or error (the reason\n"
    "on standard error). calibrated_bits is the compression of the verdict calibrated\n"
    "for composition, as the single program's --calibrated gives it (both hypotheses\n"
    "send each sequence with its own composition, so composition alone earns\n"
    "nothing; above 0 bits, related); for the posterior criterion it is\n"
    "compression_bits itself, its verdict. As JSON lines: one object a pair, with the\n"
    "columns' names as keys, numbers as numbers, NA as null, identifiers as ASCII\n"
    "strings (bytes that are not UTF-8 as U+FFFD); no '#' lines.\n"
    "\n"
    "With --mode local or auto the '#' lines state the mode, and three columns follow\n"
    "calibrated_bits: hypothesis (the one sent: global or local), region_s and region_t\n"
    "(the residues aligned of each sequence, 1-based and inclusive, as first-last; NA\n"
    "without an alignment, as for the marginal criterion, or when the region holds\n"
    "none of the sequence). The alignment files hold the residues outside the region\n"
    "as gap columns, which identity and gap_openings count too. A local alignment\n"
    "of the posterior criterion that pairs no residues has no message: its\n"
    "alignment_bits are NA. As JSON lines a region is [first, last] or null.\n"
    "\n"
    "A rerun with the same table resumes: pairs already in it with the same sequences\n"
    "are skipped (a table of another criterion, mode or models, or one an earlier\n"
    "version wrote without calibrated_bits, is refused); a row that does not hold a\n"
    "result of its pair in every field is aligned again, with a notice. Until the\n"
    "job is done rows gather in <table>.partial, which then becomes the table; a\n"
    "rerun over a finished table turns it into its .partial until done.\n"
    "A finished JSON-lines table holds no provenance and is not resumed (refused).\n"
    "One run at a time writes a table; another is refused. A device or pipe named by\n"
    "-o (/dev/stdout) is written into, without resuming.\n"
    "\n"
    "Exit status: 0 every pair done, 3 the table written but some pairs failed, 1 a\n"
    "usage or input error.\n";

namespace {

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "seqcorvane-batch: " << message << "\n" << USAGE;
  std::exit(1);
}

}  // namespace

Settings parse(int argc, char* argv[]) {
  Settings s;
  const seqcorvane::shell::ArgumentScan args = seqcorvane::shell::scanArguments(argc, argv,
                                                                                {{"-o", 1},
                                                                                 {"--criterion", 1},
                                                                                 {"--mode", 1},
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
  for (const std::string& v : args.of("--mode"))
    if (!seqcorvane::parseHypothesis(v, s.mode)) usageError("--mode takes global, local or auto, not '" + v + "'");
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

}  // namespace batch
