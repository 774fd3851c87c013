#include "widgets/real_text_format.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kMaxExponent = 4932;  // the largest decimal exponent of the 80-bit extended type

QString repeated(QChar c, int n) { return n > 0 ? QString(n, c) : QString(); }

QString engineeringText(long double value, int decimals, const FormatSettings& fs) {
  const int exponent = 3 * int(std::trunc(std::log10(std::fabs(value)) / 3));
  // In two halves: 10^4932 alone is finite, 10^-4950 would not be.
  const int half = exponent / 2;
  const long double mantissa = value / std::pow(10.0L, half) / std::pow(10.0L, exponent - half);
  // 15 significant digits in all: one to three of them before the point.
  int digits = 14;
  if (std::fabs(mantissa) > 99)
    digits = 12;
  else if (std::fabs(mantissa) > 9)
    digits = 13;
  if (decimals != kFreeDecimals) digits = std::min(digits, decimals);
  QString pattern = QStringLiteral("0");
  if (decimals == kFreeDecimals)
    pattern += u'.' + repeated(u'#', digits);
  else if (decimals > 0)
    pattern += u'.' + repeated(u'0', digits);
  return formatFloat(pattern, mantissa, fs) + u'E' + QString::number(exponent);
}

int integerDigits(const QString& text, QChar decimalSeparator) {
  int n = 0;
  for (const QChar c : text) {
    if (c == decimalSeparator) break;
    if (c.isDigit()) ++n;
  }
  return n;
}

}  // namespace

QString realValueText(long double value, NumberFormat format, int decimals, const FormatSettings& fs) {
  if (!std::isfinite(value)) return formatFloat(u"0", value, fs);
  if (format == NumberFormat::Engineering && value != 0) return engineeringText(value, decimals, fs);

  // "#,##0" rather than ",0": the formatter only groups on a ',' among the digit placeholders.
  const QString integer = format == NumberFormat::Thousands ? QStringLiteral("#,##0") : QStringLiteral("0");
  QString pattern = integer;
  if (decimals > 0)
    pattern += u'.' + repeated(u'0', decimals);
  else if (decimals == kFreeDecimals)
    pattern += u'.' + repeated(u'#', kMaxDecimals);
  if (format == NumberFormat::Scientific || format == NumberFormat::Engineering)
    pattern += QStringLiteral("E-");
  const QString text = formatFloat(pattern, value, fs);
  if (text.contains(u'E') || !text.contains(fs.decimalSeparator)) return text;

  // No more significant digits than an extended value reliably round-trips through a text.
  const int room = kSignificantDigits - integerDigits(text, fs.decimalSeparator);
  if (decimals == kFreeDecimals)
    return formatFloat(room > 0 ? integer + u'.' + repeated(u'#', room) : integer, value, fs);
  if (room >= decimals) return text;
  QString cut = formatFloat(room > 0 ? integer + u'.' + repeated(u'0', room) : integer, value, fs);
  if (room <= 0) cut += fs.decimalSeparator;
  return cut + repeated(u'0', decimals - std::max(room, 0));
}

long double realTextValue(QStringView text, const FormatSettings& fs) {
  return parseFieldText(text, fs).value_or(0.0L);
}

QString withoutThousands(QStringView text, const FormatSettings& fs) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text)
    if (c != fs.thousandSeparator) out.append(c);
  return out;
}

namespace {

// Far below anything a field shows (15 digits), far above the 80-bit rounding and the
// double-literal error of a limit.
long double noise(long double a, long double b, long double scale) {
  return 1e-14L * std::max({std::fabs(a), std::fabs(b), std::fabs(scale)});
}

// Exact halves of decimal grids (100.2475 on a 0.005 grid) reach us as x.4999.. or x.5000..1;
// they are halves all the same.
long double roundHalfToEven(long double q) {
  const long double below = std::floor(q);
  const long double fraction = q - below;
  if (std::fabs(fraction - 0.5L) <= 1e-12L * std::max(1.0L, std::fabs(q)))
    return std::fmod(below, 2.0L) == 0 ? below : below + 1;
  return fraction < 0.5L ? below : below + 1;
}

}  // namespace

// An infinity has no rounding noise (its noise would swallow every comparison).
bool isBelow(long double a, long double b, long double scale) {
  if (std::isinf(a) || std::isinf(b)) return a < b;
  return a < b - noise(a, b, scale);
}

bool isAbove(long double a, long double b, long double scale) {
  if (std::isinf(a) || std::isinf(b)) return a > b;
  return a > b + noise(a, b, scale);
}

long double roundToGrid(long double value, long double minValue, long double maxValue, long double increment,
                        bool limitsSet) {
  if (increment == 0 || !std::isfinite(value)) return value;
  long double r = minValue + roundHalfToEven((value - minValue) / increment) * increment;
  if (!std::isfinite(r)) return value;  // near the end of the extended range
  if (limitsSet && isAbove(r, maxValue, std::max(std::fabs(minValue), std::fabs(increment)))) r -= increment;
  return r;
}

