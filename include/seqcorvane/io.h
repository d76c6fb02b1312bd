// Input and output around the aligner: FASTA records with their names, the
// residue filter, alignment files and their formats, the landscape files,
// and output files that are whole or absent. Failures are thrown as
// seqcorvane::Error naming the file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

namespace seqcorvane {

// One FASTA record: the name is the first word of its header line ("" when
// the header has none), the text every line after it joined as read.
struct Record {
  std::string name;
  std::string header;  // the whole header line after '>'
  std::string text;
};

// The records of a FASTA file, plain or gzip-compressed, from a regular
// file, a named pipe or /dev/stdin. A file without a header is one record
// of all its text (none when it is empty or blank); otherwise text before
// the first header is not part of
// any record, and leadingCharacters (when given) counts its characters other
// than blanks, line ends and digits. Throws Error (input) when the file
// cannot be read.
std::vector<Record> readFasta(const std::string& path, std::size_t* leadingCharacters = nullptr);

// The twenty upper-case residue letters ACDEFGHIKLMNPQRSTVWY of the text.
std::string standardResidues(const std::string& text);
// Characters the filter drops that deserve a notice: all but the residues,
// blanks, line ends and digits (the numbering of some sequence formats).
std::size_t droppedCharacters(const std::string& text);

// An alignment read for scoring, from afasta, FASTA, Clustal or Stockholm
// (told apart by their first line; Stockholm's '.' gaps read as '-'): its
// two rows with the columns the models cannot use (a character other than
// a residue or '-', or two gaps) dropped.
struct AlignmentFile {
  std::vector<std::string> names;  // the records' names as read (afasta's: "aligned")
  std::vector<std::string> rows;   // two rows of equal length
  std::size_t droppedColumns = 0;  // columns holding other characters
  // The two characters of such a column, once for each of them that is
  // neither a residue nor a gap, in order.
  std::vector<std::string> droppedPairs;
};
// Two records of equal length, each with residues left after the drop.
AlignmentFile readAlignmentFile(const std::string& path);

// Writes the two rows as an afasta file: ">aligned seq 1", row 0 in lines of
// 60, an empty line, ">aligned seq 2", row 1 in lines of 60. Whole or absent.
void writeAfastaFile(const std::string& path, const std::vector<std::string>& rows);

// Formats of an alignment file: afasta (">aligned seq 1" and ">aligned seq
// 2", rows of 60), FASTA with the records' names, Clustal (blocks of 60 with
// a line of '*' under identical columns), Stockholm (with, where the result
// has column confidences, a "#=GR <name> PP" line per sequence: 0-9 for the
// posterior probability rounded to tenths, * for 0.95 and above, '.' at
// gaps; under the local or automatic hypothesis, "#=GF HY <mode>, <sent>
// sent" and a "#=GS <name> RG <first>-<last>" line per sequence for the
// region aligned, 1-based and inclusive), and JSON (the whole result, with
// the identical pairs and the identity as the report gives them, the
// hypotheses' message lengths and region, 1-based and inclusive, and the
// verdict calibrated for composition). Under the
// local hypothesis every format's rows hold the flanks as gap columns before
// and after the region, so the region reads back from the rows.
//
// The records' names are made safe for every reader of the format: blanks,
// control characters and bytes that are not UTF-8 become '_' (a name is one
// word); in Stockholm a name that begins with '#' or '/' gets a leading '_'
// (it would read as markup or as the end); a missing name is S or T, and
// equal names get /1 and /2. Columns of names are padded in characters, not
// bytes.
enum class AlignmentFormat { afasta, fasta, clustal, stockholm, json };
bool parseAlignmentFormat(const std::string& name, AlignmentFormat& format);
const char* alignmentFormatName(AlignmentFormat format);
// ".afasta", ".fasta", ".aln", ".sto", ".json".
const char* alignmentFormatExtension(AlignmentFormat format);
// The text of the result's alignment in the format. Throws Error (input)
// for a result without an alignment (the marginal criterion's) in any format
// but JSON, and for one whose rows or confidences are not those of its path.
std::string formatAlignment(const AlignResult& result, AlignmentFormat format);
// Writes it, whole or absent.
void writeAlignmentFile(const std::string& path, const AlignResult& result, AlignmentFormat format);

// <path>: per column of the path its number, the positions of its residues
// in S and T (from 1; '-' for a gap), its state and its posterior.
void writeConfidenceFile(const std::string& path, const std::string& alignmentPath,
                         const std::vector<double>& posterior);

// An output file that is whole or absent: written beside its destination and
// renamed into place by commit(); anything else (a failure, an exception, an
// interrupt) leaves the previous file as it was. A device or a named pipe is
// written directly.
class OutputFile {
 public:
  explicit OutputFile(std::string path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const std::string& text) { write(text.data(), text.size()); }
  void write(const char* data, std::size_t n);
  // Flushes, closes and renames the temporary file into place.
  void commit();
  const std::string& path() const { return dest; }

 private:
  [[noreturn]] void failed(int err);
  void discard();
  std::string dest, renameTo, temp;
  std::FILE* file = nullptr;
  int slot = -1;
};

// The landscape files of the marginal criteria:
// <prefix>_MarginalProbabilityLandscape.csv (the values of a row parted by
// commas) and <prefix>_MarginalProbabilityLandscape.m (a Matlab/Octave
// script: "M  = [", each value after a blank right-aligned in 8 characters,
// rows parted by ";\n", then "];\nimagesc(M);\n"), in bits with two
// decimals. Written row by row as align() hands the rows over; both whole
// or absent.
class LandscapeFiles {
 public:
  LandscapeFiles(const std::string& prefix, std::size_t nS, std::size_t nT);
  // Rows 0..nS in order, nT + 1 values in nits each (Error, input,
  // otherwise); commit once all are written.
  void row(const LandscapeRow& r);
  void commit();

 private:
  std::size_t nS, nT, nextRow = 0;
  OutputFile csv, script;
  std::vector<char> csvLine, scriptLine;
};

// A whole file at once, through an OutputFile.
void writeWholeFile(const std::string& path, const std::string& text);
// Throws Error (output) unless files can be created in the directory of path.
void checkOutputDirectory(const std::string& path);

// The one of candidates that is the same regular file as path (the same
// device and inode), or "" when none is: an output that would destroy an input.
std::string sameFileAmong(const std::string& path, const std::vector<std::string>& candidates);

// The lines of a text file (plain or gzip-compressed), without their newlines.
std::vector<std::string> readTextLines(const std::string& path);

}  // namespace seqcorvane
