#include "job.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <set>

#include "numbers.h"
#include "seqcorvane/io.h"

namespace batch {

namespace {

[[noreturn]] void fail(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }

std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

}  // namespace

Utf8Char utf8At(const std::string& text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return {c, 1, true};
  int need = 0;
  unsigned lo = 0x80, hi = 0xbf, cp = 0;
  if (c >= 0xc2 && c <= 0xdf) {
    need = 1, cp = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    need = 2, cp = c & 0x0f;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;  // not the surrogates
  } else if (c >= 0xf0 && c <= 0xf4) {
    need = 3, cp = c & 0x07;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;  // not beyond U+10FFFF
  }
  size_t j = i + 1;
  int got = 0;
  while (got < need && j < text.size()) {
    const unsigned char d = static_cast<unsigned char>(text[j]);
    if (d < lo || d > hi) break;
    cp = (cp << 6) | (d & 0x3f);
    lo = 0x80, hi = 0xbf;
    ++j, ++got;
  }
  if (need > 0 && got == need) return {cp, j - i, true};
  return {0xfffd, j - i, false};
}

std::string printable(const std::string& text) {
  std::string out;
  char buf[16];
  for (size_t i = 0; i < text.size();) {
    const Utf8Char u = utf8At(text, i);
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!u.valid) {
      for (size_t k = 0; k < u.bytes; ++k) {
        std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(text[i + k]));
        out += buf;
      }
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u.codePoint < 0x20 || u.codePoint == 0x7f) {
      std::snprintf(buf, sizeof buf, "\\x%02X", u.codePoint);
      out += buf;
    } else if ((u.codePoint >= 0x80 && u.codePoint < 0xa0) || u.codePoint == 0x2028 || u.codePoint == 0x2029) {
      std::snprintf(buf, sizeof buf, "\\u%04X", u.codePoint);
      out += buf;
    } else {
      out.append(text, i, u.bytes);
    }
    i += u.bytes;
  }
  return out;
}

std::string pairDigest(const std::string& s, const std::string& t) { return seqcorvane::shell::digestOf(s + '/' + t); }

std::vector<Record> readRecords(const std::string& path) {
  const std::string source = path == "-" ? "/dev/stdin" : path;
  std::size_t leading = 0;
  const std::vector<seqcorvane::Record> read = seqcorvane::readFasta(source, &leading);
  std::vector<Record> records;
  size_t dropped = 0;
  for (const seqcorvane::Record& r : read) {
    const std::string id = r.name.empty() ? "record" + std::to_string(records.size() + 1) : r.name;
    records.push_back(Record{id, seqcorvane::standardResidues(r.text), path});
    dropped += seqcorvane::droppedCharacters(r.text);
  }
  // A file of nothing but blanks and line ends holds no record; a file whose
  // records hold no residue at all gives no pair either.
  if (read.empty()) fail(quoted(path) + " is empty: it holds no FASTA records");
  bool residues = false;
  for (const Record& r : records) residues = residues || !r.sequence.empty();
  if (!residues)
    fail(quoted(path) + " holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) in " +
         (records.size() == 1 ? "its record" : "any of its " + std::to_string(records.size()) + " records"));
  std::set<std::string> seen;
  for (const Record& r : records)
    if (!seen.insert(r.id).second) fail(quoted(path) + " holds the identifier '" + printable(r.id) + "' twice");
  if (dropped != 0)
    std::cerr << "seqcorvane-batch: notice: " << quoted(path) << ": dropped " << dropped
              << " characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)\n";
  if (leading != 0)
    std::cerr << "seqcorvane-batch: notice: " << quoted(path) << ": dropped " << leading
              << " characters before the first header ('>'), which belong to no record\n";
  return records;
}

std::vector<std::pair<std::string, std::string>> readPairList(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> names;
  long lineNo = 0;
  for (std::string line : seqcorvane::readTextLines(path == "-" ? "/dev/stdin" : path)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos || tab == 0 || tab + 1 == line.size())
      fail(quoted(path) + ":" + std::to_string(lineNo) + ": expected two file names separated by a tab");
    names.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return names;
}