// ---------------------------------------------------------------------------------------------------------
// Editing

namespace {

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool hasRoom(const FieldEdit& e, const FieldRules& r) {
  return r.maxLength <= 0 || e.text.size() < r.maxLength;
}

// Backspace and Delete never remove these; they step over them to the digit beyond.
bool isSteppedOver(QChar c, const FormatSettings& fs) {
  return c == fs.thousandSeparator || c == fs.decimalSeparator || c == u'E';
}

// The caret never stays before a leading "-", nor between "E" and the exponent's "-".
void keepCaretOffSigns(FieldEdit& e) {
  if (e.hasSelection()) return;
  const QString& t = e.text;
  int c = e.cursor;
  if (c == 0 && t.startsWith(u'-')) c = 1;
  const int ePos = int(t.indexOf(u'E'));
  if (ePos >= 0 && c == ePos + 1 && ePos + 1 < t.size() && t[ePos + 1] == u'-') c = ePos + 2;
  e.moveCaret(c);
}

// "-" is never inserted: it flips the sign of the part the caret is in.
void toggleSign(FieldEdit& e) {
  QString& t = e.text;
  int cur = e.cursor;
  const int ePos = int(t.indexOf(u'E'));
  if (ePos >= 0 && cur > ePos) {
    if (ePos + 1 < t.size() && t[ePos + 1] == u'-') {
      t.remove(ePos + 1, 1);
      if (cur > ePos + 1) --cur;
    } else {
      t.insert(ePos + 1, u'-');
      ++cur;
    }
  } else if (t.startsWith(u'-')) {
    t.remove(0, 1);
    if (cur > 0) --cur;
  } else {
    t.insert(0, u'-');
    ++cur;
  }
  e.moveCaret(cur);
}

bool typeDecimalSeparator(FieldEdit& e, const FieldRules& r) {
  QString& t = e.text;
  const QChar dec = r.fs.decimalSeparator;
  const int dPos = int(t.indexOf(dec));
  if (dPos >= 0) {
    e.moveCaret(dPos + 1);
    return true;
  }
  if (!hasRoom(e, r)) return false;
  const int ePos = int(t.indexOf(u'E'));
  int at = 0;
  if (r.decimals == kFreeDecimals)
    at = ePos >= 0 ? ePos : int(t.size());
  else  // at the caret, but never into the exponent
    at = ePos >= 0 ? std::min(e.cursor, ePos) : e.cursor;
  t.insert(at, dec);
  e.moveCaret(at + 1);
  return true;
}

bool typeExponent(FieldEdit& e, const FieldRules& r) {
  const int ePos = int(e.text.indexOf(u'E'));
  if (ePos >= 0) {
    e.moveCaret(ePos + 1);
    return true;
  }
  if (!hasRoom(e, r)) return false;
  e.text.append(u'E');
  e.moveCaret(int(e.text.size()));
  return true;
}

int exponentMagnitude(QStringView digits) {
  while (!digits.isEmpty() && digits.front() == u'0') digits = digits.mid(1);
  if (digits.size() > 5) return kMaxExponent + 1;
  int v = 0;
  for (const QChar c : digits)
    if (isAsciiDigit(c)) v = v * 10 + (c.unicode() - u'0');
  return v;
}

bool typeExponentDigit(FieldEdit& e, QChar c, const FieldRules& r, int ePos) {
  QString& t = e.text;
  const int start = ePos + 1 + (ePos + 1 < t.size() && t[ePos + 1] == u'-' ? 1 : 0);
  const QString digits = t.mid(start);
  const bool replaceZero = digits == u"0";
  const int at = std::clamp(e.cursor - start, 0, int(digits.size()));
  const QString next = replaceZero ? QString(c) : digits.left(at) + c + digits.mid(at);
  if (exponentMagnitude(next) > kMaxExponent) return false;
  if (!replaceZero && !hasRoom(e, r)) return false;
  t = t.left(start) + next;
  e.moveCaret(replaceZero ? start + 1 : start + at + 1);
  return true;
}

bool typeDigit(FieldEdit& e, QChar c, const FieldRules& r) {
  QString& t = e.text;
  const int cur = e.cursor;
  const QChar dec = r.fs.decimalSeparator;
  const int ePos = int(t.indexOf(u'E'));
  if (ePos >= 0 && cur > ePos) return typeExponentDigit(e, c, r, ePos);

  const int dPos = int(t.indexOf(dec));
  const int mantissaEnd = ePos >= 0 ? ePos : int(t.size());
  if (r.decimals != kFreeDecimals && dPos >= 0 && cur > dPos) {
    // Fixed decimals are overwritten; behind the last allowed one there is no room.
    if (cur < mantissaEnd) {
      t[cur] = c;
      e.moveCaret(cur + 1);
      return true;
    }
    if (mantissaEnd - dPos - 1 >= r.decimals) return false;
  } else {
    // A lone "0" (or "-0") integer part is a placeholder: the digit typed at it replaces it.
    const int lead = t.startsWith(u'-') ? 1 : 0;
    const bool loneZero = lead < t.size() && t[lead] == u'0' &&
                          (lead + 1 == t.size() || t[lead + 1] == dec || t[lead + 1] == u'E');
    if (loneZero && (cur == lead || cur == lead + 1)) {
      t[lead] = c;
      e.moveCaret(lead + 1);
      return true;
    }
  }
  if (!hasRoom(e, r)) return false;
  t.insert(cur, c);
  e.moveCaret(cur + 1);
  return true;
}

void deleteOne(FieldEdit& e, bool backward, const FieldRules& r) {
  QString& t = e.text;
  const QChar dec = r.fs.decimalSeparator;
  int at = 0;
  if (backward) {
    if (e.cursor <= 0) return;
    at = e.cursor - 1;
    if (isSteppedOver(t[at], r.fs) && --at < 0) return;
  } else {
    if (e.cursor >= t.size()) return;
    at = e.cursor;
    if (isSteppedOver(t[at], r.fs) && ++at >= t.size()) return;
  }
  const int dPos = int(t.indexOf(dec));
  const int ePos = int(t.indexOf(u'E'));
  if (dPos >= 0 && at > dPos && (ePos < 0 || at < ePos)) {
    // A decimal: the rest shift left, and fixed decimals keep their count with a "0" at the end.
    t.remove(at, 1);
    if (r.decimals != kFreeDecimals) t.insert(ePos >= 0 ? ePos - 1 : int(t.size()), u'0');
    e.moveCaret(at);
  } else if (at == 0 && t[0] == u'-') {
    t.remove(0, 1);
    if (t.isEmpty()) t = QStringLiteral("0");
    e.moveCaret(0);
  } else if (at == 0 && (t.size() == 1 || t[1] == dec || t[1] == u'E')) {
    // The only integer digit: it becomes the placeholder "0".
    t[0] = u'0';
    e.moveCaret(1);
  } else {
    t.remove(at, 1);
    e.moveCaret(at);
    if ((r.format == NumberFormat::Scientific || r.format == NumberFormat::Engineering) && t.endsWith(u'E'))
      t.append(u'0');
  }
}

}  // namespace

