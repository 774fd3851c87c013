#include "persist/form_values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace formvalue {

namespace {

int hexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<qint32> parseInt(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  // "0x1F" is read as "$1F"; a bare "0x" stays decimal text and fails.
  const bool zeroX = text.size() - i > 2 && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X');
  bool negative = false;
  if (!zeroX && i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  const bool hex = zeroX || (i < text.size() && text[i] == u'$');
  i += zeroX ? 2 : hex ? 1 : 0;
  if (i >= text.size()) return std::nullopt;
  quint64 v = 0;
  for (; i < text.size(); ++i) {
    if (hex) {
      const int d = hexDigit(text[i]);
      if (d < 0 || v > 0x0FFFFFFFu) return std::nullopt;
      v = v * 16 + quint64(d);
    } else {
      const char16_t u = text[i].unicode();
      if (u < '0' || u > '9') return std::nullopt;
      v = v * 10 + (u - '0');
      if (v > 0x80000000u) return std::nullopt;
    }
  }
  if (!hex && !negative && v > 0x7FFFFFFFu) return std::nullopt;
  // Two's complement in 32 bits: the hexadecimal range wraps, "-2147483648" fits exactly.
  quint32 bits = quint32(v);
  if (negative) bits = 0u - bits;
  return qint32(bits);
}

QString floatText(long double v, const FormatSettings& fs) {
  if (std::isnan(v)) return QStringLiteral("NAN");
  if (std::isinf(v)) return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
  if (v == 0) return QStringLiteral("0");
  // 15 significant digits, correctly rounded from the binary value. printf writes the C
  // library's decimal point between them, so only the ASCII digits and the exponent are read.
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%.14Le", std::fabs(v));
  std::string digits;
  int i = 0;
  for (; i < n && buf[i] != 'e'; ++i)
    if (buf[i] >= '0' && buf[i] <= '9') digits.push_back(buf[i]);
  int exp = std::atoi(buf + std::min(i + 1, n));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  QString out;
  if (v < 0) out.append(u'-');
  const int intDigits = exp + 1;  // digits left of the decimal point
  const int len = int(digits.size());
  if (intDigits > 15 || intDigits < -4) {
    out.append(QChar(char16_t(digits[0])));
    if (len > 1) {
      out.append(fs.decimalSeparator);
      out.append(QLatin1StringView(digits.data() + 1, len - 1));
    }
    out.append(u'E');
    if (exp < 0) out.append(u'-');
    out.append(QString::number(std::abs(exp)));
  } else if (intDigits <= 0) {
    out.append(u'0');
    out.append(fs.decimalSeparator);
    out.append(QString(-intDigits, u'0'));
    out.append(QLatin1StringView(digits.data(), len));
  } else {
    out.append(QLatin1StringView(digits.data(), std::min(len, intDigits)));
    if (len < intDigits) out.append(QString(intDigits - len, u'0'));
    if (len > intDigits) {
      out.append(fs.decimalSeparator);
      out.append(QLatin1StringView(digits.data() + intDigits, len - intDigits));
    }
  }
  return out;
}

std::optional<long double> parseFloat(QStringView text, const FormatSettings& fs) {
  text = text.trimmed();
  std::string s;
  s.reserve(size_t(text.size()));
  for (QChar c : text) {
    const char16_t u = c.unicode();
    // The program never writes grouping, so either separator is the decimal one: a station set
    // up under a Russian desktop ("-7,5") and run by a service without a locale reads its files.
    if (c == fs.decimalSeparator || u == ',' || u == '.')
      s.push_back('.');
    else if ((u >= '0' && u <= '9') || u == '-' || u == '+' || u == 'e' || u == 'E')
      s.push_back(char(u));
    else
      return std::nullopt;
  }
  return parseDecimal(s);
}

QString gridCellKey(const QString& gridName, int col, int row) {
  return gridName + QStringLiteral("%1%2").arg(col, 4, 10, QChar(u'0')).arg(row, 4, 10, QChar(u'0'));
}

}  // namespace formvalue
