#pragma once
// The numbers of the receive view, kept apart from the window: samples to counts, the
// smoothing filter, the running averages of the read-outs, the read-out texts and the
// pulse search. Times are in microseconds, trace values in volts, RxData in counts.

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "base/number_text.h"

namespace rx {

inline constexpr int kSamples = 4096;                   // one receive buffer, one sample every 5 ns
inline constexpr int kSkipped = 32;                     // samples 0-31 carry no signal
inline constexpr int kRefreshed = kSamples - kSkipped;  // RxData positions 0-4063 come from a buffer
inline constexpr int kZeroCount = 255;                  // the count of 0 V
inline constexpr double kSampleUs = 0.005;
inline constexpr int kMaxDisplayLength = 4008;  // width slider at 99

// The 12 taps of the smoothing filter. They add up to 1.0216, not 1: a constant input comes
// out 2.16 % higher, and the readings of the instrument were always taken that way.
inline constexpr std::array<double, 12> kSmoothingTaps{+0.01666, +0.0294,  -0.04778, -0.07793,
                                                       +0.14275, +0.4477,  +0.4477,  +0.14275,
                                                       -0.07793, -0.04778, +0.0294,  +0.01666};

using Samples = std::span<const std::uint16_t, kSamples>;
using RxData = std::array<double, kSamples>;

// RxData[j] = sample[j + 32] - 255 for j = 0..4063; positions 4064-4095 are left alone.
void convertSamples(Samples samples, RxData& data);

// The filter runs in place with the position rising from 1 to 4084, so every sum reads
// values this pass has not smoothed yet; position 0 is never smoothed. The output at p is
// centred 5.5 samples after p. No allocation.
void smoothInPlace(RxData& data);

// Points shown for a width slider position (0..99): 48 to 4008.
constexpr int displayLength(int widthPosition) { return widthPosition * 40 + 48; }
// Time of trace point i: the first point lies at -0.16 us.
constexpr double traceTime(int i) { return (i - kSkipped) * kSampleUs; }
// Time at which the sync-level arrow ends, left of zero, longer as the span grows.
constexpr double syncArrowTime(int widthPosition) { return -(widthPosition + 15) * kSampleUs; }

// Snaps a time to the sample grid toward zero (1.2376 -> 1.235).
double snapToSample(double t);
// The trace point a marker at time t reads: t rounded to the nearest sample, plus 32. Can pass
// the last point when the chart was scrolled beyond the trace end.
int markerTraceIndex(double t);

// A running average over the last N values; every slot starts at zero, and the average always
// divides by N, so the first N - 1 averages still carry the zeros of the start.
template <int N>
class History {
 public:
  void push(double v) {
    values_[next_] = v;
    next_ = (next_ + 1) % N;
  }
  double average() const {
    double sum = 0;
    for (double v : values_) sum += v;
    return sum / N;
  }

 private:
  std::array<double, N> values_{};
  int next_ = 0;
};

// Read-out texts. The voltage texts end in a Latin B (as on the device's panel), the marks of
// the chart in a Cyrillic В.
QString voltageText(double v, const FormatSettings& fs);     // "  051 B", "  -12.3 B"
QString markerTimeText(double t, const FormatSettings& fs);  // " 1,235 мкс"
QString pulseWidthText(double w, const FormatSettings& fs);  // "  0,250 мкс"
QString peakMarkFormat(double peak);                         // "#00 В" beyond +-50 V, else "#0.0 В"

// Peak search of the pulse measurement over points 10..n-10. Without a value beyond 0 in the
// searched direction the peak stays 0 at point 20; ties keep the first point.
struct Peak {
  double value = 0;
  int index = 20;
};

template <class Y>
Peak findPeak(int n, bool positive, Y y) {
  Peak p;
  for (int i = 10; i <= n - 10; ++i) {
    const double v = y(i);
    if (positive ? v > p.value : v < p.value) {
      p.value = v;
      p.index = i;
    }
  }
  return p;
}

// Differences of magnitude up to this count as equal: no interpolation between such points.
inline constexpr double kFlatStep = 1e-30;

// The time where the trace, walking right from the peak at ip, first stops being beyond the
// level (by magnitude), interpolated linearly between the last point beyond and the first not.
template <class X, class Y>
double rightCrossing(int n, int ip, double level, X x, Y y) {
  const double lv = std::abs(level);
  double r = x(ip);
  int i = ip;
  while (i < n - 1 && std::abs(y(i)) > lv) {
    r = x(i);
    ++i;
  }
  const int j = i > 0 ? i - 1 : i;
  const double d = std::abs(y(j)) - std::abs(y(i));
  const double f = std::abs(d) <= kFlatStep ? 0.0 : (std::abs(y(j)) - lv) * kSampleUs / d;
  return r + f;
}

// The same walking left; the walk stops at point 1.
template <class X, class Y>
double leftCrossing(int n, int ip, double level, X x, Y y) {
  const double lv = std::abs(level);
  double l = x(ip);
  int i = ip;
  while (i > 1 && std::abs(y(i)) > lv) {
    l = x(i);
    --i;
  }
  const int j = i < n - 1 ? i + 1 : i;
  const double d = std::abs(y(j)) - std::abs(y(i));
  const double f = std::abs(d) <= kFlatStep ? 0.0 : (std::abs(y(j)) - lv) * kSampleUs / d;
  return l - f;
}

}  // namespace rx
