#include "panel/status_report.h"

#include <algorithm>
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

StatusFields decodeStatusFields(const std::array<std::uint8_t, kStatusReportSize>& r) {
  const std::uint8_t* b = r.data();
  StatusFields f;
  f.syncLevel = 128 - int(b[0]);
  f.range300 = b[1] & 0x08;
  f.edgePositive = b[1] & 0x01;
  f.syncMode = b[1] >> 4;
  f.mode1 = std::min(b[2] & 7, 4);
  f.mode2 = std::min((b[2] >> 4) & 7, 4);
  f.ampl1Db = statusAmplitudeDb(be24(b + 3));
  f.f1MHz = static_cast<long double>(be24(b + 6)) / 83886.08L;
  f.ampl2Db = statusAmplitudeDb(be24(b + 9));
  f.f2MHz = static_cast<long double>(be24(b + 12)) / 83886.08L;
  f.divider1In = !(b[1] & 0x04);
  f.sceneRequest = b[15];
  f.probeHz = b[16] * 256 + b[17];
  return f;
}

StatusTexts decodeStatusReport(const std::array<std::uint8_t, kStatusReportSize>& r, std::uint32_t errorCode,
                               const StatusCaptions& captions, const FormatSettings& fs) {
  StatusTexts t;
  const std::uint8_t* b = r.data();
  const StatusFields& f = t.fields = decodeStatusFields(r);

  // The error code keeps all its digits when it needs more than four.
  QString bar = QStringLiteral("Cod=") + QString::number(errorCode, 16).toUpper().rightJustified(4, u'0') +
                QStringLiteral("h, Пакет - ");
  bar += hex2(b[0]) + "h " + hex2(b[1]) + "h " + hex2(b[2]) + "h ";
  for (int field : {3, 6, 9, 12}) bar += hex2(b[field]) + hex2(b[field + 1]) + hex2(b[field + 2]) + "h ";
  bar += hex2(b[15]) + "h " + hex2(b[16]) + hex2(b[17]) + "h ";
  t.statusBar = bar;

  t.s4Level = QString::number(f.syncLevel) + u'%';
  t.s1Range = f.range300 ? QStringLiteral("300В") : QStringLiteral("150В");
  t.s3Edge = f.edgePositive ? QStringLiteral("+") : QStringLiteral("-");
  // Only 0-2 are sync modes; other codes are shown as unknown rather than as a wrong mode.
  t.s2SyncMode = pageCaption(captions.syncPages, f.syncMode);
  t.dac1Mode = pageCaption(captions.ch1Pages, f.mode1);
  t.dac2Mode = pageCaption(captions.ch2Pages, f.mode2);

  const QString ampl1 = formatFloat(u"0.00", f.ampl1Db, fs);
  t.ampl1 = ampl1 + (f.divider1In ? QStringLiteral(" -20дБ") : QStringLiteral(" дБ"));
  t.f1 = formatFloat(u"0.000 00 МГц", f.f1MHz, fs);
  t.ampl2 = formatFloat(u"0.00 дБ", f.ampl2Db, fs);
  t.f2 = formatFloat(u"0.000 00 МГц", f.f2MHz, fs);
  t.sceneRequest = f.sceneRequest;
  t.probeFrequency = formatFloat(u"## ##0 Гц", static_cast<long double>(f.probeHz), fs);
  return t;
}
