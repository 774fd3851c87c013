#include "rxview/rx_signal.h"

namespace rx {

void convertSamples(Samples samples, RxData& data) {
  for (int j = 0; j < kRefreshed; ++j) data[j] = double(samples[j + kSkipped]) - kZeroCount;
}

void smoothInPlace(RxData& data) {
  constexpr int kLast = kSamples - int(kSmoothingTaps.size());  // 4084: the last sum that fits
  for (int p = 1; p <= kLast; ++p) {
    double sum = 0;
    for (int n = 0; n < int(kSmoothingTaps.size()); ++n) sum += kSmoothingTaps[n] * data[p + n];
    data[p] = sum;
  }
}

double snapToSample(double t) {
  // Extended precision, as the grid arithmetic always was: 1.2376 / 0.005 = 247.52 -> 247.
  return double(std::trunc(static_cast<long double>(t) / 0.005L) * 0.005L);
}

int markerTraceIndex(double t) {
  const double n = std::trunc(t / kSampleUs + 0.5) + kSkipped;
  // Far beyond any trace; keeps the conversion defined for any axis range.
  if (!(n < 1e9)) return 1000000000;
  if (!(n > -1e9)) return -1000000000;
  return int(n);
}

QString voltageText(double v, const FormatSettings& fs) {
  const bool large = v > 50 || v < -50;
  return QStringLiteral("  ") + formatFloat(large ? u"000 B" : u"0.0 B", v, fs);
}

QString markerTimeText(double t, const FormatSettings& fs) { return formatFloat(u" #0.000 мкс", t, fs); }

QString pulseWidthText(double w, const FormatSettings& fs) {
  return QStringLiteral("  ") + formatFloat(u"0.000 мкс", w, fs);
}

QString peakMarkFormat(double peak) {
  return peak > 50 || peak < -50 ? QStringLiteral("#00 В") : QStringLiteral("#0.0 В");
}

}  // namespace rx
