#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "check.h"
#include "seqcorvane/io.h"

namespace seqcorvane {

using namespace detail;

namespace {

// Temporary files open at the moment, for the interrupt handler: fixed
// buffers, so that the handler touches no allocation, only unlink().
constexpr int MAX_TEMPS = 64;
constexpr std::size_t MAX_PATH_LEN = 4096;
char tempPaths[MAX_TEMPS][MAX_PATH_LEN];
std::atomic<bool> tempUsed[MAX_TEMPS];
std::mutex slotMutex;

void removeTempsAndReraise(int sig) {
  for (int k = 0; k < MAX_TEMPS; ++k)
    if (tempUsed[k].load()) ::unlink(tempPaths[k]);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installInterruptHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction current;
      if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
      struct sigaction sa;
      std::memset(&sa, 0, sizeof sa);
      sa.sa_handler = removeTempsAndReraise;
      sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  });
}

int claimSlot(const std::string& path) {
  if (path.size() >= MAX_PATH_LEN) return -1;
  std::lock_guard<std::mutex> lock(slotMutex);
  for (int k = 0; k < MAX_TEMPS; ++k) {
    if (!tempUsed[k].load()) {
      std::memcpy(tempPaths[k], path.c_str(), path.size() + 1);
      tempUsed[k].store(true);
      return k;
    }
  }
  return -1;
}

void releaseSlot(int k) {
  if (k >= 0) tempUsed[k].store(false);
}

// Holds the interrupt signals back while alive: a temporary file created and
// registered under it is never left unregistered by an interrupt between
// the two.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, &saved);
  }
  ~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t saved;
};

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

OutputFile::OutputFile(std::string path) : dest(std::move(path)) {
  installInterruptHandlers();
  // A destination that exists and is not a regular file (a device, a pipe)
  // is written directly: it cannot be replaced, and a partial write to it
  // destroys nothing.
  struct stat st;
  if (::stat(dest.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    file = std::fopen(dest.c_str(), "w");
    if (file == nullptr) failed(errno);
    return;
  }
  // A symbolic link to a file: the file it names is replaced, not the link.
  std::string target = dest;
  char resolved[PATH_MAX + 1];
  if (::lstat(dest.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(dest.c_str(), resolved) != nullptr)
    target = resolved;
  renameTo = target;
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = dir + "." + name + ".tmp.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd;
  {
    const InterruptsHeld held;
    fd = ::mkstemp(buf.data());
    if (fd >= 0) {
      temp = buf.data();
      slot = claimSlot(temp);
    }
  }
  if (fd < 0) failed(errno);
  // The file gets the permissions a newly created file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  file = ::fdopen(fd, "w");
  if (file == nullptr) {
    const int err = errno;
    ::close(fd);
    failed(err);
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  if (!temp.empty()) {
    ::unlink(temp.c_str());
    temp.clear();
  }
  releaseSlot(slot);
  slot = -1;
}

void OutputFile::failed(int err) {
  discard();
  outputError("cannot write '" + dest + "': " + std::strerror(err));
}

void OutputFile::write(const char* data, std::size_t n) {
  SC_CHECK(file != nullptr);
  if (n > 0 && std::fwrite(data, 1, n, file) != n) failed(errno);
}

void OutputFile::commit() {
  SC_CHECK(file != nullptr);
  if (std::fflush(file) != 0) failed(errno);
  std::FILE* f = file;
  file = nullptr;
  if (std::fclose(f) != 0) failed(errno);
  if (temp.empty()) return;  // written directly
  if (::rename(temp.c_str(), renameTo.c_str()) != 0) failed(errno);
  temp.clear();
  releaseSlot(slot);
  slot = -1;
}

void writeWholeFile(const std::string& path, const std::string& text) {
  OutputFile f(path);
  f.write(text);
  f.commit();
}

std::string sameFileAmong(const std::string& path, const std::vector<std::string>& candidates) {
  struct stat out;
  if (::stat(path.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) return "";
  for (const std::string& c : candidates) {
    struct stat st;
    if (::stat(c.c_str(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino) return c;
  }
  return "";
}

void checkOutputDirectory(const std::string& path) {
  const std::string dir = directoryOf(path);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) outputError("cannot write output files to '" + dir + "': " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) outputError("cannot write output files to '" + dir + "': " + std::strerror(ENOTDIR));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    outputError("cannot write output files to '" + dir + "': " + std::strerror(errno));
}

}  // namespace seqcorvane
