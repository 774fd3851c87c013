#include "panel/command_packet.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "panel/device_codes.h"

namespace {

using Bytes = std::vector<int>;

// The panel as it comes up without a state file.
PanelSettings defaultPanel() {
  PanelSettings p;
  for (auto& c : p.channel) {
    c.mode = ModePulse;
    c.rfModulation = true;
    c.signItem = 0;
    c.amplitudeDb = -2.3L;
    c.lossDb = -6;
    c.delayUs = 100.245L;
    c.durationUs = 100.245L;
    c.pauseUs = 100.245L;
    c.pulseCount = 10;
    c.frequencyMHz = 2.5L;
    c.frequencyStepMHz = 0.5L;
    c.am = false;
    c.amFrequencyKHz = 1;
  }
  return p;
}

std::array<std::uint8_t, 64> build(const PanelSettings& p) {
  std::array<std::uint8_t, 64> packet{};
  buildCommandPacket(p, packet);
  return packet;
}

Bytes slice(const std::array<std::uint8_t, 64>& a, int from, int count) {
  return Bytes(a.begin() + from, a.begin() + from + count);
}

const Bytes kOffBlockTail = {0x04, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
                             0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes withHead(int head, const Bytes& tail) {
  Bytes b{head};
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

}  // namespace

TEST(CommandPacket, DefaultPanelGivesTheKnownPacket) {
  const auto packet = build(defaultPanel());
  const Bytes block = {0xFF, 0x00, 0xFF, 0x01, 0xC4, 0x71, 0xCD, 0xFF, 0xFF, 0x00, 0x4E, 0x51, 0x4E, 0x51,
                       0x00, 0x00, 0x01, 0x03, 0x33, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x7C};
  Bytes block2 = block;
  block2[0] = 0x00;
  EXPECT_EQ(slice(packet, 0, 2), (Bytes{0x6C, 0x00}));
  EXPECT_EQ(slice(packet, 2, 27), block);
  EXPECT_EQ(slice(packet, 29, 27), block2);
  EXPECT_EQ(slice(packet, 56, 8), (Bytes{0x00, 0x03, 0x0D, 0x40, 0x00, 0x00, 0x00, 0x00}));
}

TEST(CommandPacket, LastFourBytesAreNeverWritten) {
  std::array<std::uint8_t, 64> packet;
  packet.fill(0xA5);
  buildCommandPacket(defaultPanel(), packet);
  EXPECT_EQ(slice(packet, 60, 4), (Bytes{0xA5, 0xA5, 0xA5, 0xA5}));
}

TEST(CommandPacket, OffChannels) {
  struct Case {
    const char* name;
    int ch1Mode;
    bool ch1OffDivider;
    bool ch1Calibrating;
    int from;
    Bytes expected;
  } cases[] = {
      {"channel 1 off with its off-page divider", ModeOff, true, false, 2, withHead(0x00, kOffBlockTail)},
      {"channel 1 off without divider", ModeOff, false, false, 2, withHead(0xFF, kOffBlockTail)},
      {"channel 2 off", ModePulse, false, false, 29, withHead(0x00, kOffBlockTail)},
      {"channel 2 off while channel 1 calibrates", ModeSine, false, true, 29, withHead(0x01, kOffBlockTail)},
  };
  for (const auto& c : cases) {
    PanelSettings p = defaultPanel();
    p.channel[0].mode = c.ch1Mode;
    p.channel[0].dividerIn = c.ch1OffDivider;
    p.channel[0].calibration = c.ch1Calibrating;
    p.channel[1].mode = ModeOff;
    EXPECT_EQ(slice(build(p), c.from, 27), c.expected) << c.name;
  }
}

TEST(CommandPacket, FieldsByModeAndValue) {
  struct Case {
    const char* name;
    void (*set)(ChannelSettings&);
    int offset;  // inside the packet (channel 1 block at 2)
    Bytes expected;
  } cases[] = {
      {"amplitude 0 dB", [](ChannelSettings& c) { c.amplitudeDb = 0; }, 6, {0xFF, 0xFF, 0xFF}},
      {"amplitude -60 dB", [](ChannelSettings& c) { c.amplitudeDb = -60; }, 6, {0x00, 0x41, 0x89}},
      {"amplitude above 0 dB saturates",
       [](ChannelSettings& c) { c.amplitudeDb = 3; },
       6,
       {0xFF, 0xFF, 0xFF}},
      {"A series duration 0.05 us",
       [](ChannelSettings& c) { c.mode = ModeASeries, c.durationUs = 0.05L; },
       14,
       {0x00, 0x08}},
      {"pulse duration 0.05 us", [](ChannelSettings& c) { c.durationUs = 0.05L; }, 14, {0x00, 0x0A}},
      {"series duration 0.005 us saturates at 0",
       [](ChannelSettings& c) { c.mode = ModeFSeries, c.durationUs = 0.005L; },
       14,
       {0x00, 0x00}},
      {"series pause 400 us saturates",
       [](ChannelSettings& c) { c.mode = ModeASeries, c.pauseUs = 400; },
       16,
       {0xFF, 0xFF}},
      {"pulse duration 400 us saturates", [](ChannelSettings& c) { c.durationUs = 400; }, 14, {0xFF, 0xFF}},
      {"A series attenuation -6 dB",
       [](ChannelSettings& c) { c.mode = ModeASeries, c.lossDb = -6; },
       9,
       {0x80, 0x4D}},
      {"delay 80000 us", [](ChannelSettings& c) { c.delayUs = 80000; }, 11, {0xF4, 0x24, 0x00}},
      {"negative delay from a file", [](ChannelSettings& c) { c.delayUs = -5; }, 11, {0x00, 0x00, 0x00}},
      {"A series sends no step, no AM",
       [](ChannelSettings& c) { c.mode = ModeASeries, c.am = true; },
       22,
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"AM frequency 100 kHz",
       [](ChannelSettings& c) { c.am = true, c.amFrequencyKHz = 100; },
       25,
       {0xFF, 0x04, 0x18, 0x93}},
      {"frequency 16 MHz", [](ChannelSettings& c) { c.frequencyMHz = 16; }, 19, {0x14, 0x7A, 0xE1}},
      {"page index outside 0-4 keeps off presets", [](ChannelSettings& c) { c.mode = 7, c.dividerIn = true; },
       2,
       withHead(0xFF, Bytes{0x07, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
                            0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})},
  };
  for (const auto& c : cases) {
    PanelSettings p = defaultPanel();
    c.set(p.channel[0]);
    const auto packet = build(p);
    EXPECT_EQ(slice(packet, c.offset, static_cast<int>(c.expected.size())), c.expected) << c.name;
    // The same settings on channel 2 land 27 bytes further on (its head byte is the calibration byte).
    if (c.offset > 2) {
      PanelSettings q = defaultPanel();
      c.set(q.channel[1]);
      EXPECT_EQ(slice(build(q), c.offset + 27, static_cast<int>(c.expected.size())), c.expected)
          << c.name << " (ch 2)";
    }
  }
}

TEST(CommandPacket, SyncAndInputBytes) {
  struct Case {
    int level, edge, range;
    bool load;
    int b0, b1;
  } cases[] = {
      {120, 0, 0, false, 0xF8, 0x00}, {-120, 0, 0, false, 0x08, 0x00}, {0, 0, 0, false, 0x80, 0x00},
      {-20, 1, 3, true, 0x6C, 0x39},  {-20, 0, 1, false, 0x6C, 0x08},
  };
  for (const auto& c : cases) {
    PanelSettings p = defaultPanel();
    p.syncLevel = c.level;
    p.syncEdgeItem = c.edge;
    p.inputRangeCode = c.range;
    p.load50Ohm = c.load;
    const auto packet = build(p);
    EXPECT_EQ(packet[0], c.b0) << c.level;
    EXPECT_EQ(packet[1], c.b1) << c.level;
  }
}

TEST(CommandPacket, CalibrationByteAndDividerByPage) {
  struct Case {
    int m1;
    bool cal1;
    int m2;
    bool cal2;
    int calibrationByte;
  } cases[] = {
      {ModeSine, true, ModeOff, false, 1},
      {ModeOff, false, ModeSine, true, 2},
      {ModePulse, true, ModeSine, false, 0},
      {ModeSine, true, ModeSine, true, 3},  // only reachable from a damaged file; the sum is sent as it is
  };
  for (const auto& c : cases) {
    PanelSettings p = defaultPanel();
    p.channel[0].mode = c.m1;
    p.channel[0].calibration = c.cal1;
    p.channel[1].mode = c.m2;
    p.channel[1].calibration = c.cal2;
    EXPECT_EQ(build(p)[29], c.calibrationByte);
  }
  for (int mode = 0; mode <= 4; ++mode) {
    PanelSettings p = defaultPanel();
    p.channel[0].mode = mode;
    p.channel[0].dividerIn = true;
    EXPECT_EQ(build(p)[2], 0x00) << mode;
    p.channel[1].dividerIn = true;  // channel 2 has no divider: its head byte stays the calibration byte
    EXPECT_EQ(build(p)[29], 0x00) << mode;
  }
}

TEST(CommandPacket, ClockPeriodKeepsLow24Bits) {
  struct Case {
    long double us;
    Bytes expected;
  } cases[] = {
      {1000, {0x03, 0x0D, 0x40}},       {10, {0x00, 0x07, 0xD0}},
      {83886.075L, {0xFF, 0xFF, 0xFF}}, {1000000, {0xEB, 0xC2, 0x00}},  // 200 000 000 = 0x0BEBC200
      {-1, {0x00, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    PanelSettings p = defaultPanel();
    p.clockPeriodUs = c.us;
    EXPECT_EQ(slice(build(p), 57, 3), c.expected) << static_cast<double>(c.us);
  }
}

TEST(DeviceCodes, ExtendedPrecisionTruncation) {
  using namespace device_codes;
  struct Case {
    long double us;
    std::uint32_t count;
  } cases[] = {{100.245L, 20049}, {1.005L, 201}, {4.015L, 802}, {8.03L, 1605}, {0.05L, 10}, {320, 64000}};
  for (const auto& c : cases) EXPECT_EQ(TimeCount(c.us), c.count) << static_cast<double>(c.us);
  EXPECT_EQ(TimeCount(std::numeric_limits<long double>::quiet_NaN()), 0u);
  EXPECT_EQ(TimeCount(1e30L), kMax24);
  EXPECT_EQ(AttenuationCode(5), kMax16);
  EXPECT_EQ(FrequencyCode(-1), 0u);
  EXPECT_EQ(AmFrequencyCode(1e9L), kMax24);
}
