// Failure reporting shared by every module.
//
// Two kinds of failure are kept apart:
//  - fatalError: an expected failure that a user can reach (a bad file, an
//    unwritable output path, a run too large for the memory). Default: one
//    line "seqcorvane: error: <message>" on standard error, exit status 1.
//  - SC_CHECK: a broken internal invariant. Never compiled out. Default: the
//    condition's text with its source position, exit status 2.
// Both go through one replaceable handler, so that a caller that runs the
// machine in-process (a test, a tool, the batch program) decides what a
// failure does; only the default handler ends the process. A handler must not
// return: it ends the process or throws.
#pragma once

#include <string>

enum class FailureKind {
  userError,      // message without the program's prefix and newline
  userVerbatim,   // the whole text to print, newlines included
  internalCheck,  // the failed condition and its source position
};

using FailureHandler = void (*)(FailureKind kind, const std::string& message);

// Installs a handler and returns the one it replaces; nullptr restores the default.
FailureHandler setFailureHandler(FailureHandler handler);

// The program name used by the default handler's messages ("seqcorvane").
void setProgramName(const std::string& name);

[[noreturn]] void fatalError(const std::string& message);
// A user's error reported in a text of its own: printed exactly as given, exit status 1.
[[noreturn]] void fatalErrorVerbatim(const std::string& text);
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

#define SC_CHECK(cond) ((cond) ? static_cast<void>(0) : checkFailed(#cond, __FILE__, __LINE__))
