// Value texts of the form-state files: integers with their hexadecimal forms, floats in the
// platform's general format with either decimal separator, grid cell keys.

#include "persist/form_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using formvalue::floatText;
using formvalue::parseFloat;
using formvalue::parseInt;

TEST(FormValuesTest, IntegersReadLikeThePlatform) {
  struct Case {
    const char* text;
    std::optional<qint32> expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"-1", -1},
      {"+7", 7},
      {"  12", 12},
      {"0x10", 16},
      {"0X1f", 31},
      {"$1F", 31},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"$80000000", qint32(0x80000000u)},
      {"$000000001", 1},
      {"$100000000", std::nullopt},
      {"2147483647", 2147483647},
      {"-2147483648", qint32(-2147483647 - 1)},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"0x", std::nullopt},
      {"0x-1", std::nullopt},
      {"$", std::nullopt},
      {"-", std::nullopt},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"12 ", std::nullopt},
      {"1.5", std::nullopt},
      {"--1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseInt(QString::fromLatin1(c.text)), c.expected) << c.text;
}

TEST(FormValuesTest, FloatsWrittenInTheGeneralFormat) {
  struct Case {
    long double value;
    const char* point;
    const char* russian;
  };
  const Case cases[] = {
      {0, "0", "0"},
      {-0.0L, "0", "0"},
      {-2.3L, "-2.3", "-2,3"},
      {50, "50", "50"},
      {1234567.125L, "1234567.125", "1234567,125"},
      {0.1L, "0.1", "0,1"},
      {0.00001L, "0.00001", "0,00001"},
      {0.0000123L, "0.0000123", "0,0000123"},
      {0.000001L, "1E-6", "1E-6"},
      {-0.0000015L, "-1.5E-6", "-1,5E-6"},
      {1.5e20L, "1.5E20", "1,5E20"},
      {999999999999999.0L, "999999999999999", "999999999999999"},
      {1e15L, "1E15", "1E15"},
      {123456789012345678.0L, "1.23456789012346E17", "1,23456789012346E17"},
      {1.0L / 3, "0.333333333333333", "0,333333333333333"},
      {2.0L / 3, "0.666666666666667", "0,666666666666667"},
      {1e-4000L, "1E-4000", "1E-4000"},
      {INFINITY, "INF", "INF"},
      {-INFINITY, "-INF", "-INF"},
      {NAN, "NAN", "NAN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(floatText(c.value, FormatSettings::point()), c.point);
    EXPECT_EQ(floatText(c.value, FormatSettings::russian()), QString::fromUtf8(c.russian));
  }
}

// Either decimal separator, whatever the locale: a file set up under a Russian desktop is read by
// a service that runs without a locale, and the other way round.
TEST(FormValuesTest, FloatsReadWithEitherDecimalSeparator) {
  struct Case {
    const char* text;
    bool russian;
    std::optional<long double> expected;
  };
  const Case cases[] = {
      {"-2,3", true, -2.3L},
      {"-2.3", false, -2.3L},
      {"-2,3", false, -2.3L},  // written on a comma system, read on a point one
      {"-2.3", true, -2.3L},
      {"-7,5", false, -7.5L},
      {"1,2,3", true, std::nullopt},
      {"1,5.0", true, std::nullopt},
      {"1E-6", false, 1e-6L},
      {"1,5E20", true, 1.5e20L},
      {" 7 ", false, 7},
      {"1,000.5", false, std::nullopt},  // no thousands separators
      {"", false, std::nullopt},
      {"-", false, std::nullopt},
      {"abc", false, std::nullopt},
      {"1E", false, std::nullopt},
      {"1E99999", false, std::nullopt},
      {".5", false, 0.5L},
  };
  for (const Case& c : cases) {
    const FormatSettings fs = c.russian ? FormatSettings::russian() : FormatSettings::point();
    EXPECT_EQ(parseFloat(QString::fromLatin1(c.text), fs), c.expected) << c.text;
  }
}

TEST(FormValuesTest, FloatTextReadsBackToTheValueAtFifteenDigits) {
  const long double values[] = {-2.3L, 0.1L, 1e-6L, 3.14159265358979L, 1e300L, -7.25e-300L, 123456.789L};
  for (const FormatSettings& fs : {FormatSettings::point(), FormatSettings::russian()}) {
    for (long double v : values) {
      const std::optional<long double> back = parseFloat(floatText(v, fs), fs);
      ASSERT_TRUE(back) << double(v);
      EXPECT_NEAR(double(*back / v), 1.0, 1e-14) << double(v);
    }
  }
}

TEST(FormValuesTest, GridCellKeys) {
  EXPECT_EQ(formvalue::gridCellKey("Grid", 3, 12), "Grid00030012");
  EXPECT_EQ(formvalue::gridCellKey("G", 0, 0), "G00000000");
  EXPECT_EQ(formvalue::gridCellKey("G", 12345, 7), "G123450007");
}

}  // namespace
