// The batch table: lines of provenance ('#': the program, the criterion,
// the models and their digest), a header, one row a pair. Rows gather in
// <table>.partial as pairs finish (tableFile.h); the whole table takes its
// place when the job is done. A rerun with the same table resumes: it reuses
// a row only when the criterion and the models are those of the earlier run,
// the pair's two sequences are the same (the row's digest) and every field
// of the row holds what this program writes for the pair.
//
// The same rows as JSON lines: one object a pair, with the columns' names
// as keys, numbers as numbers and NA as null.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "job.h"

namespace seqcorvane {
class Models;
struct AlignResult;
}  // namespace seqcorvane

namespace batch {

extern const char* const HEADER;
constexpr int COLUMNS = 14;
constexpr int STATUS_COLUMN = 12, DIGEST_COLUMN = 13;

struct Provenance {
  std::string criterion;
  std::string modelsDirectory, modelsDigest;
  // How the criterion decodes, where that is a choice of the program's (empty: nothing to state).
  std::string decoding;
};
// The '#' lines that open a table.
std::string provenanceLines(const Provenance& p);

// The rows of an earlier run's table (or its .partial), as read: each row
// of status ok by its pair key (id_s, id_t, digest; several when the file
// holds several), the digests of the rows by id_s \t id_t, and the rows that
// cannot be a result of any pair (a wrong number of fields).
struct EarlierRows {
  std::multimap<std::string, std::string> ok;
  std::map<std::string, std::string> digestOf;
  std::vector<std::string> misshapen;  // the first two fields (id_s \t id_t) of each, "" for fewer
};

// Reads the text of what an earlier run left in name (a table or its
// .partial): throws seqcorvane::Error when it is not a table of this
// program or was made with another criterion, other models or another
// decoding. A last line without its newline is an unfinished row, left out.
void readEarlier(const std::string& text, const std::string& name, const Provenance& now, EarlierRows& rows);

// Whether the fields of an earlier row hold a result of this program for
// the pair under the criterion: every field in the form the program writes
// it, the lengths those of the pair's sequences, the null hypothesis's bits
// those of its sequences (nullBits), K in 1..1000, finite numbers, the
// compression the null less the alignment (optimal and marginal criteria),
// identity in 0..100 and gap openings a count (NA for the marginal
// criterion), status ok.
bool holdsResult(const std::vector<std::string>& fields, const Pair& pair, const std::string& criterion,
                 const std::string& nullBits);

// The bits of the null hypothesis of a pair as its row gives them.
std::string nullBitsText(double nullNitsS, double nullNitsT);

// The fields of a result's row from K to gap_openings, each followed by a
// tab: for the optimal criterion its K, for the others the marginal one;
// the alignment's bits (the marginal message length's for the marginal
// criterion); identity and gap openings NA without an alignment.
std::string resultFields(const seqcorvane::AlignResult& r, const seqcorvane::Models& models);

// What a resume keeps of the earlier rows: per pair of the job the row
// reused (empty: the pair is aligned again) and whether it was read from
// the partial file; the rows that name a pair of the job but hold no result
// of it (set aside), the pairs whose earlier row was of other sequences,
// and whether any earlier row was read.
struct Reuse {
  std::vector<std::string> rows;
  std::vector<char> fromPartial;
  size_t setAside = 0, changed = 0;
  bool any = false;
};
// The first row that holds a result of each pair, the partial file's
// before the table's.
Reuse chooseEarlier(const std::vector<Pair>& pairs, const EarlierRows& partial, const EarlierRows& table,
                    const std::string& criterion, const seqcorvane::Models& models);

// A row's fields (split on tabs only).
std::vector<std::string> splitRow(const std::string& row);

// A row of the table as one line of JSON (without its newline): an object
// with the header's names as keys in the columns' order; lengths, K, the
// bits, identity, gap openings and seconds as numbers, NA as null;
// identifiers as strings in ASCII: '"', '\' and control characters escaped
// as JSON escapes them, characters beyond ASCII as \uXXXX (two for those
// beyond U+FFFF), and bytes that are not UTF-8 as U+FFFD.
std::string jsonRow(const std::string& row);
// A text as a JSON string by that rule.
std::string jsonString(const std::string& text);

}  // namespace batch