bool typeChar(FieldEdit& e, QChar c, const FieldRules& r) {
  if (c == u'e') c = u'E';
  const QChar dec = r.fs.decimalSeparator;
  if (!isAsciiDigit(c) && c != u'-' && c != u'E' && c != dec) return false;
  if (e.hasSelection()) {
    if (c == u'E' || c == dec)
      e.moveCaret(e.cursor);
    else
      deleteSelection(e, r);
  }
  keepCaretOffSigns(e);
  bool accepted = true;
  if (c == u'-')
    toggleSign(e);
  else if (c == dec)
    accepted = typeDecimalSeparator(e, r);
  else if (c == u'E')
    accepted = typeExponent(e, r);
  else
    accepted = typeDigit(e, c, r);
  keepCaretOffSigns(e);
  return accepted;
}

void deleteSelection(FieldEdit& e, const FieldRules& r) {
  if (!e.hasSelection()) return;
  const int start = e.selectionStart();
  const int end = e.selectionEnd();
  if (start == 0 && end >= e.text.size()) {
    e.text = realValueText(0, r.format, r.decimals, r.fs);
    e.moveCaret(1);  // behind the placeholder "0", so the next digit replaces it
    return;
  }
  // One Backspace per character a Backspace can remove: the separators and "E" are stepped
  // over, so counting them would eat digits outside the selection.
  int count = 0;
  for (int i = start; i < end; ++i)
    if (!isSteppedOver(e.text[i], r.fs)) ++count;
  e.moveCaret(end);
  while (count-- > 0) deleteOne(e, true, r);
}

void deleteKey(FieldEdit& e, bool backward, const FieldRules& r) {
  if (e.hasSelection())
    deleteSelection(e, r);
  else
    deleteOne(e, backward, r);
}

bool regroup(FieldEdit& e, bool force, const FieldRules& r) {
  if (r.format != NumberFormat::Thousands || e.hasSelection()) return false;
  const QChar sep = r.fs.thousandSeparator;
  const QChar dec = r.fs.decimalSeparator;
  const long double v = realTextValue(e.text, r.fs);
  // An overflowing number has no text of its own: it stays as typed until the field is left.
  if (std::isinf(v)) return false;
  const QString f = realValueText(v, r.format, r.decimals, r.fs);
  const int oldSeps = int(e.text.count(sep));
  const int newSeps = int(f.count(sep));
  if (!force && oldSeps == newSeps && e.text.indexOf(sep) == f.indexOf(sep)) return false;
  int cur = e.cursor + newSeps - oldSeps;
  if (e.text.contains(dec) != f.contains(dec)) ++cur;
  cur = std::clamp(cur, 0, int(f.size()));
  if (cur < f.size() && f[cur] == sep) ++cur;
  e.text = f;
  e.moveCaret(cur);
  return true;
}
