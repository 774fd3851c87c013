#include "remote/scpi_values.h"

#include <cmath>
#include <cstdio>

#include "remote/scpi_errors.h"
#include "remote/scpi_tree.h"

namespace scpi {

long double suffixFactor(std::string_view s, Quantity unit) {
  switch (unit) {
    case Quantity::None: return 0;
    case Quantity::Microsecond:
      if (s == "S") return 1e6L;
      if (s == "MS") return 1e3L;
      if (s == "US") return 1;
      if (s == "NS") return 1e-3L;
      return 0;
    case Quantity::Megahertz:
      if (s == "HZ") return 1e-6L;
      if (s == "KHZ") return 1e-3L;
      if (s == "MHZ") return 1;
      return 0;
    case Quantity::Kilohertz:
      if (s == "HZ") return 1e-3L;
      if (s == "KHZ") return 1;
      if (s == "MHZ") return 1e3L;
      return 0;
    case Quantity::Decibel: return s == "DB" ? 1 : 0;
    case Quantity::Percent: return s == "PCT" ? 1 : 0;
    case Quantity::Volt: return s == "V" ? 1 : 0;
  }
  return 0;
}

int readNumber(const Parameter& p, const NumericLimits& limits, long double& out) {
  if (p.kind == ParamKind::Mnemonic) {
    if (p.text == "MIN" || p.text == "MINIMUM")
      out = limits.min;
    else if (p.text == "MAX" || p.text == "MAXIMUM")
      out = limits.max;
    else if (p.text == "DEF" || p.text == "DEFAULT")
      out = limits.def;
    else
      return IllegalParameterValue;
    return 0;
  }
  if (p.kind != ParamKind::Number) return ParameterError;
  long double v = p.number;
  if (!p.suffix.empty()) {
    const long double f = suffixFactor(p.suffix, limits.unit);
    if (f == 0) return InvalidSuffix;
    // Dividing by an exact power of ten keeps "100 NS" at 0.1 exactly as typed would.
    v = f < 1 ? v / (1 / f) : v * f;
  }
  if (!std::isfinite(v)) return DataOutOfRange;  // the noise below would let infinity pass
  if (limits.integer) v = std::round(v);
  // The field's own comparison: 80-bit parsing against limits from double literals must not
  // refuse a limit itself (0.1 against 0.1L).
  const long double scale = std::fabs(limits.max - limits.min);
  const long double noise = (std::fabs(v) + scale) * 1e-15L;
  if (!(v >= limits.min - noise && v <= limits.max + noise)) return DataOutOfRange;
  out = v;
  return 0;
}

int readBool(const Parameter& p, bool& out) {
  if (p.kind == ParamKind::Mnemonic) {
    if (p.text == "ON") {
      out = true;
      return 0;
    }
    if (p.text == "OFF") {
      out = false;
      return 0;
    }
    return IllegalParameterValue;
  }
  if (p.kind != ParamKind::Number) return ParameterError;
  if (!p.suffix.empty()) return InvalidSuffix;
  if (!std::isfinite(p.number)) return DataOutOfRange;
  out = std::nearbyint(p.number) != 0;
  return 0;
}

int readChoice(const Parameter& p, std::string_view keywords, int& index) {
  if (p.kind != ParamKind::Mnemonic) return ParameterError;
  const Pattern pattern = compilePattern(keywords);
  if (pattern.empty()) return IllegalParameterValue;
  const auto& kws = pattern[0].keywords;
  for (std::size_t k = 0; k < kws.size(); ++k) {
    if (p.text == kws[k].shortForm || p.text == kws[k].longForm) {
      index = int(k);
      return 0;
    }
  }
  return IllegalParameterValue;
}

std::string shortKeyword(std::string_view keywords, int index) {
  const Pattern pattern = compilePattern(keywords);
  if (pattern.empty() || index < 0 || std::size_t(index) >= pattern[0].keywords.size()) return {};
  return pattern[0].keywords[std::size_t(index)].shortForm;
}

int expectParams(const std::vector<Parameter>& params, std::size_t n) {
  if (params.size() < n) return MissingParameter;
  if (params.size() > n) return ParameterNotAllowed;
  return 0;
}

int readLimitQuery(const std::vector<Parameter>& params, int& which) {
  which = 0;
  if (params.empty()) return 0;
  if (params.size() > 1) return ParameterNotAllowed;
  const Parameter& p = params[0];
  if (p.kind != ParamKind::Mnemonic) return ParameterError;
  if (p.text == "MIN" || p.text == "MINIMUM")
    which = 1;
  else if (p.text == "MAX" || p.text == "MAXIMUM")
    which = 2;
  else if (p.text == "DEF" || p.text == "DEFAULT")
    which = 3;
  else
    return IllegalParameterValue;
  return 0;
}

std::string formatNumber(long double v, int decimals) {
  char buf[64];
  if (decimals >= 0) {
    std::snprintf(buf, sizeof buf, "%.*Lf", decimals, v);
  } else {
    std::snprintf(buf, sizeof buf, "%.7Lg", v);
  }
  std::string s(buf);
  // The C library follows the process locale once Qt has set it: a decimal comma must
  // not reach a client.
  for (char& c : s)
    if (c == ',') c = '.';
  if (s == "-0" || s.rfind("-0.", 0) == 0) {
    bool zero = true;
    for (char c : s)
      if (c >= '1' && c <= '9') zero = false;
    if (zero) s.erase(0, 1);
  }
  return s;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace scpi
