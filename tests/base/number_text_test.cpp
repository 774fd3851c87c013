#include "base/number_text.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

const FormatSettings P = FormatSettings::point();
const FormatSettings R = FormatSettings::russian();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

struct FormatCase {
  const char16_t* pattern;
  long double value;
  const FormatSettings& fs;
  const char16_t* expected;
};

const FormatCase kFormatCases[] = {
    // 18-digit reduction first, then half away from zero
    {u"0.00", 100.245L, P, u"100.25"},
    {u"0.00", 0.125L, P, u"0.13"},
    {u"0.00", -0.125L, R, u"-0,13"},
    {u"0.00", 1.005L, P, u"1.01"},
    {u"0.00", 1.005, P, u"1.00"},  // the double is 1.00499999999999989...
    {u"0.00", 9.996L, P, u"10.00"},
    {u"0.00", -99.995L, P, u"-100.00"},
    {u"0.00", -0.004L, P, u"0.00"},
    {u"0.00", -0.0L, P, u"0.00"},
    {u"0.00", 1e30L, P, u"1000000000000000000000000000000.00"},
    {u"0.00", std::nanl(""), P, u"NAN"},
    {u"0.00", kInf, P, u"INF"},
    {u"0.00", -kInf, P, u"-INF"},
    // literals among the digits, fewer and more digits than placeholders
    {u"0.000 00 МГц", 2.5L, P, u"2.500 00 МГц"},
    {u"0.000 00 МГц", 145.1234567L, R, u"145,123 46 МГц"},
    {u"## ##0 Гц", 1000, P, u"1 000 Гц"},
    {u"## ##0 Гц", 65535, P, u"65 535 Гц"},
    {u"## ##0 Гц", 5, P, u" 5 Гц"},
    {u"## ##0 Гц", 1234567, P, u"1234 567 Гц"},
    {u"## ##0 Гц", -12, P, u" -12 Гц"},
    {u"000 B", -123.4L, P, u"-123 B"},
    {u"000 B", 7, P, u"007 B"},
    {u"000 B", 12345, P, u"12345 B"},
    {u"0.0 B", -0.04L, P, u"0.0 B"},
    {u"#00 В", -5, P, u"-05 В"},
    {u"#0.0 В", -0.25L, R, u"-0,3 В"},
    {u" #0.000 мкс", 1.5L, P, u" 1.500 мкс"},
    {u" #0.000 мкс", -123.4567L, P, u" -123.457 мкс"},
    {u"0.000 мкс", 0.0005L, P, u"0.001 мкс"},
    {u"0.##", 2, P, u"2"},
    {u"#.##", 0.5L, P, u".5"},
    {u"0.#0", 1.5L, P, u"1.50"},
    // exponent forms
    {u"0.00000E+00", -1.6e-7L, P, u"-1.60000E-07"},
    {u"0.00000E+00", 117.1875L, P, u"1.17188E+02"},
    {u"0.00000E+00", 117.1875L, R, u"1,17188E+02"},
    {u"0.00000E+00", 0, P, u"0.00000E+00"},
    {u"0.00000E+00", 999999.6L, P, u"1.00000E+06"},
    {u"0.00E-0", 1234, P, u"1.23E3"},
    {u"0.00e-0", 0.001234L, P, u"1.23e-3"},
    {u"00.0E+000", 12345, P, u"12.3E+003"},
    {u"0.0E+00", 1e-4000L, P, u"1.0E-4000"},
    // grouping
    {u"#,##0.0##", 1234.5L, P, u"1,234.5"},
    {u"#,##0.0##", 1234.5L, R, u"1\u00A0234,5"},
    {u"#,##0.0##", 5, P, u"5.0"},
    {u"#,##0.0##", 123.456L, P, u"123.456"},
    {u"#,##0.0##", -1234567.8915L, P, u"-1,234,567.892"},
    {u"#,##0", 999.5L, P, u"1,000"},
    {u"#,##0.000", 0, P, u"0.000"},
    {u"#,##0.##############", 1e21L, P, u"1,000,000,000,000,000,000,000"},
    {u"#,##0.##############", 0.1, R, u"0,1"},
    {u"0.##############", 2.0L / 3, P, u"0.66666666666667"},
    {u"0,000", 5, P, u"0,005"},
    {u"0 ,", 1234, P, u"1234 ,"},  // a comma after the digits is text
    // sections and quotes
    {u"0.00;(0.00);'zero'", -1.5L, P, u"(1.50)"},
    {u"0.00;(0.00);'zero'", -0.001L, P, u"zero"},
    {u"0.00;(0.00);'zero'", 0, P, u"zero"},
    {u"0.0;(0.0)", -0.01L, P, u"0.0"},
    {u"0.0;;nil", -2, P, u"-2.0"},
    {u"'#'0 \"a;b\";x", 5, P, u"#5 a;b"},
    {u"", 1.5L, R, u"1,5"},
};

