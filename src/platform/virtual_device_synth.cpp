#include "platform/virtual_device_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/device_codes.h"

bool VirtualSynthesizer::isKnownEndpoint(std::uint8_t endpoint) {
  return endpoint == kStatusEndpoint || endpoint == kReceiveEndpoint || endpoint == kCommandEndpoint;
}

int VirtualSynthesizer::handleRequest(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                                      EndpointSizes& sizes) {
  DriverRequest r;
  if (const int e = parseDriverRequest(code, buffer, length, &r)) return e;
  if (!isKnownEndpoint(r.endpoint)) return device_error::kInvalid;
  if (r.kind == DriverRequest::Kind::SetTransferSize) {
    sizes.set(r.endpoint, r.size);
    return 0;
  }
  if (const int e = sizes.check(r.endpoint, r.size)) return e;
  return transfer(r.endpoint, buffer + driver_ioctl::kHeaderSize, r.size);
}

int VirtualSynthesizer::transfer(std::uint8_t endpoint, std::uint8_t* payload, std::uint32_t length) {
  switch (endpoint) {
    case kStatusEndpoint: {
      const auto report = statusReport();
      const std::uint32_t n = std::min<std::uint32_t>(length, kStatusSize);
      std::memcpy(payload, report.data(), n);
      std::memset(payload + n, 0, length - n);
      return 0;
    }
    case kReceiveEndpoint: {
      fillSamples(samples_.data());
      const std::uint32_t n = std::min<std::uint32_t>(length / 2, kSamples);
      for (std::uint32_t i = 0; i < n; ++i) {
        payload[2 * i] = static_cast<std::uint8_t>(samples_[i]);
        payload[2 * i + 1] = static_cast<std::uint8_t>(samples_[i] >> 8);
      }
      std::memset(payload + 2 * n, 0, length - 2 * n);
      return 0;
    }
    case kCommandEndpoint: {
      const std::uint32_t n = std::min<std::uint32_t>(length, kCommandSize);
      command_.fill(0);
      std::memcpy(command_.data(), payload, n);
      if (onCommand) onCommand(command_.data());
      return 0;
    }
    default:
      return device_error::kInvalid;
  }
}

std::array<std::uint8_t, VirtualSynthesizer::kStatusSize> VirtualSynthesizer::statusReport() const {
  const auto& c = command_;
  std::array<std::uint8_t, kStatusSize> b{};
  b[0] = c[0];
  const int rangeCode = (c[1] >> 3) & 3;
  b[1] = static_cast<std::uint8_t>((c[1] & 0x01) | (c[2] == 0xFF ? 0x04 : 0) | (rangeCode == 0 ? 0x08 : 0) |
                                   ((c[56] & 0x0F) << 4));
  b[2] = static_cast<std::uint8_t>((c[3] & 7) | ((c[30] & 7) << 4));
  // Amplitude and frequency words of both channels, 24 bits each, as sent.
  std::memcpy(&b[3], &c[6], 3);
  std::memcpy(&b[6], &c[19], 3);
  std::memcpy(&b[9], &c[33], 3);
  std::memcpy(&b[12], &c[46], 3);
  b[15] = scene_;
  b[16] = static_cast<std::uint8_t>(probeHz_ >> 8);  // big-endian, unlike everything else
  b[17] = static_cast<std::uint8_t>(probeHz_);
  return b;
}

double VirtualSynthesizer::voltsPerCount() const {
  // Range code 0 is the 300 V input; 1 and 3 are both 150 V (3 is written 3 * 50 / 256 by
  // the receive view); 2 is never sent and is read as 150 V.
  return ((command_[1] >> 3) & 3) == 0 ? 300.0 / 256.0 : 150.0 / 256.0;
}

void VirtualSynthesizer::fillSamples(std::uint16_t* samples) {
  constexpr double kSampleUs = 0.005;
  constexpr int kEdge = 3;  // samples of rise and of fall
  const double top = std::isfinite(pulseVolts_) ? pulseVolts_ / voltsPerCount() : 0.0;
  const double widthSamples = std::isfinite(pulseUs_) ? std::round(pulseUs_ / kSampleUs) : 0.0;
  // Beyond the buffer end a longer pulse looks the same; the clamp keeps the arithmetic in int.
  const int width = int(std::clamp(widthSamples, 0.0, double(kSamples)));
  const int end = kPulseStart + width;
  std::uniform_int_distribution<int> noise(-2, 2);
  for (int n = 0; n < kSamples; ++n) {
    // A trapezoid whose half-amplitude points are width samples apart.
    double f = 0.0;
    if (width > 0)
      f = std::clamp(double(std::min(n - kPulseStart + 1, end + kEdge - n)) / (kEdge + 1), 0.0, 1.0);
    const double count = std::round(kZeroCount + f * top) + noise(noise_);
    samples[n] = static_cast<std::uint16_t>(std::clamp(count, 0.0, 65535.0));
  }
}
