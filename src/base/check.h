// Failure reporting shared by every layer.
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

namespace seqcorvane::detail {

[[noreturn]] void inputError(const std::string& message);   // Error::Kind::input
[[noreturn]] void modelError(const std::string& message);   // Error::Kind::model
[[noreturn]] void outputError(const std::string& message);  // Error::Kind::output
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

}  // namespace seqcorvane::detail

#ifndef SC_CHECK
#define SC_CHECK(cond) ((cond) ? static_cast<void>(0) : ::seqcorvane::detail::checkFailed(#cond, __FILE__, __LINE__))
#endif
