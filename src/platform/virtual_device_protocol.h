#pragma once
// The wire protocol between the program and a virtual synthesizer (qz418-sim or any other
// tool that speaks it). All integers little-endian.
//
// Request frame: u32 sequence number, u32 request code, u32 length N (at most 65 536), then
// the N bytes of the request buffer exactly as they would go to the driver.
// Answer frame: u32 the same sequence number, u32 error (0 or an errno value), u32 bytes
// returned (N on success, 0 on error; informational), u32 length N, then the N bytes of the
// buffer as the driver leaves it. Requests are answered one at a time, in order.

#include <cstdint>

namespace virtual_device {

inline constexpr std::uint32_t kMaxFrameLength = 65536;
inline constexpr int kRequestHeaderSize = 12;
inline constexpr int kAnswerHeaderSize = 16;
// Errors above this are not errno values: such an answer is malformed.
inline constexpr std::uint32_t kMaxErrorValue = 4095;

inline constexpr const char* kHardwareIdWithRevision = "USB\\VID_5D3C&PID_5D3C&REV_0001";
inline constexpr const char* kHardwareId = "USB\\VID_5D3C&PID_5D3C";
inline constexpr const char* kDeviceDescription = "QZ418 (virtual)";
inline constexpr const char* kManufacturer = "qz418-sim";
inline constexpr const char* kLocationPrefix = "virtual:";

}  // namespace virtual_device
