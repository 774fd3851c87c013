// libFuzzer target: any 32 bytes as the synthesizer's status report, with any error code, decoded
// into the panel's texts. No crash, no undefined behaviour; every text is there and no number
// reads as infinity or "nan", whatever the device sends.
//
// Input: the 32 report bytes, the error code (4 bytes, little-endian), one byte choosing the
// separators and whether the page captions are complete (short caption lists must not be read
// past their end). Missing bytes are zero.

#include <QString>
#include <QStringList>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "panel/status_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::array<std::uint8_t, 37> in{};
  std::memcpy(in.data(), data, std::min(size, in.size()));
  std::array<std::uint8_t, kStatusReportSize> report{};
  std::memcpy(report.data(), in.data(), report.size());
  const std::uint32_t error = std::uint32_t(in[32]) | std::uint32_t(in[33]) << 8 |
                              std::uint32_t(in[34]) << 16 | std::uint32_t(in[35]) << 24;
  const std::uint8_t mode = in[36];

  StatusCaptions captions;
  captions.syncPages = {QStringLiteral("Авто"), QStringLiteral("Внешн"), QStringLiteral("Внутр")};
  for (QStringList* pages : {&captions.ch1Pages, &captions.ch2Pages})
    *pages = {QStringLiteral("Импульс"), QStringLiteral("А серия"), QStringLiteral("F серия"),
              QStringLiteral("Синус"), QStringLiteral("ВЫКЛ")};
  if (mode & 2) {
    captions.syncPages.removeLast();
    captions.ch1Pages.clear();
    captions.ch2Pages.removeLast();
  }
  const FormatSettings fs = (mode & 1) ? FormatSettings::russian() : FormatSettings::point();

  const StatusTexts t = decodeStatusReport(report, error, captions, fs);
  for (const QString* s : {&t.statusBar, &t.s4Level, &t.s1Range, &t.s3Edge, &t.s2SyncMode, &t.dac1Mode,
                           &t.dac2Mode, &t.ampl1, &t.f1, &t.ampl2, &t.f2, &t.probeFrequency}) {
    if (s->isEmpty()) std::abort();
    if (s->contains(QStringLiteral("inf"), Qt::CaseInsensitive) ||
        s->contains(QStringLiteral("nan"), Qt::CaseInsensitive))
      std::abort();
  }
  if (!t.statusBar.startsWith(QStringLiteral("Cod="))) std::abort();
  if (t.sceneRequest != report[15]) std::abort();
  // Every 24-bit amplitude word is a finite level.
  const std::uint32_t word = std::uint32_t(report[3]) << 16 | std::uint32_t(report[4]) << 8 | report[5];
  if (!std::isfinite(double(statusAmplitudeDb(word)))) std::abort();
  return 0;
}
