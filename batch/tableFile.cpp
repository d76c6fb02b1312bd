#include "tableFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "job.h"
#include "seqcorvane/seqcorvane.h"

namespace batch {

namespace {

[[noreturn]] void fail(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }

std::string quoted(const std::string& path) { return "'" + printable(path) + "'"; }

// The whole content of an open file, or false with errno set.
bool readAll(int fd, std::string& text) {
  text.clear();
  char buf[1 << 16];
  for (unsigned long long offset = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<size_t>(n));
    offset += static_cast<unsigned long long>(n);
  }
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The length of the text up to and with its last line end.
unsigned long long wholeLines(const std::string& text) {
  const size_t nl = text.rfind('\n');
  return nl == std::string::npos ? 0 : nl + 1;
}

}  // namespace

TableFile::TableFile(const std::string& table) : target(table) {
  // A symbolic link to a file: the file it names is replaced, not the link.
  struct stat st;
  char resolved[PATH_MAX + 1];
  if (::lstat(table.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(table.c_str(), resolved) != nullptr)
    target = resolved;
  partial = target + ".partial";
  // Another run may rename the partial file to its table while this one
  // opens it: the file locked must still be the one of that name.
  for (int attempt = 0;; ++attempt) {
    bool made = false;
    fd = ::open(partial.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno == EEXIST && attempt < 100) continue;
      made = fd >= 0;
    }
    if (fd < 0) failWriting(errno);
    struct stat own;
    if (::fstat(fd, &own) != 0) failWriting(errno);
    if (!S_ISREG(own.st_mode)) {
      ::close(fd);
      fd = -1;
      fail("cannot write " + quoted(partial) + ": not a regular file");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      fd = -1;
      fail("another run is writing the table " + quoted(table) + " (through " + quoted(partial) +
           "): wait for it to end or name another table with -o");
    }
    // (A file system without locks: written unguarded.)
    struct stat now;
    if (::stat(partial.c_str(), &now) == 0 && sameFile(now, own)) {
      created = made;
      break;
    }
    ::close(fd);
    fd = -1;
    if (attempt >= 100) fail("cannot write " + quoted(partial) + ": other runs keep replacing it");
  }
  if (!readAll(fd, partialRead)) fail("cannot read the earlier table " + quoted(partial) + ": " + std::strerror(errno));
  tableFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (tableFd < 0) {
    if (errno != ENOENT) fail("cannot read the earlier table " + quoted(table) + ": " + std::strerror(errno));
    return;
  }
  if (::fstat(tableFd, &st) != 0 || !S_ISREG(st.st_mode) || !readAll(tableFd, tableRead))
    fail("cannot read the earlier table " + quoted(table) + ": " + std::strerror(errno));
}

TableFile::~TableFile() {
  if (fd >= 0) {
    if (created && !written) ::unlink(partial.c_str());
    ::close(fd);
  }
  if (tableFd >= 0) ::close(tableFd);
}

void TableFile::failWriting(int err) const { fail("cannot write " + quoted(partial) + ": " + std::strerror(err)); }

void TableFile::writeAt(unsigned long long offset, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failWriting(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
}

void TableFile::cutAt(unsigned long long size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) failWriting(errno);
  end = size;
}

void TableFile::begin(const std::string& head, const std::string& fromTable, const std::string& fromPartial) {
  if (!partialRead.empty()) {
    written = true;  // an earlier run's rows: kept whatever happens
    cutAt(wholeLines(partialRead));
    append(fromTable);
  } else {
    if (!tableRead.empty()) adoptTable();
    if (written) {
      append(fromPartial);
    } else {
      cutAt(0);
      writeAt(0, head);
      end = head.size();
      append(fromTable + fromPartial);
    }
  }
  std::string().swap(partialRead);  // read once: no longer needed
  std::string().swap(tableRead);
}

// The finished table becomes the partial file, so that its rows are not
// written twice; when it cannot (a file that may not be written, a rename
// refused), the partial file starts anew.
void TableFile::adoptTable() {
  const int rw = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
  if (rw < 0) return;
  struct stat a, b;
  if (::fstat(rw, &a) != 0 || ::fstat(tableFd, &b) != 0 || !sameFile(a, b)) {
    ::close(rw);
    return;
  }
  if (::flock(rw, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(rw);
    fail("another run is writing the table " + quoted(target) + ": wait for it to end or name another table with -o");
  }
  if (::rename(target.c_str(), partial.c_str()) != 0) {
    ::close(rw);
    return;
  }
  ::close(fd);  // the partial file this run created, replaced by the table
  fd = rw;
  created = false;
  written = true;
  cutAt(wholeLines(tableRead));
}

void TableFile::append(const std::string& text) {
  if (text.empty()) return;
  writeAt(end, text);
  end += text.size();
  written = true;
}

void TableFile::finish(const std::string& text, const std::string& fallback) {
  written = true;
  try {
    writeAt(0, text);
    cutAt(text.size());
  } catch (const seqcorvane::Error&) {
    if (!fallback.empty()) {
      try {
        writeAt(0, fallback);
        cutAt(fallback.size());
      } catch (const seqcorvane::Error&) {
      }
    }
    throw;
  }
  if (::rename(partial.c_str(), target.c_str()) != 0)
    fail("cannot write " + quoted(target) + ": " + std::strerror(errno));
  ::close(fd);
  fd = -1;
}

void TableFile::discardPartial() {
  ::unlink(partial.c_str());
  ::close(fd);
  fd = -1;
}

}  // namespace batch
