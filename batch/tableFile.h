// The file a resumable table is written through: <table>.partial beside the
// table (beside the file a symbolic link names), held by one run at a time.
//
// A run locks the partial file, reads what an earlier run left there and in
// the table, and appends each row as its pair finishes, so that an
// interrupted run leaves its rows for the next. When the job is done the
// whole table, in the order of the pairs, is written over the partial file
// (it already holds the same rows, so no more room is needed) and the file
// is renamed to the table: the finished table is whole, and the disk never
// holds it twice. A rerun over a finished table takes that table as its
// partial file (renames it) instead of copying its rows.
#pragma once

#include <string>

namespace batch {

class TableFile {
 public:
  // Opens and locks the partial file of the table named (a regular file, a
  // symbolic link to one, or none yet), creating it when there is none, and
  // reads both. Throws seqcorvane::Error when another run holds the partial
  // file or either cannot be read.
  explicit TableFile(const std::string& table);
  // Removes the partial file if this run created it and wrote no row to it.
  ~TableFile();
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;

  const std::string& partialPath() const { return partial; }
  const std::string& partialText() const { return partialRead; }
  const std::string& tableText() const { return tableRead; }  // (both until begin())

  // Starts the rows of this run: on the partial file's rows when it holds
  // any (an unfinished last line cut off), else on the finished table's
  // (the table renamed to the partial file), else on head; then appends the
  // earlier rows reused from the other file (whole rows, in the pairs' order).
  void begin(const std::string& head, const std::string& fromTable, const std::string& fromPartial);
  // Appends text (whole rows); throws seqcorvane::Error when it cannot.
  void append(const std::string& text);
  // Writes text over the partial file, cuts it there and renames it to the
  // table. When that fails, writes fallback (the rows in a form a rerun
  // resumes from, no longer than the file) over it instead, and throws.
  void finish(const std::string& text, const std::string& fallback);
  // The table already holds the job: the partial file is removed.
  void discardPartial();

 private:
  [[noreturn]] void failWriting(int err) const;
  void writeAt(unsigned long long offset, const std::string& text);
  void cutAt(unsigned long long size);
  void adoptTable();

  std::string target, partial;
  std::string partialRead, tableRead;
  int fd = -1, tableFd = -1;
  bool created = false, written = false;
  unsigned long long end = 0;
};

}  // namespace batch
