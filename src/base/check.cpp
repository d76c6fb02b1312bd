#include "check.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::string programName = "seqcorvane";

// The default: one line on standard error, then the end of the process
// (status 2). Written with write(2): the report's buffered stream is the
// programs' business.
void defaultHandler(const std::string& message) {
  const std::string line = programName + ": internal check failed: " + message + "\n";
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::_Exit(2);
}

std::atomic<seqcorvane::CheckHandler> handler{&defaultHandler};

}  // namespace

namespace seqcorvane {

Error::Error(Kind kind, const std::string& message, bool verbatim)
    : std::runtime_error(message), kind_(kind), verbatim_(verbatim) {}

CorruptPathError::CorruptPathError(std::string letters_, long i_, long j_, int state_)
    : Error(Kind::input, "alignment trace met a cell without predecessor at (" + std::to_string(i_) + "," +
                             std::to_string(j_) + ") in state " + std::to_string(state_)),
      letters(std::move(letters_)),
      i(i_),
      j(j_),
      state(state_) {}

CheckHandler setCheckHandler(CheckHandler h) { return handler.exchange(h ? h : &defaultHandler); }

}  // namespace seqcorvane

void setProgramName(const std::string& name) { programName = name; }

void fatalError(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::input, message); }
void modelError(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::model, message); }
void outputError(const std::string& message) { throw seqcorvane::Error(seqcorvane::Error::Kind::output, message); }
void modelErrorVerbatim(const std::string& text) {
  throw seqcorvane::Error(seqcorvane::Error::Kind::model, text, true);
}

void checkFailed(const char* condition, const char* file, int line) {
  const std::string message = std::string(condition) + " (" + file + ":" + std::to_string(line) + ")";
  handler.load()(message);
  defaultHandler(message);  // a handler that returned: stop all the same
  std::_Exit(2);
}
