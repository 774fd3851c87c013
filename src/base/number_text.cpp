#include "base/number_text.h"

#include <QLocale>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

// ---------------------------------------------------------------------------------------------------------
// Separators

FormatSettings FormatSettings::fromSystem() {
  const QLocale loc = QLocale::system();
  const QString dec = loc.decimalPoint();
  const QString group = loc.groupSeparator();
  FormatSettings fs;
  fs.decimalSeparator = dec.isEmpty() ? QChar(u'.') : dec.front();
  if (!group.isEmpty() && group.front() != fs.decimalSeparator)
    fs.thousandSeparator = group.front();
  else
    fs.thousandSeparator = fs.decimalSeparator == u',' ? QChar(u'\u00A0') : QChar(u',');
  return fs;
}

FormatSettings FormatSettings::russian() { return {u',', u'\u00A0'}; }

FormatSettings FormatSettings::point() { return {u'.', u','}; }

namespace {

FormatSettings& appSettingsStorage() {
  static FormatSettings settings = FormatSettings::fromSystem();
  return settings;
}

}  // namespace

const FormatSettings& appFormatSettings() { return appSettingsStorage(); }

void setAppFormatSettings(const FormatSettings& fs) { appSettingsStorage() = fs; }

// ---------------------------------------------------------------------------------------------------------
// Decimal digits of a long double

namespace {

constexpr int kSignificant = 18;  // what the 64-bit significand carries, and what the device tables hold

// value = 0.d[0]d[1]...d[len-1] * 10^pointPos, no leading or trailing zero digits; len == 0 is zero.
struct Digits {
  char d[kSignificant + 2];
  int len = 0;
  int pointPos = 0;

  bool isZero() const { return len == 0; }
  // Digit at index i of the significant string; zeros outside it.
  char at(int i) const { return i >= 0 && i < len ? d[i] : '0'; }

  void stripTrailingZeros() {
    while (len > 0 && d[len - 1] == '0') --len;
    if (len == 0) pointPos = 0;
  }

  // Keeps `keep` significant digits, the dropped part rounded half away from zero.
  // keep <= 0 drops everything: a value below half a unit becomes zero, exactly half rounds up.
  void roundTo(int keep) {
    if (keep >= len) return;
    if (keep < 0) {
      len = 0;
      pointPos = 0;
      return;
    }
    const bool up = d[keep] >= '5';
    len = keep;
    if (up) {
      int i = keep - 1;
      while (i >= 0 && d[i] == '9') --i;
      if (i < 0) {
        d[0] = '1';
        len = 1;
        ++pointPos;
      } else {
        ++d[i];
        len = i + 1;
      }
    }
    stripTrailingZeros();
  }
};

// |v| to 18 significant digits, correctly rounded from the exact binary value (glibc printf is exact).
// printf puts the LC_NUMERIC decimal point between the digits (Qt sets LC_NUMERIC from the
// environment, and it may even be a multibyte character), so only the ASCII digits are read.
Digits toDigits(long double v) {
  Digits r;
  v = std::fabs(v);
  if (v == 0) return r;
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%.*Le", kSignificant - 1, v);
  int i = 0;
  for (; i < n && buf[i] != 'e'; ++i)
    if (buf[i] >= '0' && buf[i] <= '9' && r.len < kSignificant) r.d[r.len++] = buf[i];
  int exp = 0;
  bool negExp = false;
  if (i < n) ++i;  // 'e'
  if (i < n && (buf[i] == '-' || buf[i] == '+')) negExp = buf[i++] == '-';
  for (; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i) exp = exp * 10 + (buf[i] - '0');
  r.pointPos = (negExp ? -exp : exp) + 1;
  r.stripTrailingZeros();
  return r;
}

// ---------------------------------------------------------------------------------------------------------
// Picture formatter

bool isQuote(QChar c) { return c == u'\'' || c == u'"'; }

// Index just past the quoted run starting at `open` (an unterminated quote runs to the end).
qsizetype skipQuoted(QStringView s, qsizetype open) {
  qsizetype i = open + 1;
  while (i < s.size() && s[i] != s[open]) ++i;
  return i < s.size() ? i + 1 : i;
}

// One section of a pattern, as the scan of its characters found it.
struct Picture {
  int intCount = 0;  // '0'/'#' before the decimal point
  int mandInt = 0;   // integer digits always printed (from the first '0' on)
  int decCount = 0;  // '0'/'#' after the decimal point
  int mandDec = 0;   // decimals always printed (up to the last '0')
  qsizetype pointAt = -1;
  qsizetype firstPh = -1, lastPh = -1;  // first and last mantissa placeholder; ',' between them groups
  qsizetype expAt = -1, expEnd = -1;    // "E+00" occupies [expAt, expEnd)
  bool grouping = false;
  bool expSignAlways = false;
  int expDigits = 0;
};

Picture scanPicture(QStringView s) {
  Picture p;
  int firstZeroInt = -1;
  bool commaSeen = false;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (isQuote(c)) {
      i = skipQuoted(s, i) - 1;
      continue;
    }
    if (c == u'0' || c == u'#') {
      if (p.firstPh < 0) p.firstPh = i;
      p.lastPh = i;
      if (commaSeen) p.grouping = true;
      if (p.pointAt < 0) {
        if (c == u'0' && firstZeroInt < 0) firstZeroInt = p.intCount;
        ++p.intCount;
      } else {
        ++p.decCount;
        if (c == u'0') p.mandDec = p.decCount;
      }
    } else if (c == u'.' && p.pointAt < 0) {
      p.pointAt = i;
    } else if (c == u',' && p.firstPh >= 0) {
      commaSeen = true;
    } else if ((c == u'E' || c == u'e') && p.firstPh >= 0 && i + 1 < s.size() &&
               (s[i + 1] == u'+' || s[i + 1] == u'-')) {
      p.expAt = i;
      p.expSignAlways = s[i + 1] == u'+';
      qsizetype j = i + 2;
      while (j < s.size() && s[j] == u'0') ++j;
      p.expDigits = int(j - i - 2);
      p.expEnd = j;
      break;  // everything after the exponent is copied as it stands
    }
  }
  p.mandInt = firstZeroInt < 0 ? 0 : p.intCount - firstZeroInt;
  return p;
}

