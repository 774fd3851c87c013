// The receive view's numbers without the window: filter direction and gain, the averages,
// the read-out texts, the marker grid and the pulse crossings.

#include "rxview/rx_signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "rx_test_support.h"

namespace {

const FormatSettings R = FormatSettings::russian();
const FormatSettings P = FormatSettings::point();

TEST(RxSignal, ConversionAndSmoothingOfConstantInputs) {
  struct Case {
    int count;
    double point0, smoothed;
  };
  // Point 0 is never smoothed; everything up to the last sum that sees only fresh data
  // (4063 - 11) carries the filter's gain of 1.0216.
  const Case cases[] = {
      {255, 0, 0}, {355, 100, 102.16}, {0, -255, -255 * 1.0216}, {65535, 65280, 65280 * 1.0216}};
  for (const Case& c : cases) {
    rx::RxData d{};
    const rxtest::Buffer b = rxtest::flat(c.count);
    rx::convertSamples(b, d);
    rx::smoothInPlace(d);
    EXPECT_EQ(d[0], c.point0) << c.count;
    for (int p = 1; p <= rx::kRefreshed - 12; ++p)
      ASSERT_NEAR(d[p], c.smoothed, 1e-9 * std::abs(c.smoothed) + 1e-12) << p;
  }
}

TEST(RxSignal, FilterReadsOnlyUnsmoothedValues) {
  // Rising p makes the in-place pass equal to the plain convolution y[p] = sum c[n] x[p+n]:
  // an impulse at 40 comes out as the taps in reverse order at 29..40 and nothing else.
  rx::RxData d{};
  d[40] = 1;
  rx::smoothInPlace(d);
  const double taps[12] = {+0.01666, +0.0294, -0.04778, -0.07793, +0.14275, +0.4477,
                           +0.4477,  +0.14275, -0.07793, -0.04778, +0.0294, +0.01666};
  for (int p = 0; p < rx::kSamples; ++p) {
    const double expected = (p >= 29 && p <= 40) ? taps[40 - p] : 0.0;
    EXPECT_DOUBLE_EQ(d[p], expected) << p;
  }
}

TEST(RxSignal, AnyBufferStaysFiniteOverManyCycles) {
  // The positions past the buffer (4064-4095) are fed only by the filter, cycle after cycle.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> any(0, 65535);
  rx::RxData d{};
  for (int cycle = 0; cycle < 200; ++cycle) {
    const rxtest::Buffer b = rxtest::buffer([&](int) { return cycle % 3 == 0 ? 65535 : any(rng); });
    rx::convertSamples(b, d);
    rx::smoothInPlace(d);
  }
  for (double v : d) ASSERT_TRUE(std::isfinite(v) && std::abs(v) < 2e5) << v;
}

TEST(RxSignal, HistoryCountsTheZerosOfTheStart) {
  rx::History<16> h;
  for (int k = 1; k <= 20; ++k) {
    h.push(32);
    EXPECT_DOUBLE_EQ(h.average(), std::min(k, 16) * 2.0) << k;
  }
  rx::History<8> p;
  for (int k = 0; k < 8; ++k) p.push(k < 4 ? 10 : -10);
  EXPECT_DOUBLE_EQ(p.average(), 0);
  p.push(90);  // pushes the oldest 10 out
  EXPECT_DOUBLE_EQ(p.average(), 10);
}

TEST(RxSignal, ReadoutTexts) {
  struct Case {
    QString (*format)(double, const FormatSettings&);
    double value;
    const FormatSettings* fs;
    const char16_t* expected;
  };
  const Case cases[] = {
      {rx::voltageText, 50.6, &R, u"  051 B"},        {rx::voltageText, -12.34, &R, u"  -12,3 B"},
      {rx::voltageText, -12.34, &P, u"  -12.3 B"},    {rx::voltageText, 50, &P, u"  50.0 B"},
      {rx::voltageText, -50.04, &P, u"  -050 B"},     {rx::voltageText, -49.96, &P, u"  -50.0 B"},
      {rx::voltageText, -123.4, &P, u"  -123 B"},     {rx::voltageText, 7, &P, u"  7.0 B"},
      {rx::voltageText, 0, &R, u"  0,0 B"},           {rx::markerTimeText, 1.235, &R, u" 1,235 мкс"},
      {rx::markerTimeText, -0.5, &P, u" -0.500 мкс"}, {rx::markerTimeText, 19.88, &P, u" 19.880 мкс"},
      {rx::pulseWidthText, 0.25, &R, u"  0,250 мкс"}, {rx::pulseWidthText, 0, &P, u"  0.000 мкс"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.format(c.value, *c.fs), QString::fromUtf16(c.expected)) << c.value;
  EXPECT_EQ(rx::peakMarkFormat(50.01), QStringLiteral("#00 В"));
  EXPECT_EQ(rx::peakMarkFormat(-60), QStringLiteral("#00 В"));
  EXPECT_EQ(rx::peakMarkFormat(50), QStringLiteral("#0.0 В"));
}

TEST(RxSignal, MarkerGrid) {
  struct Case {
    double t, snapped;
    int index;
  };
  const Case cases[] = {
      {1.2376, 1.235, 280},  // snapped toward zero; the index rounds to the nearest sample
      {0.0049, 0, 33},       {0, 0, 32},       {0.0024, 0, 32}, {19.8801, 19.88, 4008},
      {19.88, 19.875, 4008},                    // 19.88 is 19.8799999... in binary: one sample down
      {25.001, 25, 5032},    {-0.0049, 0, 32},  // left of zero only after scrolling; still toward zero
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(rx::snapToSample(c.t), c.snapped, 1e-12) << c.t;
    EXPECT_EQ(rx::markerTraceIndex(c.t), c.index) << c.t;
  }
  EXPECT_EQ(rx::markerTraceIndex(1e300), 1000000000);
}

// Crossings on hand-made traces: x(i) = i * 0.005.
struct Trace {
  std::vector<double> v;
  double x(int i) const { return i * rx::kSampleUs; }
  double y(int i) const { return v[i]; }
  rx::Peak peak(bool positive) const {
    return rx::findPeak(int(v.size()), positive, [this](int i) { return y(i); });
  }
  double right(int ip, double level) const {
    return rx::rightCrossing(
        int(v.size()), ip, level, [this](int i) { return x(i); }, [this](int i) { return y(i); });
  }
  double left(int ip, double level) const {
    return rx::leftCrossing(
        int(v.size()), ip, level, [this](int i) { return x(i); }, [this](int i) { return y(i); });
  }
};

TEST(RxSignal, EqualNeighboursAddNoFraction) {
  // A trace beyond the level to its end: the walk stops at the last point, whose neighbour has
  // the same magnitude (difference below 1e-30), so the crossing is the last point but one.
  Trace t{std::vector<double>(100, 80.0)};
  t.v[99] = -80.0;
  EXPECT_DOUBLE_EQ(t.right(50, 40), 98 * rx::kSampleUs);
  // A flat zero trace with a zero peak: neither walk moves, both crossings are the peak time.
  Trace zero{std::vector<double>(100, 0.0)};
  const rx::Peak p = zero.peak(true);
  EXPECT_DOUBLE_EQ(zero.right(p.index, 0), 20 * rx::kSampleUs);
  EXPECT_DOUBLE_EQ(zero.left(p.index, 0), 20 * rx::kSampleUs);
  // At the threshold itself: magnitudes of 1e-30 order, the walk stopped by the trace end.
  struct Case {
    double last, fraction;
  };
  const Case cases[] = {{2.5e-30, 0}, {1.5e-30, (3e-30 - 1e-31) * rx::kSampleUs / 1.5e-30}};
  for (const Case& c : cases) {
    Trace tiny{std::vector<double>(100, 3e-30)};
    tiny.v[99] = c.last;
    EXPECT_DOUBLE_EQ(tiny.right(50, 1e-31), 98 * rx::kSampleUs + c.fraction) << c.last;
  }
}

}  // namespace
