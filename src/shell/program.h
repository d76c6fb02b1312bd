// What every program of the project does alike around its own work: how it
// ends on a failure, and with which status.
#pragma once

#include <functional>
#include <string>

namespace seqcorvane::shell {

// Runs a program's body and returns its exit status. A write that fails (a
// full disk, a file size limit, a closed pipe) is reported by the writer,
// never ends the process by a signal. A problem with the input, the models,
// an output or the memory (seqcorvane::Error) is one line on standard error,
// "<name>: error: <message>" (a message of several lines, ending with a
// newline, as it stands), after the report printed so far, and status 1; so
// are a failed allocation and any other exception. A broken internal
// invariant is "<name>: internal check failed: <condition> (<source>)" and
// status 2. A report that did not reach standard output is a failure too.
int runProgram(const std::string& name, const std::function<int()>& body);

// The line of a failure on standard error (after flushing standard output).
void printError(const std::string& name, const std::string& message);

}  // namespace seqcorvane::shell
