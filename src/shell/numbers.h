// Numbers, digests and memory sizes as the programs write and read them: the
// library's own, so that a table or report says what the library would.
#pragma once

#include <string>

namespace seqcorvane::shell {

// x in fixed notation with the given number of decimals.
std::string formatFixed(double x, int decimals);
// x as a stream writes it by default (six significant digits).
std::string formatGeneral(double x);
// The whole token as a number / a decimal integer; false when anything else is in it.
bool parseNumber(const std::string& token, double& value);
bool parseInteger(const std::string& token, long& value);
// FNV-1a (64 bits) of the text, as 16 hexadecimal digits.
std::string digestOf(const std::string& text);

// Memory this process may still use, in bytes, and bytes with a unit that
// shows them ("12.0 KiB", "3.4 MiB", "1.2 GiB").
double memoryAvailable();
std::string memoryText(double bytes);
// Throws Error (resources) when bytes, with 32 MiB for the rest of the
// program, exceed available: "<what> needs <n> of memory; <m> available".
void requireMemory(double bytes, double available, const std::string& what);

}  // namespace seqcorvane::shell
