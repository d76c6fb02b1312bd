// Output files that are whole or absent.
//
// An OutputFile writes into a temporary file beside its destination and
// renames it into place when commit() is called: a failed write, a failure
// anywhere else in the run or an interrupt leaves the previous file as it
// was and no partial file behind. Any failure to create, write or rename
// ends the run through fatalError with one line naming the destination and
// the system's reason.
#pragma once

#include <cstdio>
#include <string>

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
  int slot = -1;  // entry in the list of temporary files removed on an interrupt
};

// Writes a whole file at once, through an OutputFile.
void writeWholeFile(const std::string& path, const std::string& text);

// Fails with one line unless files can be created in the directory that
// holds path (its prefix up to the last '/', else the working directory).
void checkOutputDirectory(const std::string& path);
