#pragma once
// The synthesizer as the virtual back end plays it: the three endpoints of the real device
// with a status report that echoes the last command packet and a receive buffer holding one
// probe pulse. Used by qz418-sim and by the tests that stand in for the USB hardware.

#include <array>
#include <cstdint>
#include <functional>
#include <random>

#include "platform/device_request.h"

class VirtualSynthesizer {
 public:
  static constexpr std::uint8_t kStatusEndpoint = 0x86;
  static constexpr std::uint8_t kReceiveEndpoint = 0x82;
  static constexpr std::uint8_t kCommandEndpoint = 0x04;
  static constexpr int kStatusSize = 32;
  static constexpr int kCommandSize = 64;
  static constexpr int kSamples = 4096;  // 16-bit little-endian samples, one every 5 ns
  static constexpr int kReceiveSize = kSamples * 2;
  static constexpr int kZeroCount = 255;  // the count of 0 V
  static constexpr int kPulseStart = 400;

  // One driver request on buffer, handled as the driver and the device would: a size request
  // is recorded in sizes (the sizes of the connection it came on), a transfer is checked
  // against them and moves its payload. Returns 0 or an errno value (22 for an unknown
  // endpoint or a length other than the recorded size, 25 for an unknown code).
  int handleRequest(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, EndpointSizes& sizes);

  // One transfer on an endpoint, the size already checked: IN endpoints fill payload (up to
  // their natural length, zeros after it), the OUT endpoint takes a command packet (shorter
  // packets are padded with zeros). 22 for any other endpoint.
  int transfer(std::uint8_t endpoint, std::uint8_t* payload, std::uint32_t length);

  static bool isKnownEndpoint(std::uint8_t endpoint);

  void setSceneRequest(std::uint8_t scene) { scene_ = scene; }
  // Amplitude in volts, width in microseconds.
  void setPulse(double volts, double microseconds) { pulseVolts_ = volts, pulseUs_ = microseconds; }
  void setProbeFrequency(std::uint16_t hz) { probeHz_ = hz; }

  std::array<std::uint8_t, kStatusSize> statusReport() const;
  // Fills 4096 samples; the noise goes on from call to call, from a fixed seed.
  void fillSamples(std::uint16_t* samples);
  const std::array<std::uint8_t, kCommandSize>& lastCommand() const { return command_; }
  // Volts per count of the input range the last command packet selects.
  double voltsPerCount() const;

  // Called with every command packet taken from the OUT endpoint (64 bytes).
  std::function<void(const std::uint8_t*)> onCommand;

 private:
  std::array<std::uint8_t, kCommandSize> command_{};
  std::uint8_t scene_ = 0;
  std::uint16_t probeHz_ = 1000;
  double pulseVolts_ = 100.0;
  double pulseUs_ = 2.0;
  std::mt19937 noise_{418};
  std::array<std::uint16_t, kSamples> samples_{};
};