TEST(FormatFloat, Pictures) {
  for (const FormatCase& c : kFormatCases) {
    const QString pattern = QString::fromUtf16(c.pattern);
    EXPECT_EQ(formatFloat(pattern, c.value, c.fs), QString::fromUtf16(c.expected))
        << pattern.toStdString() << " with " << double(c.value);
  }
}

TEST(FormatFloat, HugeValuePrintsEveryDigit) {
  const QString s = formatFloat(u"0", 1e4000L, P);
  ASSERT_EQ(s.size(), 4001);
  EXPECT_EQ(s.left(18), QStringLiteral("100000000000000000"));
}

struct ParseCase {
  const char16_t* text;
  const FormatSettings& fs;
  std::optional<long double> expected;
};

const ParseCase kParseCases[] = {
    {u"100,245", R, 100.245L},
    {u"1\u00A0234,5", R, 1234.5L},
    {u"-,5", R, -0.5L},
    {u"5,", R, 5},
    {u",5", R, 0.5L},
    {u"+7", R, 7},
    {u"2,5E3", R, 2500},
    {u"1E", R, 1},
    {u"1E-", R, 1},
    {u"", R, 0},
    {u"1,234.5", P, 1234.5L},
    {u"0.1", P, 0.1L},
    {u"1e4932", P, 1e4932L},
    {u"1E-5000", P, 0},
    {u"1.5", R, std::nullopt},  // a point is no number character with a comma separator
    {u"1,2,3", R, std::nullopt},
    {u"1 234", R, std::nullopt},  // ordinary blank is not the group separator
    {u"1.2.3", P, std::nullopt},
    {u"1E4933", P, kInf},  // beyond the extended range: a number all the same
    {u"-1,5E4932", R, -kInf},
    {u"9\u00A0000,000E4932", R, kInf},
    {u",", R, std::nullopt},
    {u"E5", P, std::nullopt},
    {u"--1", P, std::nullopt},
    {u"1-", P, std::nullopt},
    {u"inf", P, std::nullopt},
    {u"0x10", P, std::nullopt},
    {u"\u0663", P, std::nullopt},  // Arabic-Indic three
};

TEST(ParseFieldText, Table) {
  for (const ParseCase& c : kParseCases) {
    const QString text = QString::fromUtf16(c.text);
    EXPECT_EQ(parseFieldText(text, c.fs), c.expected) << text.toStdString();
  }
}

TEST(ParseFieldText, LoneMinusIsNegativeZero) {
  const auto v = parseFieldText(u"-", R);
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, 0);
  EXPECT_TRUE(std::signbit(*v));
}

