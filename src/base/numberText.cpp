#include "numberText.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>

namespace seqcorvane::detail {

char* writeFixed2(char* out, double x) {
  // Between 1 and 2^40 the digits come from the integer nearest to 100 x,
  // found exactly: x splits into two halves of 26 bits whose products with
  // 100 are exact, their sum is taken with its rounding error, and the error
  // decides the rounding of the fraction. Elsewhere the library writes it.
  if (!(x >= 1.0 && x < 1099511627776.0)) return std::to_chars(out, out + 330, x, std::chars_format::fixed, 2).ptr;
  const double split = 134217729.0 * x;  // (2^27 + 1) x
  const double xh = split - (split - x), xl = x - xh;
  const double a = xh * 100.0, b = xl * 100.0;
  const double s = a + b;
  const double bv = s - a;
  const double e = (a - (s - bv)) + (b - bv);  // a + b = s + e exactly
  const double whole = std::floor(s);
  const double f = s - whole;  // exact
  std::uint64_t n = static_cast<std::uint64_t>(whole);
  if (!(f == 0 && e <= 0)) {
    // the sign of (f - 1/2) + e, exactly: above a half rounds up, a half to even
    const double d = f - 0.5;
    const double hi = d + e;
    const double bd = hi - d;
    const double lo = (d - (hi - bd)) + (e - bd);
    const int sign = hi > 0 ? 1 : hi < 0 ? -1 : (lo > 0 ? 1 : lo < 0 ? -1 : 0);
    if (sign > 0 || (sign == 0 && (n & 1))) ++n;
  }
  char digits[24];
  char* p = digits + sizeof digits;
  const unsigned cents = static_cast<unsigned>(n % 100);
  n /= 100;
  *--p = static_cast<char>('0' + cents % 10);
  *--p = static_cast<char>('0' + cents / 10);
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  const std::size_t len = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, len);
  return out + len;
}

std::string formatGeneral(double x) {
  std::ostringstream ss;
  ss << x;
  return ss.str();
}

std::string formatFixed(double x, int decimals) {
  std::ostringstream ss;
  ss << std::fixed << std::setprecision(decimals) << x;
  return ss.str();
}

namespace {
// A leading '+' (which from_chars does not take) is skipped when a digit or
// point follows.
const char* afterPlus(const std::string& token) {
  const char* p = token.data();
  if (token.size() > 1 && p[0] == '+' && p[1] != '-' && p[1] != '+') ++p;
  return p;
}
}  // namespace

bool parseNumber(const std::string& token, double& value) {
  const char* first = afterPlus(token);
  const char* last = token.data() + token.size();
  if (first == last) return false;
  const auto r = std::from_chars(first, last, value, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == last;
}

bool parseInteger(const std::string& token, long& value) {
  const char* first = afterPlus(token);
  const char* last = token.data() + token.size();
  if (first == last) return false;
  const auto r = std::from_chars(first, last, value, 10);
  return r.ec == std::errc() && r.ptr == last;
}

}  // namespace seqcorvane::detail
