#include "check.h"

#include <atomic>
#include <cstdlib>
#include <iostream>

namespace {

std::string programName = "seqcorvane";

// The default: flush the report printed so far, one line on standard error,
// end the process (1 for a user's error, 2 for a broken invariant).
void defaultHandler(FailureKind kind, const std::string& message) {
  std::cout.flush();
  if (kind == FailureKind::userVerbatim) {
    std::cerr << message << std::flush;
    std::exit(1);
  }
  if (kind == FailureKind::userError) {
    std::cerr << programName << ": error: " << message << std::endl;
    std::exit(1);
  }
  std::cerr << programName << ": internal check failed: " << message << std::endl;
  std::exit(2);
}

std::atomic<FailureHandler> handler{&defaultHandler};

[[noreturn]] void fail(FailureKind kind, const std::string& message) {
  handler.load()(kind, message);
  defaultHandler(kind, message);  // a handler that returned: stop all the same
  std::abort();
}

}  // namespace

FailureHandler setFailureHandler(FailureHandler h) { return handler.exchange(h ? h : &defaultHandler); }

void setProgramName(const std::string& name) { programName = name; }

void fatalError(const std::string& message) { fail(FailureKind::userError, message); }

void fatalErrorVerbatim(const std::string& text) { fail(FailureKind::userVerbatim, text); }

void checkFailed(const char* condition, const char* file, int line) {
  fail(FailureKind::internalCheck, std::string(condition) + " (" + file + ":" + std::to_string(line) + ")");
}
