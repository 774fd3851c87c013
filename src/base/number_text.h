#pragma once
// Locale-aware number text: the picture formatter and the field-text parser.
// Pure code: the separators always arrive explicitly in a FormatSettings.

#include <QChar>
#include <QString>
#include <QStringView>

#include <cfloat>
#include <optional>
#include <string_view>

static_assert(LDBL_MANT_DIG == 64, "device counts need the 80-bit extended type (64-bit significand)");

// Decimal and thousands separators of the user's regional settings.
struct FormatSettings {
  QChar decimalSeparator = u'.';
  QChar thousandSeparator = u',';

  static FormatSettings fromSystem();  // QLocale::system()
  static FormatSettings russian();     // ',' and U+00A0
  static FormatSettings point();       // '.' and ','

  bool operator==(const FormatSettings&) const = default;
};

// The settings every window uses; set once at start-up from the system locale,
// and by tests to a fixed one.
const FormatSettings& appFormatSettings();
void setAppFormatSettings(const FormatSettings& fs);

// Formats value with a picture pattern: '0' mandatory digit, '#' optional digit,
// the first '.' is the decimal separator, ',' anywhere among the digits turns on
// thousands grouping, "E+"/"E-" (or e) followed by '0's is an exponent, text in
// single or double quotes and every other character is copied.
// Up to three sections "positive;negative;zero". The value is first taken to 18
// significant digits, then rounded half away from zero to the digits shown.
// A value that rounds to zero is printed without a minus sign.
QString formatFloat(QStringView pattern, long double value, const FormatSettings& fs);

// Reads the text of a numeric entry field: every thousands separator removed,
// empty text = 0, a lone "-" = -0, the decimal separator of fs, an optional
// exponent "E[+-]ddd". Correctly rounded to the nearest extended value,
// independent of the process-wide C locale. A number beyond the extended range
// ("9E4932") gives +-infinity: it is a number, only too large; the field reads it as
// the limit it violates. nullopt when the text is not a number.
std::optional<long double> parseFieldText(QStringView text, const FormatSettings& fs);

// Reads a plain decimal text with a point ("-12.5", "1e-3"), correctly rounded;
// nullopt for anything else, an overflow included. For tools and files that are not
// locale dependent.
std::optional<long double> parseDecimal(std::string_view text);
