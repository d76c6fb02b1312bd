#include "numbers.h"

#include "digest.h"
#include "memoryBudget.h"
#include "numberText.h"

namespace seqcorvane::shell {

std::string formatFixed(double x, int decimals) { return detail::formatFixed(x, decimals); }
std::string formatGeneral(double x) { return detail::formatGeneral(x); }
bool parseNumber(const std::string& token, double& value) { return detail::parseNumber(token, value); }
bool parseInteger(const std::string& token, long& value) { return detail::parseInteger(token, value); }
std::string digestOf(const std::string& text) { return detail::digestOf(text); }
double memoryAvailable() { return detail::memoryAvailable(); }
std::string memoryText(double bytes) { return detail::memoryText(bytes); }
void requireMemory(double bytes, double available, const std::string& what) {
  detail::requireMemory(bytes, available, what);
}

}  // namespace seqcorvane::shell
