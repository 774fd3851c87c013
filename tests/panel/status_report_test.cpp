#include "panel/status_report.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const StatusCaptions kCaptions{
    {"Авто", "Внешняя (от ЗИ)", "Тактовый генератор"},
    {"Импульс", "А серия", "F серия", "Синус", "ВЫКЛ"},
    {"Импульс", "А серия", "F серия", "Синус", "ВЫКЛ"},
};

std::array<std::uint8_t, 32> report(std::initializer_list<int> head) {
  std::array<std::uint8_t, 32> r{};
  int i = 0;
  for (int b : head) r[i++] = static_cast<std::uint8_t>(b);
  return r;
}

}  // namespace

TEST(StatusReport, KnownReportInBothLocales) {
  const auto r = report({0x6C, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x33, 0x33, 0xC4,
                         0x71, 0xCD, 0x03, 0x33, 0x33, 0x00, 0x03, 0xE8, 0x77, 0x77});
  const StatusTexts t = decodeStatusReport(r, 0x3E5, kCaptions, FormatSettings::point());
  EXPECT_EQ(t.statusBar, "Cod=03E5h, Пакет - 6Ch 09h 00h FFFFFFh 033333h C471CDh 033333h 00h 03E8h ");
  EXPECT_EQ(t.s4Level, "20%");
  EXPECT_EQ(t.s1Range, "300В");
  EXPECT_EQ(t.s3Edge, "+");
  EXPECT_EQ(t.s2SyncMode, "Авто");
  EXPECT_EQ(t.dac1Mode, "Импульс");
  EXPECT_EQ(t.dac2Mode, "Импульс");
  EXPECT_EQ(t.ampl1, "0.00 -20дБ");
  EXPECT_EQ(t.f1, "2.500 00 МГц");
  EXPECT_EQ(t.ampl2, "-2.30 дБ");
  EXPECT_EQ(t.f2, "2.500 00 МГц");
  EXPECT_EQ(t.probeFrequency, "1 000 Гц");
  EXPECT_EQ(t.sceneRequest, 0);

  const StatusTexts ru = decodeStatusReport(r, 0x3E5, kCaptions, FormatSettings::russian());
  EXPECT_EQ(ru.ampl2, "-2,30 дБ");
  EXPECT_EQ(ru.f1, "2,500 00 МГц");
  EXPECT_EQ(ru.probeFrequency, "1 000 Гц") << "the blank is part of the picture, not a locale separator";
}

TEST(StatusReport, AllZeroReport) {
  const StatusTexts t = decodeStatusReport(report({}), 0, kCaptions, FormatSettings::point());
  EXPECT_EQ(t.statusBar, "Cod=0000h, Пакет - 00h 00h 00h 000000h 000000h 000000h 000000h 00h 0000h ");
  EXPECT_EQ(t.s4Level, "128%");
  EXPECT_EQ(t.s1Range, "150В");
  EXPECT_EQ(t.s3Edge, "-");
  EXPECT_EQ(t.ampl1, "-84.29 -20дБ");
  EXPECT_EQ(t.probeFrequency, " 0 Гц");
}