// Splits a pattern at the ';' outside quotes; a fourth and later sections are ignored.
int splitSections(QStringView pattern, QStringView (&sections)[3]) {
  int count = 0;
  qsizetype start = 0;
  for (qsizetype i = 0; i < pattern.size() && count < 2;) {
    if (isQuote(pattern[i])) {
      i = skipQuoted(pattern, i);
    } else if (pattern[i] == u';') {
      sections[count++] = pattern.mid(start, i - start);
      start = ++i;
    } else {
      ++i;
    }
  }
  qsizetype end = start;
  while (end < pattern.size()) {
    if (isQuote(pattern[end]))
      end = skipQuoted(pattern, end);
    else if (pattern[end] == u';')
      break;
    else
      ++end;
  }
  sections[count++] = pattern.mid(start, end - start);
  return count;
}

void appendAscii(QString& out, const char* s, int n) {
  for (int i = 0; i < n; ++i) out.append(QChar(char16_t(s[i])));
}

// Renders digits (already rounded to what the picture shows) into the section.
// exp10 is the exponent to print in scientific pictures; negative asks for the automatic '-'.
void render(QString& out, QStringView s, const Picture& p, const Digits& x, int exp10, bool negative,
            const FormatSettings& fs) {
  // Integer digits of the number: the leading ones beyond the placeholders go to the first placeholder.
  const int intDigits = std::max(x.pointPos, 0);
  int shownDec = p.decCount;
  while (shownDec > p.mandDec && x.at(x.pointPos + shownDec - 1) == '0') --shownDec;

  bool started = false;
  auto startNumber = [&] {
    if (started) return;
    started = true;
    if (negative) out.append(u'-');
  };
  // The digit `pos` places left of the decimal point (0 = units), with its group separator.
  auto putIntDigit = [&](int pos) {
    startNumber();
    out.append(QChar(char16_t(x.at(intDigits - 1 - pos))));
    if (p.grouping && pos > 0 && pos % 3 == 0) out.append(fs.thousandSeparator);
  };

  int intSeen = 0, decSeen = 0;
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (isQuote(c)) {
      const qsizetype end = skipQuoted(s, i);
      const qsizetype close = end > i + 1 && s[end - 1] == c ? end - 1 : end;
      out.append(s.mid(i + 1, close - i - 1));
      i = end - 1;
      continue;
    }
    if (i == p.expAt) {
      out.append(c);
      const bool expNeg = exp10 < 0;
      if (expNeg)
        out.append(u'-');
      else if (p.expSignAlways)
        out.append(u'+');
      char buf[16];
      const int n = std::snprintf(buf, sizeof buf, "%0*d", p.expDigits, expNeg ? -exp10 : exp10);
      appendAscii(out, buf, n);
      i = p.expEnd - 1;
      continue;
    }
    const bool inMantissa = p.expAt < 0 || i < p.expAt;
    if (inMantissa && (c == u'0' || c == u'#')) {
      if (p.pointAt < 0 || i < p.pointAt) {
        const int pos = p.intCount - 1 - intSeen;
        if (intSeen++ == 0)
          for (int q = intDigits - 1; q > pos; --q) putIntDigit(q);
        if (pos < intDigits) {
          putIntDigit(pos);
        } else if (pos < p.mandInt) {
          startNumber();
          out.append(u'0');
          if (p.grouping && pos > 0 && pos % 3 == 0) out.append(fs.thousandSeparator);
        }
      } else {
        if (decSeen < shownDec) out.append(QChar(char16_t(x.at(x.pointPos + decSeen))));
        ++decSeen;
      }
    } else if (inMantissa && i == p.pointAt) {
      if (p.intCount == 0)
        for (int q = intDigits - 1; q >= 0; --q) putIntDigit(q);
      if (shownDec > 0) {
        startNumber();
        out.append(fs.decimalSeparator);
      }
    } else if (inMantissa && c == u',' && i > p.firstPh && i < p.lastPh) {
      // grouping marker, not printed
    } else {
      out.append(c);
    }
  }
}

