#pragma once
// Conversions of panel values to the synthesizer's counts. Each step is done in the
// 80-bit extended type (so each product and quotient is rounded to extended, not to
// double) and the result is truncated toward zero: the device was calibrated against
// exactly these counts, and double precision gives different ones for hundreds of
// settable durations (1.005 us must give 201 counts, not 200).
//
// Values from scene and state files can lie outside the panel's limits; a count that
// does not fit its field saturates at the field's range instead of wrapping into
// wrong bytes. NaN counts as 0.

#include <cfloat>
#include <cmath>
#include <cstdint>

static_assert(LDBL_MANT_DIG == 64, "device counts need the 80-bit extended type");

namespace device_codes {

inline constexpr std::uint32_t kMax16 = 0xFFFF;
inline constexpr std::uint32_t kMax24 = 0xFFFFFF;
inline constexpr std::uint32_t kMax32 = 0xFFFFFFFF;

// Truncates toward zero and saturates into 0..maxCount.
inline std::uint32_t saturate(long double x, std::uint32_t maxCount) {
  if (!(x > 0.0L)) return 0;  // negative, zero and NaN
  const long double t = std::trunc(x);
  if (t >= static_cast<long double>(maxCount)) return maxCount;
  return static_cast<std::uint32_t>(t);
}

// One count is 5 ns: 200 counts per microsecond. Unsaturated, as an exact integer of the
// extended value (the clock period keeps its low 24 bits, the other fields saturate).
inline long double timeCountRaw(long double microseconds) {
  const long double ns = microseconds * 1000.0L;
  return std::trunc(ns / 5.0L);
}

// Delay: 24-bit field.
inline std::uint32_t TimeCount(long double microseconds, std::uint32_t maxCount = kMax24) {
  return saturate(timeCountRaw(microseconds), maxCount);
}

// Durations and pauses of the series are sent as count - 2 in a 16-bit field.
inline std::uint32_t SeriesTimeCount(long double microseconds) {
  const long double c = timeCountRaw(microseconds);
  return saturate(c - 2.0L, kMax16);
}

// Clock period: the low 24 bits of the count (the panel allows up to 1 s, which needs 28
// bits; the device reads 24). Negative and NaN periods give 0.
inline std::uint32_t ClockPeriodCount(long double microseconds) {
  const long double c = timeCountRaw(microseconds);
  if (!(c > 0.0L)) return 0;
  if (c >= 18446744073709551616.0L) return kMax24;  // beyond 64 bits nothing sensible remains
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(c) & kMax24);
}

// Level in dB (<= 0) to the 32-bit amplitude word; the packet carries its upper three bytes.
inline std::uint32_t AmplitudeCode(long double dB) {
  const long double ratio = std::pow(10.0L, dB / 20.0L);
  return saturate(ratio * 4294967295.0L, kMax32);
}

// Attenuation step per pulse in dB (<= 0), 16 bits.
inline std::uint32_t AttenuationCode(long double dB) {
  const long double ratio = std::pow(10.0L, dB / 20.0L);
  return saturate(ratio * 65535.0L, kMax16);
}

// Carrier frequency or frequency step in MHz, 24 bits (83886.08 = 2^24 / 200).
inline std::uint32_t FrequencyCode(long double megahertz) { return saturate(megahertz * 83886.08L, kMax24); }

// AM frequency in kHz, 24 bits.
inline std::uint32_t AmFrequencyCode(long double kilohertz) {
  return saturate(kilohertz * 2684.35456015625L, kMax24);
}

}  // namespace device_codes
