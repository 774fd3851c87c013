#include "panel/command_packet.h"

#include "panel/device_codes.h"

using namespace device_codes;

namespace {

void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void put24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 16);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v);
}

constexpr std::uint8_t onOff(bool on) { return on ? 0xFF : 0x00; }

// Fills the 26 bytes after the block's first byte (mode .. AM frequency).
void fillChannelBlock(const ChannelSettings& c, std::uint8_t* b) {
  // Presets: the "off" column.
  std::uint8_t mode = static_cast<std::uint8_t>(c.mode);
  std::uint8_t rf = 0x00;
  std::uint8_t sign = 1;
  std::uint32_t amplitude = kMax32;
  std::uint32_t attenuation = kMax16;
  std::uint32_t delay = 1;
  std::uint32_t duration = 1;
  std::uint32_t pause = 1;
  std::uint32_t count = 1;
  std::uint32_t frequency = 0;
  std::uint32_t step = 0;
  std::uint8_t am = 0x00;
  std::uint32_t amFrequency = 0;

  const auto countOf = [](int n) -> std::uint32_t {
    return n < 0 ? 0 : n > 255 ? 255 : static_cast<std::uint32_t>(n);
  };
  const std::uint8_t signOf = c.signItem == 0 ? 1 : 0;

  switch (c.mode) {
    case ModePulse:
      rf = onOff(c.rfModulation);
      sign = signOf;
      amplitude = AmplitudeCode(c.amplitudeDb);
      delay = TimeCount(c.delayUs);
      duration = TimeCount(c.durationUs, kMax16);
      pause = 0;
      frequency = FrequencyCode(c.frequencyMHz);
      am = onOff(c.am);
      amFrequency = AmFrequencyCode(c.amFrequencyKHz);
      break;
    case ModeASeries:
    case ModeFSeries:
      rf = 0xFF;
      sign = signOf;
      amplitude = AmplitudeCode(c.amplitudeDb);
      if (c.mode == ModeASeries) attenuation = AttenuationCode(c.lossDb);
      delay = TimeCount(c.delayUs);
      duration = SeriesTimeCount(c.durationUs);
      pause = SeriesTimeCount(c.pauseUs);
      count = countOf(c.pulseCount);
      frequency = FrequencyCode(c.frequencyMHz);
      if (c.mode == ModeFSeries) step = FrequencyCode(c.frequencyStepMHz);
      break;
    case ModeSine:
      rf = onOff(c.rfModulation);
      sign = signOf;
      amplitude = AmplitudeCode(c.amplitudeDb);
      frequency = FrequencyCode(c.frequencyMHz);
      am = onOff(c.am);
      amFrequency = AmFrequencyCode(c.amFrequencyKHz);
      break;
    default:
      break;
  }

  b[1] = mode;
  b[2] = rf;
  b[3] = sign;
  put24(b + 4, amplitude >> 8);
  put16(b + 7, attenuation);
  put24(b + 9, delay);
  put16(b + 12, duration);
  put16(b + 14, pause);
  b[16] = static_cast<std::uint8_t>(count);
  put24(b + 17, frequency);
  put24(b + 20, step);
  b[23] = am;
  put24(b + 24, amFrequency);
}

}  // namespace

void buildCommandPacket(const PanelSettings& panel, std::span<std::uint8_t, kCommandPacketSize> packet) {
  std::uint8_t* p = packet.data();
  p[0] = static_cast<std::uint8_t>((panel.syncLevel + 128) & 0xFF);
  p[1] = static_cast<std::uint8_t>((panel.syncEdgeItem == 1 ? 0x01 : 0x00) |
                                   ((panel.inputRangeCode & 0x03) << 3) | (panel.load50Ohm ? 0x20 : 0x00));

  const ChannelSettings& c1 = panel.channel[0];
  const ChannelSettings& c2 = panel.channel[1];
  // Divider byte: 0x00 means the 20 dB divider is in. Pages outside 0-4 keep the preset.
  p[2] = (c1.mode >= ModePulse && c1.mode <= ModeOff && c1.dividerIn) ? 0x00 : 0xFF;
  fillChannelBlock(c1, p + 2);
  const int calibration =
      (c1.mode == ModeSine && c1.calibration ? 1 : 0) + (c2.mode == ModeSine && c2.calibration ? 2 : 0);
  p[29] = static_cast<std::uint8_t>(calibration);
  fillChannelBlock(c2, p + 29);

  p[56] = static_cast<std::uint8_t>(panel.syncMode);
  put24(p + 57, ClockPeriodCount(panel.clockPeriodUs));
}
