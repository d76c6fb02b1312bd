// A batch job: the records of its input files and the pairs it aligns
// (every pair within one file, every query against every target, or the
// pairs of files of a list), of which a shard takes the pairs K, K+N, ...
// Only the shard's pairs are listed, so that a shard of a large job holds
// its records and its own pairs, never the whole job's pair list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace batch {

struct Record {
  std::string id, sequence;
  std::string file;  // where it was read, for messages
};

struct Pair {
  const Record* s;
  const Record* t;
  std::string digest;  // of the two sequences (see pairDigest)
  std::string key() const { return s->id + '\t' + t->id + '\t' + digest; }
};

struct Job {
  std::vector<std::vector<Record>> sets;  // the records of each input
  std::vector<Pair> pairs;                // the shard's pairs, in the job's order
  unsigned long long jobPairs = 0;        // pairs of the whole job
  std::vector<std::string> inputFiles;    // every file read, for the output checks
};

// The digest of a pair (seqcorvane::shell::digestOf): of S, a separator and T.
std::string pairDigest(const std::string& s, const std::string& t);

// The records of a FASTA file (plain or gzip-compressed; "-" for standard
// input), filtered to the standard residues, with a notice of what was
// dropped; a record without a name is named by its position.
std::vector<Record> readRecords(const std::string& path);

// The lines of a pair list: two FASTA file names parted by a tab, '#'
// comments, blank lines; a carriage return before a line's end is dropped.
std::vector<std::pair<std::string, std::string>> readPairList(const std::string& path);

// The job of one or two FASTA files, or of a pair list; shard K of N.
Job makeJob(const std::vector<std::string>& files, const std::string& pairList, long shardK, long shardN);

// The alignment file of each pair: <id_s>__<id_t><extension>, unless another
// pair of the job has that name, an identifier had characters other than
// letters, digits, '.', '-' and '_' (replaced by '_'), or the name is long;
// then a digest of the pair follows, so that no two pairs share a file.
std::vector<std::string> alignmentNames(const std::vector<Pair>& pairs, const std::string& extension = ".afasta");

// A name for messages: control characters written as \r, \t, \xNN, bytes
// that are not UTF-8 as \xNN, and the characters that end lines beyond
// ASCII's (U+0085, U+2028, U+2029) and the other C1 controls as \uXXXX.
std::string printable(const std::string& text);

// The character of UTF-8 text at byte i: its code point, and the bytes it
// takes. A byte that cannot begin a character, or a beginning that the next
// bytes do not complete, is U+FFFD in place of the longest beginning that
// could have been completed (as Unicode and Python decode it).
struct Utf8Char {
  unsigned codePoint;
  size_t bytes;
  bool valid;
};
Utf8Char utf8At(const std::string& text, size_t i);

}  // namespace batch
