#include "remote/scpi_parser.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "remote/scpi_errors.h"

namespace scpi {

namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// IEEE 488.2 white space: every byte 0..32 but LF (which ends the line), so CR and NUL
// anywhere in a line separate as a blank does.
bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\n'; }
char toUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Reads one line; pos moves along. Each function returns an error code (0 when fine).
class Reader {
 public:
  explicit Reader(std::string_view s, std::size_t pos = 0) : s_(s), pos_(pos) {}

  ParsedLine read() {
    ParsedLine out;
    Unit u;
    while (next(u, out.error)) out.units.push_back(std::move(u));
    return out;
  }

  // The next unit: true; false at the end or at a fault (error set).
  bool next(Unit& u, int& error) {
    for (;;) {
      skipBlanks();
      if (atEnd()) return false;
      if (peek() != ';') break;
      ++pos_;  // an empty unit
    }
    u = Unit{};
    if ((error = readHeader(u)) != 0) return false;
    if ((error = readParameters(u)) != 0) return false;
    skipBlanks();
    if (!atEnd()) {
      if (peek() != ';') {
        error = SyntaxError;
        return false;
      }
      ++pos_;
    }
    return true;
  }
  std::size_t pos() const { return pos_; }

 private:
  bool atEnd() const { return pos_ >= s_.size(); }
  char peek() const { return s_[pos_]; }
  void skipBlanks() {
    while (!atEnd() && isBlank(peek())) ++pos_;
  }

  // Letters, then letters, digits and '_'; trailing digits are the numeric suffix.
  int readNode(HeaderNode& n) {
    if (atEnd() || !isAlpha(peek())) return SyntaxError;
    const std::size_t start = pos_;
    while (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '_')) ++pos_;
    std::size_t end = pos_;
    std::size_t digits = end;
    while (digits > start && isDigit(s_[digits - 1])) --digits;
    n.mnemonic = upper(s_.substr(start, digits - start));
    if (digits < end) {
      // A suffix longer than any channel number is no suffix of ours either; keep it
      // readable as "some other number" without overflowing.
      const std::string_view d = s_.substr(digits, end - digits);
      int v = 0;
      for (char c : d) v = v > 100000 ? v : v * 10 + (c - '0');
      n.suffix = v;
    }
    return 0;
  }

  int readHeader(Unit& u) {
    if (peek() == '*') {
      ++pos_;
      u.common = true;
      HeaderNode n;
      if (int e = readNode(n)) return e;
      u.nodes.push_back(std::move(n));
    } else {
      if (peek() == ':') {
        u.absolute = true;
        ++pos_;
      }
      for (;;) {
        HeaderNode n;
        if (int e = readNode(n)) return e;
        u.nodes.push_back(std::move(n));
        if (atEnd() || peek() != ':') break;
        ++pos_;
      }
    }
    if (!atEnd() && peek() == '?') {
      u.query = true;
      ++pos_;
    }
    // The header ends at a blank, a ';' or the end of the line.
    if (!atEnd() && !isBlank(peek()) && peek() != ';') return SyntaxError;
    return 0;
  }

  int readParameters(Unit& u) {
    skipBlanks();
    if (atEnd() || peek() == ';') return 0;
    for (;;) {
      Parameter p;
      if (int e = readParameter(p)) return e;
      u.params.push_back(std::move(p));
      skipBlanks();
      if (atEnd() || peek() == ';') return 0;
      if (peek() != ',') return SyntaxError;
      ++pos_;
      skipBlanks();
    }
  }

  int readParameter(Parameter& p) {
    if (atEnd()) return SyntaxError;
    const char c = peek();
    if (c == '"' || c == '\'') return readString(p, c);
    if (isDigit(c) || c == '+' || c == '-' || c == '.') return readNumber(p);
    if (c == '#') return readNonDecimal(p);
    if (isAlpha(c)) {
      const std::size_t start = pos_;
      while (!atEnd() && (isAlpha(peek()) || isDigit(peek()) || peek() == '_')) ++pos_;
      p.kind = ParamKind::Mnemonic;
      p.text = upper(s_.substr(start, pos_ - start));
      return 0;
    }
    return SyntaxError;
  }

  // #H hexadecimal, #Q octal, #B binary digits; no unit suffix. '#' blocks are not taken.
  int readNonDecimal(Parameter& p) {
    ++pos_;
    if (atEnd()) return SyntaxError;
    const char base = toUpper(peek());
    const int radix = base == 'H' ? 16 : base == 'Q' ? 8 : base == 'B' ? 2 : 0;
    if (radix == 0) return SyntaxError;
    ++pos_;
    long double v = 0;
    std::size_t digits = 0;
    for (; !atEnd(); ++pos_, ++digits) {
      const char c = toUpper(peek());
      const int d = isDigit(c) ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : radix;
      if (d >= radix) break;
      v = v * radix + d;  // beyond long double: infinite, refused by the range check
    }
    if (digits == 0) return SyntaxError;
    p.kind = ParamKind::Number;
    p.number = v;
    return 0;
  }

  int readString(Parameter& p, char quote) {
    ++pos_;
    p.kind = ParamKind::String;
    for (;;) {
      if (atEnd()) return SyntaxError;
      const char c = s_[pos_++];
      if (c == quote) {
        if (!atEnd() && peek() == quote) {
          p.text += quote;
          ++pos_;
          continue;
        }
        return 0;
      }
      p.text += c;
    }
  }

  // [+-] digits [. digits] [E [+-] digits], then an optional unit suffix (letters), which
  // may be set off by blanks.
  int readNumber(Parameter& p) {
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      ++pos_;
    }
    const std::size_t mantissa = pos_;
    std::size_t digits = 0;
    while (!atEnd() && isDigit(peek())) ++pos_, ++digits;
    if (!atEnd() && peek() == '.') {
      ++pos_;
      while (!atEnd() && isDigit(peek())) ++pos_, ++digits;
    }
    if (digits == 0) return SyntaxError;
    if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
      // "E" belongs to the number only when digits follow; "5 EXT" is no number anyway.
      std::size_t q = pos_ + 1;
      if (q < s_.size() && (s_[q] == '+' || s_[q] == '-')) ++q;
      if (q < s_.size() && isDigit(s_[q])) {
        pos_ = q;
        while (!atEnd() && isDigit(peek())) ++pos_;
      }
    }
    const std::string_view text = s_.substr(mantissa, pos_ - mantissa);
    long double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      // Beyond what long double holds (either way): infinite, so the range check refuses it.
      v = std::numeric_limits<long double>::infinity();
    } else if (r.ec != std::errc() || r.ptr != text.data() + text.size()) {
      return SyntaxError;
    }
    p.kind = ParamKind::Number;
    p.number = negative ? -v : v;
    // The unit suffix.
    std::size_t q = pos_;
    while (q < s_.size() && isBlank(s_[q])) ++q;
    if (q < s_.size() && isAlpha(s_[q])) {
      const std::size_t s0 = q;
      while (q < s_.size() && (isAlpha(s_[q]) || s_[q] == '/')) ++q;
      p.suffix = upper(s_.substr(s0, q - s0));
      pos_ = q;
    }
    return 0;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = toUpper(c);
  return out;
}

UnitReader::UnitReader(std::string_view line) : s_(line) {
  if (!s_.empty() && s_.back() == '\r') s_.remove_suffix(1);
}

bool UnitReader::next(Unit& unit) {
  if (done_) return false;
  Reader r(s_, pos_);
  const bool got = r.next(unit, error_);
  pos_ = r.pos();
  done_ = !got;
  return got;
}

ParsedLine parseLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return Reader(line).read();
}

}  // namespace scpi
