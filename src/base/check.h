// Failure reporting shared by every module.
//
// Two kinds of failure are kept apart:
//  - an expected failure that a user can reach (a bad file, an unwritable
//    output path, a run too large for the memory) is thrown as
//    seqcorvane::Error with its one-line message; the programs catch it.
//  - SC_CHECK: a broken internal invariant. Never compiled out. It goes to
//    the check handler (seqcorvane::setCheckHandler): by default the
//    condition's text with its source position on standard error, exit
//    status 2.
#pragma once

#include <string>

#include "seqcorvane/seqcorvane.h"

[[noreturn]] void fatalError(const std::string& message);   // Error::Kind::input
[[noreturn]] void modelError(const std::string& message);   // Error::Kind::model
[[noreturn]] void outputError(const std::string& message);  // Error::Kind::output
// A user's error reported in a text of its own (several lines), shown as it stands.
[[noreturn]] void modelErrorVerbatim(const std::string& text);
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

// The program name of the default check handler's line ("seqcorvane").
void setProgramName(const std::string& name);

#define SC_CHECK(cond) ((cond) ? static_cast<void>(0) : checkFailed(#cond, __FILE__, __LINE__))
