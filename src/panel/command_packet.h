#pragma once
// The 64-byte command packet sent to the synthesizer every cycle, built from a
// snapshot of the panel's active pages. Multi-byte fields are big-endian.

#include <cstdint>
#include <span>

inline constexpr int kCommandPacketSize = 64;

// Modes: the page index of a channel's page control.
enum ChannelMode : int { ModePulse = 0, ModeASeries = 1, ModeFSeries = 2, ModeSine = 3, ModeOff = 4 };

// What one channel's active page holds. Only the fields of the active mode are read.
struct ChannelSettings {
  int mode = ModePulse;      // active page; outside 0-4 the block keeps the "off" presets
  bool rfModulation = true;  // pulse and sine pages
  int signItem = 0;          // 0 "+", 1 "-"
  long double amplitudeDb = 0;
  long double lossDb = 0;  // A series only
  long double delayUs = 0;
  long double durationUs = 0;
  long double pauseUs = 0;  // series only
  int pulseCount = 1;       // series only
  long double frequencyMHz = 0;
  long double frequencyStepMHz = 0;  // F series only
  bool am = false;                   // pulse and sine pages
  long double amFrequencyKHz = 0;
  bool dividerIn = false;  // channel 1: the active page's "divider 20 dB" box (the off page's one on page 4)
  bool calibration = false;  // sine page's calibration box (counted only in mode 3)
};

struct PanelSettings {
  int syncLevel = -20;     // -120..120 %
  int syncEdgeItem = 0;    // 0 negative, 1 positive
  int inputRangeCode = 0;  // 0, 1 or 3, kept by the receive view
  bool load50Ohm = false;
  ChannelSettings channel[2];
  int syncMode = 0;  // 0 auto, 1 external, 2 clock
  long double clockPeriodUs = 1000;
};

// Writes bytes 0-59 of packet; bytes 60-63 are left as they are.
void buildCommandPacket(const PanelSettings& panel, std::span<std::uint8_t, kCommandPacketSize> packet);
