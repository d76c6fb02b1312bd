// The project's check helper for the programs' own invariants: the same
// SC_CHECK as the library's, reaching the same check handler (installed by
// runProgram), without the library's internal headers.
#pragma once

namespace seqcorvane::shell {

[[noreturn]] void checkFailed(const char* condition, const char* file, int line);

}  // namespace seqcorvane::shell

#ifndef SC_CHECK
#define SC_CHECK(cond) ((cond) ? static_cast<void>(0) : ::seqcorvane::shell::checkFailed(#cond, __FILE__, __LINE__))
#endif
