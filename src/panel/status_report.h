#pragma once
// Decoding of the 32-byte status report into the texts the panel shows.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "base/number_text.h"

inline constexpr int kStatusReportSize = 32;

struct StatusTexts {
  QString statusBar;  // "Cod=...h, Пакет - ..." (the raw bytes 0-17)
  QString s4Level;    // sync level, "20%"
  QString s1Range;    // input range
  QString s3Edge;     // sync edge
  QString s2SyncMode;
  QString dac1Mode, dac2Mode;
  QString ampl1, f1, ampl2, f2;
  QString probeFrequency;  // for the receive view
  std::uint8_t sceneRequest = 0;
};

// Page captions of the panel's page controls, in page order.
struct StatusCaptions {
  QStringList syncPages;  // 3 pages
  QStringList ch1Pages;   // 5 pages
  QStringList ch2Pages;   // 5 pages
};

StatusTexts decodeStatusReport(const std::array<std::uint8_t, kStatusReportSize>& report,
                               std::uint32_t errorCode, const StatusCaptions& captions,
                               const FormatSettings& fs);

// The level in dB of a 24-bit amplitude word: 20 log10(((v div 1024) + 1) / 16384).
long double statusAmplitudeDb(std::uint32_t word24);