Job makeJob(const std::vector<std::string>& files, const std::string& pairList, long shardK, long shardN) {
  Job job;
  const unsigned long long K = static_cast<unsigned long long>(shardK - 1), N = static_cast<unsigned long long>(shardN);
  auto inShard = [&](unsigned long long p) { return p % N == K; };
  if (!pairList.empty()) {
    job.inputFiles.push_back(pairList);
    const auto names = readPairList(pairList);
    job.jobPairs = names.size();
    // Only the files of the shard's pairs are read.
    std::vector<size_t> mine;
    for (size_t p = 0; p < names.size(); ++p)
      if (inShard(p)) mine.push_back(p);
    job.sets.reserve(2 * mine.size());
    for (size_t p : mine) {
      for (const std::string& f : {names[p].first, names[p].second}) {
        job.inputFiles.push_back(f);
        job.sets.push_back(readRecords(f));
        if (job.sets.back().size() != 1)
          fail(quoted(f) + " holds " + std::to_string(job.sets.back().size()) + " records; expected exactly one");
      }
    }
    for (size_t k = 0; k < mine.size(); ++k) {
      const Record* s = &job.sets[2 * k][0];
      const Record* t = &job.sets[2 * k + 1][0];
      job.pairs.push_back(Pair{s, t, pairDigest(s->sequence, t->sequence)});
    }
  } else {
    job.sets.reserve(files.size());
    for (const std::string& f : files) {
      job.inputFiles.push_back(f);
      job.sets.push_back(readRecords(f));
    }
    if (job.sets.size() == 1) {
      // Pair (i, j), i < j, is number off(i) + j - i - 1 of the job, off(i)
      // the pairs of the rows before i; the shard's first in row i follows.
      const std::vector<Record>& r = job.sets[0];
      const unsigned long long n = r.size();
      job.jobPairs = n * (n - 1) / 2;
      for (unsigned long long i = 0; i + 1 < n; ++i) {
        const unsigned long long off = i * n - i * (i + 1) / 2;
        const unsigned long long first = (K + N - off % N) % N;
        for (unsigned long long j = i + 1 + first; j < n; j += N)
          job.pairs.push_back(Pair{&r[i], &r[j], pairDigest(r[i].sequence, r[j].sequence)});
      }
    } else {
      const std::vector<Record>&q = job.sets[0], &t = job.sets[1];
      job.jobPairs = static_cast<unsigned long long>(q.size()) * t.size();
      for (unsigned long long a = 0; a < q.size(); ++a) {
        const unsigned long long off = a * t.size();
        const unsigned long long first = (K + N - off % N) % N;
        for (unsigned long long b = first; b < t.size(); b += N)
          job.pairs.push_back(Pair{&q[a], &t[b], pairDigest(q[a].sequence, t[b].sequence)});
      }
    }
  }
  std::set<std::string> keys;
  for (const Pair& p : job.pairs)
    if (!keys.insert(p.key()).second)
      fail("the pair " + printable(p.s->id) + " / " + printable(p.t->id) + " comes twice with the same sequences");
  return job;
}

namespace {

// A file name made of an identifier: anything but letters, digits, '.', '-'
// and '_' replaced by '_'.
std::string safeName(const std::string& id) {
  std::string s = id;
  for (char& c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_')) c = '_';
  return s;
}

}  // namespace

// The alignment file of each pair: <id_s>__<id_t>.afasta, unless another pair
// of the job has that name, an identifier had characters replaced, or the
// name is long; then a digest of the pair's identifiers and sequences follows,
// so that no two pairs share a file.
std::vector<std::string> alignmentNames(const std::vector<Pair>& pairs, const std::string& extension) {
  std::vector<std::string> names(pairs.size());
  std::set<std::string> used;
  for (size_t k = 0; k < pairs.size(); ++k) {
    const Pair& p = pairs[k];
    const std::string a = safeName(p.s->id), b = safeName(p.t->id);
    std::string name = a + "__" + b;
    const bool altered = a != p.s->id || b != p.t->id;
    if (name.size() > 180) name = name.substr(0, 180);
    if (altered || name.size() == 180 || used.count(name)) {
      const std::string plain = name;
      name += "__" + seqcorvane::shell::digestOf(p.s->id + '\t' + p.t->id + '\t' + p.digest).substr(0, 8);
      if (used.count(plain) && !altered)
        std::cerr << "seqcorvane-batch: notice: another pair's alignment is " << plain << extension << "; the pair "
                  << printable(p.s->id) << " / " << printable(p.t->id) << " is written to " << name << extension
                  << "\n";
    }
    used.insert(name);
    names[k] = name + extension;
  }
  return names;
}

}  // namespace batch
