#pragma once
// Reading one SCPI program message (one line without its LF) into program message units:
// headers split into their nodes, parameters into numbers (with their unit suffix),
// mnemonics and strings. Pure text work, no Qt, so it is tested and fuzzed on its own.

#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// One header node as sent: the mnemonic upper-cased without its numeric suffix
// ("SOURce2" gives "SOURCE" and 2); suffix -1 when none was written.
struct HeaderNode {
  std::string mnemonic;
  int suffix = -1;
};

enum class ParamKind { Number, Mnemonic, String };

struct Parameter {
  ParamKind kind = ParamKind::Number;
  long double number = 0;  // Number: +-inf when the exponent is beyond long double
  std::string suffix;      // Number: its unit suffix upper-cased ("MHZ"), empty when none
  std::string text;        // Mnemonic: upper-cased; String: the content, doubled quotes undone
};

struct Unit {
  bool common = false;    // "*IDN?": nodes holds one node, "IDN"
  bool query = false;     // the header ended with '?'
  bool absolute = false;  // the header began with ':' (from the root, not from the last path)
  std::vector<HeaderNode> nodes;
  std::vector<Parameter> params;
};

struct ParsedLine {
  std::vector<Unit> units;
  // The error code of the syntax fault that ended the reading (0: none). The units before the
  // fault are complete and are run; the fault is reported where they end.
  int error = 0;
};

// CR, NUL and the other control characters but LF are white space (lines may end CR LF).
// Empty units (";;") are skipped.
ParsedLine parseLine(std::string_view line);

// The same, one unit at a time: a line of thousands of units costs its reading in the slices
// it is run in, not in one piece before its first unit.
class UnitReader {
 public:
  explicit UnitReader(std::string_view line = {});
  // The next unit: true; false at the end of the line or at a syntax fault (then error()).
  bool next(Unit& unit);
  int error() const { return error_; }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
  int error_ = 0;
  bool done_ = false;
};

// Upper-case ASCII.
std::string upper(std::string_view s);

}  // namespace scpi
