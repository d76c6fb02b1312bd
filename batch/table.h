// The batch table: lines of provenance ('#': the program, the criterion,
// the models and their digest), a header, one row a pair. Rows gather in
// <table>.partial as pairs finish; the whole table replaces <table> when the
// job is done. A rerun with the same table resumes: it reuses a row only
// when the criterion and the models are those of the earlier run and the
// pair's two sequences are the same (the row's digest).
#pragma once

#include <map>
#include <string>
#include <vector>

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

// The rows a resume may reuse, by pair key (id_s, id_t, digest), and the
// pairs that rows of the earlier run name with other sequences.
struct EarlierRows {
  std::map<std::string, std::string> ok;        // whole lines of pairs done
  std::map<std::string, std::string> digestOf;  // id_s \t id_t -> digest of the row
};

// Reads what an earlier run left in path (a table or its .partial), if it
// is a regular file: throws seqcorvane::Error when it is not a table of this
// program or was made with another criterion or other models.
void readEarlier(const std::string& path, const Provenance& now, EarlierRows& rows);

}  // namespace batch
