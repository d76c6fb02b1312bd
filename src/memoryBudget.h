// How much memory this process may still use, for the check made before a
// large run starts.
#pragma once

#include <string>

// The least of: the address-space limit (RLIMIT_AS) less what the process
// has mapped now; the memory limit of its cgroup less the cgroup's current
// use; the physical memory available (MemAvailable plus free swap). In bytes.
double memoryAvailable();

// "12.3 GiB", for messages.
std::string gibText(double bytes);
