#include "check.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace seqcorvane {

namespace {

// The default: one line on standard error, then the end of the process
// (status 2). Written with write(2): the report's buffered stream is the
// programs' business.
void defaultHandler(const std::string& message) {
  const std::string line = "seqcorvane: internal check failed: " + message + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::_Exit(2);
}

std::atomic<CheckHandler> handler{&defaultHandler};

}  // namespace

Error::Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

CheckHandler setCheckHandler(CheckHandler h) { return handler.exchange(h ? h : &defaultHandler); }

namespace detail {

void inputError(const std::string& message) { throw Error(Error::Kind::input, message); }
void modelError(const std::string& message) { throw Error(Error::Kind::model, message); }
void outputError(const std::string& message) { throw Error(Error::Kind::output, message); }

void checkFailed(const char* condition, const char* file, int line) {
  const std::string message = std::string(condition) + " (" + file + ":" + std::to_string(line) + ")";
  handler.load()(message);
  defaultHandler(message);  // a handler that returned: stop all the same
  std::_Exit(2);
}

}  // namespace detail

}  // namespace seqcorvane