// Rounds |value| to what the picture shows. Returns the exponent to print for scientific pictures.
int roundForPicture(Digits& x, const Picture& p) {
  if (p.expAt < 0) {
    x.roundTo(x.pointPos + p.decCount);
    return 0;
  }
  x.roundTo(std::max(p.intCount + p.decCount, 1));
  if (x.isZero()) return 0;
  const int exp10 = x.pointPos - p.intCount;
  x.pointPos = p.intCount;
  return exp10;
}

// An empty pattern: 15 significant digits, plain within 1e-5..1e15, otherwise "1.5E+20".
QString formatGeneral(long double value, const FormatSettings& fs) {
  Digits x = toDigits(value);
  x.roundTo(15);
  if (x.isZero()) return QStringLiteral("0");
  QString out;
  if (value < 0) out.append(u'-');
  const int e = x.pointPos - 1;
  if (e >= -5 && e < 15) {
    for (int i = 0; i < x.pointPos; ++i) out.append(QChar(char16_t(x.at(i))));
    if (x.pointPos <= 0) out.append(u'0');
    if (x.len > x.pointPos) {
      out.append(fs.decimalSeparator);
      for (int i = x.pointPos; i < x.len; ++i) out.append(QChar(char16_t(x.at(i))));
    }
  } else {
    out.append(QChar(char16_t(x.d[0])));
    if (x.len > 1) {
      out.append(fs.decimalSeparator);
      appendAscii(out, x.d + 1, x.len - 1);
    }
    char buf[16];
    appendAscii(out, buf, std::snprintf(buf, sizeof buf, "E%+d", e));
  }
  return out;
}

}  // namespace

QString formatFloat(QStringView pattern, long double value, const FormatSettings& fs) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");

  QStringView sections[3];
  const int count = splitSections(pattern, sections);
  auto present = [&](int k) { return k < count && !sections[k].isEmpty(); };

  int k = 0;
  if (value < 0 && present(1))
    k = 1;
  else if (value == 0 && present(2))
    k = 2;
  if (!present(k)) return formatGeneral(value, fs);

  Picture p = scanPicture(sections[k]);
  Digits x = toDigits(value);
  int exp10 = roundForPicture(x, p);
  // Only the positive section gets an automatic minus; the negative one spells its own.
  bool negative = value < 0 && k == 0;
  if (x.isZero() && k != 2) {
    // Shows only zeros: never "-0.00"; the zero section if there is one.
    negative = false;
    if (present(2)) {
      k = 2;
      p = scanPicture(sections[k]);
    } else if (k == 1) {
      k = 0;
      p = scanPicture(sections[k]);
    }
    x = Digits();
    exp10 = 0;
  }

  QString out;
  out.reserve(sections[k].size() + std::max(x.pointPos, 0) * 4 / 3 + 8);
  render(out, sections[k], p, x, exp10, negative, fs);
  return out;
}

// ---------------------------------------------------------------------------------------------------------
// Parsers

// Device counts need the x87 extended type on every platform (MinGW's long double is it too).
static_assert(LDBL_MANT_DIG == 64, "long double must be the 80-bit extended type");

