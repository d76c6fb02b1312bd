// The batch table: lines of provenance ('#': the program, the criterion,
// the hypothesis unless global, the models and their digest), a header, one
// row a pair. Rows gather in <table>.partial as pairs finish (tableFile.h);
// the whole table takes its place when the job is done. A rerun with the
// same table resumes: it reuses a row only when the criterion, the
// hypothesis and the models are those of the earlier run, the pair's two
// sequences are the same (the row's digest) and every field of the row holds
// what this program writes for the pair.
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
constexpr int COLUMNS = 15;
constexpr int STATUS_COLUMN = 12, DIGEST_COLUMN = 13;
// The compression of the verdict calibrated for composition, after pair_digest.
constexpr int CALIBRATED_COLUMN = 14;
// The columns that follow calibrated_bits under the local and automatic
// hypotheses: the hypothesis sent and the region aligned of each sequence.
extern const char* const HYPOTHESIS_COLUMNS;
constexpr int HYPOTHESIS_COLUMN = 15, REGION_S_COLUMN = 16, REGION_T_COLUMN = 17;
// The header of the tables of earlier versions, without calibrated_bits:
// such a table is refused, not resumed.
extern const char* const EARLIER_HEADER;

// The header and the number of columns of a table of the hypothesis named
// ("global", "local", "auto"): today's columns for the global one.
std::string headerOf(const std::string& mode);
size_t columnsOf(const std::string& mode);

struct Provenance {
  std::string criterion;
  std::string modelsDirectory, modelsDigest;
  // How the criterion decodes, where that is a choice of the program's (empty: nothing to state).
  std::string decoding;
  // The hypothesis beside the null one, by name; stated unless global.
  std::string mode = "global";
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
// program, was made with another criterion, another hypothesis, other
// models or another decoding, or by an earlier version without the column
// calibrated_bits. A last line without its newline is an unfinished row,
// left out.
void readEarlier(const std::string& text, const std::string& name, const Provenance& now, EarlierRows& rows);

// Whether the fields of an earlier row hold a result of this program for
// the pair under the criterion: every field in the form the program writes
// it, the lengths those of the pair's sequences, the null hypothesis's bits
// those of its sequences (nullBits), K in 1..1000, finite numbers, the
// compression the null less the alignment (optimal and marginal criteria),
// identity in 0..100 and gap openings a count (NA for the marginal
// criterion), status ok, the calibrated compression a finite number (the
// compression itself for the posterior criterion, whose verdict it is);
// under the local and automatic hypotheses the one sent and the regions as
// hypothesisFields writes them.
bool holdsResult(const std::vector<std::string>& fields, const Pair& pair, const Provenance& now,
                 const std::string& nullBits);

// The bits of the null hypothesis of a pair as its row gives them.
std::string nullBitsText(double nullNitsS, double nullNitsT);

// The fields of a result's row from K to gap_openings, each followed by a
// tab: for the optimal criterion its K, for the others the marginal one;
// the alignment's bits (the marginal message length's for the marginal
// criterion; NA for a local alignment that pairs no residues, which has no
// message); identity and gap openings NA without an alignment.
std::string resultFields(const seqcorvane::AlignResult& r, const seqcorvane::Models& models);

// The field that follows pair_digest, after a tab: the compression of the
// verdict calibrated for composition, in bits, as the compression's column
// writes it (NA for a failed pair).
std::string calibratedField(const seqcorvane::AlignResult& r);
extern const char* const FAILED_CALIBRATED_FIELD;

// The fields that follow calibrated_bits under the local and automatic
// hypotheses, each after a tab: the hypothesis sent, and the region of S
// and of T as first-last (1-based, inclusive), NA without an alignment or
// when the region holds no residue of the sequence. A failed pair's are NA.
std::string hypothesisFields(const seqcorvane::AlignResult& r);
extern const char* const FAILED_HYPOTHESIS_FIELDS;

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
                    const Provenance& now, const seqcorvane::Models& models);

// A row's fields (split on tabs only).
std::vector<std::string> splitRow(const std::string& row);

// A row of a table of the hypothesis named as one line of JSON (without its
// newline): an object with the header's names as keys in the columns'
// order; lengths, K, the bits, identity, gap openings and seconds as
// numbers (calibrated_bits too), NA as null; the hypothesis as a string or
// null, a region as
// [first, last] or null;
// identifiers as strings in ASCII: '"', '\' and control characters escaped
// as JSON escapes them, characters beyond ASCII as \uXXXX (two for those
// beyond U+FFFF), and bytes that are not UTF-8 as U+FFFD.
std::string jsonRow(const std::string& row, const std::string& mode = "global");
// A text as a JSON string by that rule.
std::string jsonString(const std::string& text);

}  // namespace batch
