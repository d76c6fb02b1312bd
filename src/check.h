// Failure reporting shared by every module.
//
// Two kinds of failure are kept apart:
//  - fatalError: an expected failure that a user can reach (a bad file, an
//    unwritable output path). One line "seqcorvane: error: <message>" on
//    standard error, exit status 1.
//  - SC_CHECK: a broken internal invariant. Never compiled out. Prints the
//    condition's text with its source position and exits with status 2.
// Standard output is flushed first in both cases so that the report printed
// so far is not lost or interleaved.
#pragma once

#include <string>

[[noreturn]] void fatalError(const std::string& message);
[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

#define SC_CHECK(cond) ((cond) ? static_cast<void>(0) : checkFailed(#cond, __FILE__, __LINE__))