TEST(ParseDecimal, Table) {
  const std::pair<const char*, std::optional<long double>> cases[] = {
      {"0.1", 0.1L},       {"-12.5", -12.5L},   {"1e-3", 1e-3L},        {"5.", 5},
      {".5", 0.5L},        {"-.5", -0.5L},      {"+3", 3},              {"1E4932", 1e4932L},
      {"1E4933", {}},      {"", {}},            {"-", {}},              {".", {}},
      {" 1", {}},          {"1 ", {}},          {"1e", {}},             {"1e-", {}},
      {"1,5", {}},         {"nan", {}},         {"0x1p3", {}},          {"1e5x", {}},
      // The point moves into the exponent before conversion: the digits after it, the exponent
      // and the extended type's 64-bit mantissa must all survive the move.
      {"123.456e-2", 1.23456L},
      {"0.00001e4937", 1e4932L},
      {"1000e4929", 1e4932L},
      {"1234567890.123456789", 1234567890.123456789L},  // not a double: needs 64 mantissa bits
      {"-0.1000000000000000000000000000001", -0.1000000000000000000000000000001L},
      {"0.1e-4945", 1e-4946L},  // subnormal
      {"1e-99999999999999999999", 0},
      {"1e99999999999999999999", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseDecimal(text), expected) << text;
  EXPECT_EQ(parseDecimal(std::string_view("12345", 2)), 12);  // not NUL-terminated
}

TEST(Parsers, LongTextsLeaveTheStackBuffer) {
  const std::string tiny = "0." + std::string(300, '0') + "1";
  EXPECT_EQ(parseDecimal(tiny), 1e-301L);
  EXPECT_EQ(parseFieldText(QString::fromStdString(tiny), P), 1e-301L);
  EXPECT_EQ(parseDecimal(tiny + "x"), std::nullopt);
}

// Qt and the user may switch the C locale; nothing here may follow it.
class GlobalLocale {
 public:
  GlobalLocale() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~GlobalLocale() { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

// Makes ru_RU.UTF-8 and de_DE.UTF-8 available to setlocale: machines without generated
// locales get them compiled by localedef into a private folder named by LOCPATH (which glibc
// reads at every setlocale call). Does nothing when they are installed or cannot be made.
void provideCommaLocales() {
  static const bool done = [] {
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8")) {
      std::setlocale(LC_NUMERIC, "C");
      return true;
    }
    static QTemporaryDir dir;
    if (!dir.isValid()) return false;
    for (const char* l : {"ru_RU", "de_DE"}) {
      const QString out = dir.filePath(QString::fromLatin1(l) + ".UTF-8");
      QProcess::execute("localedef", {"-i", l, "-f", "UTF-8", out});
    }
    qputenv("LOCPATH", dir.path().toLocal8Bit());
    return true;
  }();
  (void)done;
}

void expectLocaleIndependent(const char* name) {
  SCOPED_TRACE(name);
  EXPECT_EQ(parseDecimal("0.1"), 0.1L);
  EXPECT_EQ(parseDecimal("1,5"), std::nullopt);
  EXPECT_EQ(parseFieldText(u"100,245", R), 100.245L);
  EXPECT_EQ(parseFieldText(u"1,234.5", P), 1234.5L);
  EXPECT_EQ(formatFloat(u"#,##0.00", 1234.567L, P), QStringLiteral("1,234.57"));
  EXPECT_EQ(formatFloat(u"0.00000E+00", -1.6e-7L, R), QStringLiteral("-1,60000E-07"));
}

TEST(Parsers, IgnoreGlobalLocale) {
  const char* const names[] = {"ru_RU.UTF-8", "de_DE.UTF-8"};
  provideCommaLocales();
  GlobalLocale guard;
  int tried = 0;
  for (const char* name : names) {
    if (!std::setlocale(LC_ALL, name)) continue;
    ++tried;
    expectLocaleIndependent(name);
  }
  if (tried == 0) GTEST_SKIP() << "neither ru_RU.UTF-8 nor de_DE.UTF-8 is installed";
}

TEST(Parsers, IgnoreCommaNumericLocale) {
  // The last two are the Windows C library's names.
  const char* const names[] = {"de_DE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8", "de_DE",
                               "ru_RU",       "fr_FR",       "Russian_Russia.1251", "German_Germany.1252"};
  provideCommaLocales();
  GlobalLocale guard;
  for (const char* name : names) {
    if (std::setlocale(LC_NUMERIC, name) && std::string(std::localeconv()->decimal_point) == ",") {
      expectLocaleIndependent(name);
      return;
    }
  }
  GTEST_SKIP() << "no locale with a decimal comma is installed";
}

}  // namespace
