#include "program.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>

#include "check.h"
#include "invariants.h"
#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::shell {

namespace {

std::string programName = "seqcorvane";

// One line on standard error, then the end of the process with status 2;
// written with write(2), whatever state the streams are in.
void checkFailedLine(const std::string& message) {
  const std::string line = programName + ": internal check failed: " + message + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::_Exit(2);
}

}  // namespace

void checkFailed(const char* condition, const char* file, int line) { detail::checkFailed(condition, file, line); }

void printError(const std::string& name, const std::string& message) {
  std::cout.flush();
  if (!message.empty() && message.back() == '\n')
    std::cerr << message << std::flush;
  else
    std::cerr << name << ": error: " << message << std::endl;
}

int runProgram(const std::string& name, const std::function<int()>& body) {
  programName = name;
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  setCheckHandler(checkFailedLine);
  try {
    const int status = body();
    errno = 0;
    if (!std::cout.flush()) {
      const std::string reason = errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
      printError(name, "cannot write the report to standard output" + reason);
      return 1;
    }
    return status;
  } catch (const Error& e) {
    printError(name, e.what());
  } catch (const std::bad_alloc&) {
    printError(name, "out of memory: a memory allocation failed");
  } catch (const std::exception& e) {
    printError(name, std::string("unexpected failure: ") + e.what());
  } catch (...) {
    printError(name, "unexpected failure");
  }
  return 1;
}

}  // namespace seqcorvane::shell