TEST(StatusReport, FieldDecodingTable) {
  struct Case {
    const char* name;
    std::array<std::uint8_t, 32> r;
    std::uint32_t code;
    QString StatusTexts::*field;
    QString expected;
  } cases[] = {
      {"ampl FFFFFF", report({0, 0x04, 0, 0xFF, 0xFF, 0xFF}), 0, &StatusTexts::ampl1, "0.00 дБ"},
      {"ampl C471CD", report({0, 0x04, 0, 0xC4, 0x71, 0xCD}), 0, &StatusTexts::ampl1, "-2.30 дБ"},
      {"ampl 004189", report({0, 0x04, 0, 0x00, 0x41, 0x89}), 0, &StatusTexts::ampl1, "-59.68 дБ"},
      {"ampl2 000000", report({}), 0, &StatusTexts::ampl2, "-84.29 дБ"},
      {"freq 147AE1", report({0, 0, 0, 0, 0, 0, 0x14, 0x7A, 0xE1}), 0, &StatusTexts::f1, "16.000 00 МГц"},
      {"freq 0020C4", report({0, 0, 0, 0, 0, 0, 0x00, 0x20, 0xC4}), 0, &StatusTexts::f1, "0.099 99 МГц"},
      {"level 0x80", report({0x80}), 0, &StatusTexts::s4Level, "0%"},
      {"level 0x08", report({0x08}), 0, &StatusTexts::s4Level, "120%"},
      {"level 0x94", report({0x94}), 0, &StatusTexts::s4Level, "-20%"},
      {"level 0xFF", report({0xFF}), 0, &StatusTexts::s4Level, "-127%"},
      {"mode 0x34 ch1", report({0, 0, 0x34}), 0, &StatusTexts::dac1Mode, "ВЫКЛ"},
      {"mode 0x34 ch2", report({0, 0, 0x34}), 0, &StatusTexts::dac2Mode, "Синус"},
      {"mode 0x07 ch1", report({0, 0, 0x07}), 0, &StatusTexts::dac1Mode, "ВЫКЛ"},
      {"mode 0x07 ch2", report({0, 0, 0x07}), 0, &StatusTexts::dac2Mode, "Импульс"},
      {"mode bits 3 and 7 ignored", report({0, 0, 0x9A}), 0, &StatusTexts::dac1Mode, "F серия"},
      {"sync ext", report({0, 0x10}), 0, &StatusTexts::s2SyncMode, "Внешняя (от ЗИ)"},
      {"sync clock", report({0, 0x20}), 0, &StatusTexts::s2SyncMode, "Тактовый генератор"},
      {"sync 3 unknown", report({0, 0x30}), 0, &StatusTexts::s2SyncMode, "???"},
      {"sync 15 unknown", report({0, 0xF0}), 0, &StatusTexts::s2SyncMode, "???"},
      {"probe 65535", report({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}), 0,
       &StatusTexts::probeFrequency, "65 535 Гц"},
  };
  for (const auto& c : cases) {
    const StatusTexts t = decodeStatusReport(c.r, c.code, kCaptions, FormatSettings::point());
    EXPECT_EQ(t.*(c.field), c.expected) << c.name;
  }
  const StatusTexts big = decodeStatusReport(report({}), 0x12345, kCaptions, FormatSettings::point());
  EXPECT_TRUE(big.statusBar.startsWith("Cod=12345h, ")) << big.statusBar.toStdString();
  const StatusTexts scene = decodeStatusReport(report({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A}), 0,
                                               kCaptions, FormatSettings::point());
  EXPECT_EQ(scene.sceneRequest, 10);
  EXPECT_TRUE(scene.statusBar.contains(" 0Ah "));
}

TEST(StatusReport, AnyBytesAndAnyCodeDecodeToKnownTexts) {
  std::mt19937 rng(418);
  std::uniform_int_distribution<int> byte(0, 255);
  const QStringList modes = kCaptions.ch1Pages;
  for (int n = 0; n < 20000; ++n) {
    std::array<std::uint8_t, 32> r;
    for (auto& b : r) b = static_cast<std::uint8_t>(byte(rng));
    const std::uint32_t code = static_cast<std::uint32_t>(rng());
    const StatusTexts t = decodeStatusReport(r, code, kCaptions, FormatSettings::russian());
    ASSERT_TRUE(modes.contains(t.dac1Mode) && modes.contains(t.dac2Mode));
    ASSERT_TRUE(kCaptions.syncPages.contains(t.s2SyncMode) || t.s2SyncMode == "???");
    ASSERT_TRUE(t.ampl1.endsWith("дБ") && !t.ampl1.contains("nan") && !t.ampl1.contains("inf"));
    ASSERT_TRUE(t.statusBar.startsWith("Cod=")) << t.statusBar.toStdString();
  }
}
