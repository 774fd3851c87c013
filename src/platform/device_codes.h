#pragma once
// The driver's request codes and buffer layouts, and the error codes every transport
// reports. Plain C++ so that qz418-sim, which has no Qt, shares them with the program.

#include <cstdint>

// The driver's request codes (device type 0x22, buffered, any access).
namespace driver_ioctl {
inline constexpr std::uint32_t kTransfer = 0x220024;         // endpoint transfer, buffer = TransferRequest
inline constexpr std::uint32_t kSetTransferSize = 0x220038;  // buffer = TransferSizeRequest
// TransferRequest: 38-byte header, then the payload.
inline constexpr int kHeaderSize = 38;
inline constexpr int kEndpointOffset = 13;
inline constexpr int kPayloadOffsetField = 30;  // u32 LE, always 38
inline constexpr int kPayloadLengthField = 34;  // u32 LE
// TransferSizeRequest: 8 bytes: endpoint at 0, u32 LE size at 4.
inline constexpr int kSizeRequestLength = 8;
}  // namespace driver_ioctl

// errno values the transports report (0 = success).
namespace device_error {
inline constexpr int kIo = 5;             // EIO
inline constexpr int kAccess = 13;        // EACCES
inline constexpr int kBusy = 16;          // EBUSY: another program has claimed the interface
inline constexpr int kNoDevice = 19;      // ENODEV
inline constexpr int kInvalid = 22;       // EINVAL
inline constexpr int kNotTty = 25;        // ENOTTY: unknown request code
inline constexpr int kPipe = 32;          // EPIPE
inline constexpr int kProtocol = 71;      // EPROTO: malformed answer
inline constexpr int kTimedOut = 110;     // ETIMEDOUT
}  // namespace device_error
