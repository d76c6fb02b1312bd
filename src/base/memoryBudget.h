// The memory this process may still use, and the refusal of a run that needs
// more.
#pragma once

#include <string>

namespace seqcorvane::detail {

// Bytes this process may still use: the least of the room under its
// address-space limit, under its cgroup's limit, and the memory available
// (with free swap).
double memoryAvailable();
// Bytes for messages with a unit that shows them: "512 bytes", "12.0 KiB",
// "3.4 MiB", "1.2 GiB".
std::string memoryText(double bytes);
// Throws Error (resources) when bytes, with 32 MiB for the rest of the
// program, exceed available: "<what> needs <n> of memory; <m> available".
void requireMemory(double bytes, double available, const std::string& what);

}  // namespace seqcorvane::detail
