#pragma once
// Reading parameters for the tree's nodes and writing replies: numbers with MIN, MAX, DEF and
// unit suffixes, booleans, choices among keywords. Pure, no Qt.

#include <string>
#include <string_view>
#include <vector>

#include "remote/scpi_parser.h"

namespace scpi {

// The unit a node's value is kept in, and the suffixes it takes.
enum class Quantity {
  None,        // no suffix
  Microsecond, // S, MS, US, NS
  Megahertz,   // HZ, KHZ, MHZ
  Kilohertz,   // HZ, KHZ, MHZ
  Decibel,     // DB
  Percent,     // PCT
  Volt,        // V
};

struct NumericLimits {
  long double min = 0;
  long double max = 0;
  long double def = 0;
  Quantity unit = Quantity::None;
  // A whole-number field: the value is rounded (halves away from zero) before the limits are
  // checked, as the field itself takes a typed "50.4".
  bool integer = false;
};

// The value in the node's unit; MIN, MAX and DEF give the limits' values. A value outside
// min..max gives -222 (nothing is clamped). Checks only the kind of the one parameter.
int readNumber(const Parameter& p, const NumericLimits& limits, long double& out);
// A number's suffix to the node's unit: the factor, 0 when the suffix does not fit.
long double suffixFactor(std::string_view suffix, Quantity unit);

// ON, OFF, 1, 0 (a number is rounded; not 0 is ON).
int readBool(const Parameter& p, bool& out);

// One of the keywords, written "PULSe|ASERies|..." as in the tree; short or long form.
int readChoice(const Parameter& p, std::string_view keywords, int& index);

// The keyword at index in its short upper-case form ("PULS").
std::string shortKeyword(std::string_view keywords, int index);

// Exactly n parameters: -109 for fewer, -108 for more.
int expectParams(const std::vector<Parameter>& params, std::size_t n);

// A query's optional MIN, MAX or DEF: which one (0 none, 1 MIN, 2 MAX, 3 DEF), or an error.
int readLimitQuery(const std::vector<Parameter>& params, int& which);

// A reply number with a point, whatever the locale; decimals < 0: shortest exact-looking form.
std::string formatNumber(long double v, int decimals);

// A string reply in double quotes, inner quotes doubled.
std::string quoted(std::string_view text);

}  // namespace scpi
