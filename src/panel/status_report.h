#pragma once
// Decoding of the 32-byte status report: into values, and from them into the texts the panel
// shows. Remote control answers from the values, so rewording a label cannot change an answer.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "base/number_text.h"

inline constexpr int kStatusReportSize = 32;

// What the synthesizer reports, as values.
struct StatusFields {
  int syncLevel = 0;  // %, 128 - byte 0 ("Уровень синхр.")
  bool range300 = false;  // input range 300 V, else 150 V
  bool edgePositive = false;
  int syncMode = 0;  // 0 auto, 1 external, 2 clock; 3-15 name no mode
  int mode1 = 0, mode2 = 0;  // page of each output, 0-4 (codes 5-7 show as off, page 4)
  long double ampl1Db = 0, ampl2Db = 0;
  long double f1MHz = 0, f2MHz = 0;
  bool divider1In = false;  // output 1's 20 dB divider is in ("-20дБ"): bit 2 of byte 1 clear
  std::uint8_t sceneRequest = 0;
  int probeHz = 0;  // probe-pulse frequency
};

struct StatusTexts {
  StatusFields fields;  // what the texts show
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

StatusFields decodeStatusFields(const std::array<std::uint8_t, kStatusReportSize>& report);

StatusTexts decodeStatusReport(const std::array<std::uint8_t, kStatusReportSize>& report,
                               std::uint32_t errorCode, const StatusCaptions& captions,
                               const FormatSettings& fs);

// The level in dB of a 24-bit amplitude word: 20 log10(((v div 1024) + 1) / 16384).
long double statusAmplitudeDb(std::uint32_t word24);
