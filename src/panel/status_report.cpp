#include "panel/status_report.h"

#include <cmath>

namespace {

QString hex2(std::uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); }

std::uint32_t be24(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}

QString pageCaption(const QStringList& pages, int index) {
  return index >= 0 && index < pages.size() ? pages[index] : QStringLiteral("???");
}

}  // namespace

long double statusAmplitudeDb(std::uint32_t word24) {
  const long double x = static_cast<long double>((word24 >> 10) + 1);
  return 20.0L * std::log10(x / 256.0L / 64.0L);
}

StatusTexts decodeStatusReport(const std::array<std::uint8_t, kStatusReportSize>& r, std::uint32_t errorCode,
                               const StatusCaptions& captions, const FormatSettings& fs) {
  StatusTexts t;
  const std::uint8_t* b = r.data();

  // The error code keeps all its digits when it needs more than four.
  QString bar = QStringLiteral("Cod=") + QString::number(errorCode, 16).toUpper().rightJustified(4, u'0') +
                QStringLiteral("h, Пакет - ");
  bar += hex2(b[0]) + "h " + hex2(b[1]) + "h " + hex2(b[2]) + "h ";
  for (int field : {3, 6, 9, 12}) bar += hex2(b[field]) + hex2(b[field + 1]) + hex2(b[field + 2]) + "h ";
  bar += hex2(b[15]) + "h " + hex2(b[16]) + hex2(b[17]) + "h ";
  t.statusBar = bar;

  t.s4Level = QString::number(128 - int(b[0])) + u'%';
  t.s1Range = (b[1] & 0x08) ? QStringLiteral("300В") : QStringLiteral("150В");
  t.s3Edge = (b[1] & 0x01) ? QStringLiteral("+") : QStringLiteral("-");
  // Only 0-2 are sync modes; other codes are shown as unknown rather than as a wrong mode.
  t.s2SyncMode = pageCaption(captions.syncPages, b[1] >> 4);
  t.dac1Mode = pageCaption(captions.ch1Pages, std::min(b[2] & 7, 4));
  t.dac2Mode = pageCaption(captions.ch2Pages, std::min((b[2] >> 4) & 7, 4));

  const QString ampl1 = formatFloat(u"0.00", statusAmplitudeDb(be24(b + 3)), fs);
  t.ampl1 = ampl1 + ((b[1] & 0x04) ? QStringLiteral(" дБ") : QStringLiteral(" -20дБ"));
  t.f1 = formatFloat(u"0.000 00 МГц", static_cast<long double>(be24(b + 6)) / 83886.08L, fs);
  t.ampl2 = formatFloat(u"0.00 дБ", statusAmplitudeDb(be24(b + 9)), fs);
  t.f2 = formatFloat(u"0.000 00 МГц", static_cast<long double>(be24(b + 12)) / 83886.08L, fs);
  t.sceneRequest = b[15];
  t.probeFrequency = formatFloat(u"## ##0 Гц", static_cast<long double>(b[16] * 256 + b[17]), fs);
  return t;
}