namespace {

// Short texts are converted from the stack; the command-line tools feed millions of lines through here.
class CharBuffer {
 public:
  explicit CharBuffer(size_t len) {
    if (len + 1 > sizeof small_) {
      big_.resize(len + 1);
      p_ = big_.data();
    }
  }
  CharBuffer(const CharBuffer&) = delete;
  CharBuffer& operator=(const CharBuffer&) = delete;
  char* data() { return p_; }

 private:
  char small_[128];
  std::string big_;
  char* p_ = small_;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The C library reads the decimal point of the process's locale (Qt sets it from the
// environment: a Russian one reads "1.5" as 1), and a per-call C locale (strtold_l) does not
// exist everywhere. A number without a point reads the same in every locale, so the point is
// moved into the exponent: "-12.5e3" becomes "-125e2". strtold then rounds the whole digit
// string once, to the 64-bit mantissa of the extended type, as it would the original.
// s[0..len) is [-+]?d*(.d*)?([eE][-+]?d+)? with a mantissa digit, already checked.
long double convertChecked(const char* s, size_t len) {
  CharBuffer buf(len + 24);
  char* out = buf.data();
  size_t n = 0;
  size_t i = 0;
  if (s[i] == '-' || s[i] == '+') out[n++] = s[i++];
  long long shift = 0;  // digits after the point, taken off the exponent
  bool afterPoint = false;
  for (; i < len && s[i] != 'e' && s[i] != 'E'; ++i) {
    if (s[i] == '.') {
      afterPoint = true;
      continue;
    }
    out[n++] = s[i];
    if (afterPoint) ++shift;
  }
  long long exponent = 0;
  if (i < len) {
    ++i;
    const bool negative = s[i] == '-';
    if (s[i] == '-' || s[i] == '+') ++i;
    // Far beyond any extended value (about 1e+-4951 with the longest digit strings a field takes);
    // saturating keeps the sum from overflowing.
    constexpr long long kSaturated = 1000000000LL;
    for (; i < len; ++i) exponent = std::min(kSaturated, exponent * 10 + (s[i] - '0'));
    if (negative) exponent = -exponent;
  }
  exponent -= shift;
  if (exponent != 0) n += size_t(std::snprintf(out + n, 24, "e%lld", exponent));
  out[n] = '\0';
  return std::strtold(out, nullptr);
}

// s[0..len) must be [-+]?d*(.d*)?([eE][-+]?d+)? with at least one mantissa digit. With
// emptyExponentIsZero an exponent without digits ("1E", "1E-") is cut off instead of rejected,
// and a number beyond the extended range gives +-infinity instead of nullopt.
std::optional<long double> convert(char* s, size_t len, bool fieldText) {
  const bool emptyExponentIsZero = fieldText;
  size_t i = 0;
  if (i < len && (s[i] == '-' || s[i] == '+')) ++i;
  size_t mantDigits = 0;
  for (; i < len && isDigit(s[i]); ++i) ++mantDigits;
  if (i < len && s[i] == '.')
    for (++i; i < len && isDigit(s[i]); ++i) ++mantDigits;
  if (mantDigits == 0) return std::nullopt;
  size_t end = i;
  if (i < len && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < len && (s[i] == '-' || s[i] == '+')) ++i;
    size_t expDigits = 0;
    for (; i < len && isDigit(s[i]); ++i) ++expDigits;
    if (expDigits > 0)
      end = i;
    else if (!emptyExponentIsZero)
      return std::nullopt;
  }
  if (i != len) return std::nullopt;
  const long double v = convertChecked(s, end);
  if (std::isinf(v) && !fieldText) return std::nullopt;
  return v;
}

}  // namespace

std::optional<long double> parseFieldText(QStringView text, const FormatSettings& fs) {
  CharBuffer buf(size_t(text.size()));
  char* s = buf.data();
  size_t len = 0;
  for (const QChar c : text) {
    if (c == fs.thousandSeparator) continue;
    if (c == fs.decimalSeparator) {
      s[len++] = '.';
      continue;
    }
    const char16_t u = c.unicode();
    if (!((u >= '0' && u <= '9') || u == '-' || u == '+' || u == 'e' || u == 'E')) return std::nullopt;
    s[len++] = char(u);
  }
  if (len == 0) return 0.0L;
  if (len == 1 && s[0] == '-') return -0.0L;
  return convert(s, len, true);
}

std::optional<long double> parseDecimal(std::string_view text) {
  CharBuffer buf(text.size());
  char* s = buf.data();
  text.copy(s, text.size());
  return convert(s, text.size(), false);
}
