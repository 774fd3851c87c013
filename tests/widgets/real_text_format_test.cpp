// Value <-> text and the step grid of the real-number fields, without widgets.

#include "widgets/real_text_format.h"

#include <gtest/gtest.h>

namespace {

// Expected texts are written with '.' for the decimal and '_' for the thousands separator.
QString tx(const char* neutral, const FormatSettings& fs) {
  QString s = QString::fromUtf8(neutral);
  for (QChar& c : s) {
    if (c == u'.')
      c = fs.decimalSeparator;
    else if (c == u'_')
      c = fs.thousandSeparator;
  }
  return s;
}

class RealTextFormat : public ::testing::TestWithParam<FormatSettings> {};

struct TextCase {
  long double value;
  NumberFormat format;
  int decimals;
  const char* text;
};

TEST_P(RealTextFormat, ValueToText) {
  using NF = NumberFormat;
  const TextCase cases[] = {
      {0, NF::Standard, -1, "0"},
      {-0.25L, NF::Standard, -1, "-0.25"},
      {0.1L + 0.2L, NF::Standard, -1, "0.3"},
      {1.0L / 3, NF::Standard, -1, "0.33333333333333"},
      {123456789.123456789L, NF::Standard, -1, "123456789.123457"},  // 15 significant digits
      {1e20L, NF::Standard, -1, "100000000000000000000"},
      {1.5L, NF::Standard, 2, "1.50"},
      {-0.004L, NF::Standard, 2, "0.00"},  // no "-0.00"
      {1234567890123456.0L, NF::Standard, 2, "1234567890123456.00"},
      {1234567.5L, NF::Thousands, -1, "1_234_567.5"},
      {1234567.123456789L, NF::Thousands, -1, "1_234_567.12345679"},
      {80000, NF::Thousands, 3, "80_000.000"},
      {100.245L, NF::Thousands, 3, "100.245"},
      {-60, NF::Thousands, 1, "-60.0"},
      {999.9996L, NF::Thousands, 3, "1_000.000"},
      {1234567890123.4567L, NF::Thousands, 3, "1_234_567_890_123.460"},  // 2 decimals fit in 15 digits
      {12345, NF::Scientific, -1, "1.2345E4"},
      {0.00012L, NF::Scientific, -1, "1.2E-4"},
      {-12345, NF::Scientific, 2, "-1.23E4"},
      {0, NF::Scientific, 3, "0.000E0"},
      {12345, NF::Engineering, -1, "12.345E3"},
      {-2500, NF::Engineering, -1, "-2.5E3"},
      {1e6L, NF::Engineering, -1, "1E6"},
      {0.005L, NF::Engineering, -1, "0.005E0"},  // exponent truncated toward zero: -0.77 -> 0
      {0.0005L, NF::Engineering, -1, "0.5E-3"},
      {123456.789L, NF::Engineering, -1, "123.456789E3"},
      {123456, NF::Engineering, 2, "123.46E3"},
      {1500, NF::Engineering, 0, "2E3"},
      {0, NF::Engineering, -1, "0E0"},
  };
  for (const TextCase& c : cases)
    EXPECT_EQ(realValueText(c.value, c.format, c.decimals, GetParam()), tx(c.text, GetParam())) << c.text;
}

TEST_P(RealTextFormat, TextToValueNeverFails) {
  const FormatSettings fs = GetParam();
  EXPECT_EQ(realTextValue(tx("1_234.5", fs), fs), 1234.5L);
  EXPECT_EQ(realTextValue(tx("5E", fs), fs), 5);  // unfinished exponent
  EXPECT_EQ(realTextValue(tx("-.5", fs), fs), -0.5L);
  EXPECT_EQ(realTextValue(u"", fs), 0);
  EXPECT_TRUE(std::signbit(realTextValue(u"-", fs)));
  EXPECT_EQ(realTextValue(u"E-3", fs), 0);  // not a number: 0
  EXPECT_EQ(realTextValue(u"1-2", fs), 0);
  EXPECT_EQ(withoutThousands(tx("-1_234_567.5", fs), fs), tx("-1234567.5", fs));
}

INSTANTIATE_TEST_SUITE_P(RealLocales, RealTextFormat,
                         ::testing::Values(FormatSettings::russian(), FormatSettings::point()),
                         [](const auto& info) {
                           return info.param.decimalSeparator == u',' ? "Russian" : "Point";
                         });

TEST(RealGrid, RoundsHalfToEvenAndStaysBelowMax) {
  struct Case {
    long double value, min, max, increment;
    bool limits;
    long double expected;
  };
  const Case cases[] = {
      {100.2473L, 0.05L, 80000, 0.005L, true, 100.245L},
      {100.2475L, 0.05L, 80000, 0.005L, true, 100.25L},  // decimal halves count as halves
      {100.2425L, 0.05L, 80000, 0.005L, true, 100.24L},
      {2.5L, 0, 10, 1, true, 2},
      {3.5L, 0, 10, 1, true, 4},
      {-2.5L, -10, 10, 1, true, -2},
      {15.999L, 0.1L, 16, 0.01L, true, 16},
      {11, 0, 10, 3, true, 9},  // 12 lies above the maximum
      {11, 0, 10, 3, false, 12},
      {7.3L, 0, 10, 0, true, 7.3L},       // no increment, no grid
      {0.1L, 0.1, 16, 0.01, true, 0.1L},  // double limits against extended values
  };
  for (const Case& c : cases)
    EXPECT_NEAR(double(roundToGrid(c.value, c.min, c.max, c.increment, c.limits)), double(c.expected), 1e-12)
        << double(c.value) << " on " << double(c.increment);
}

TEST(RealLimits, IgnoreRoundingNoise) {
  EXPECT_FALSE(isBelow(0.1L, 0.1));  // extended 0.1 lies below double 0.1, by noise only
  EXPECT_FALSE(isAbove(0.1, 0.1L));
  EXPECT_FALSE(isAbove(15.99L + 0.01L, 16));
  EXPECT_TRUE(isBelow(-1e-20L, 0));
  EXPECT_TRUE(isAbove(16.01L, 16));
}

}  // namespace
