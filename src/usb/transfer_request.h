#pragma once
// The two buffers the synthesizer's driver takes, byte for byte, and how one request is
// issued and awaited on an opened device.
//
// TransferRequest: a 38-byte header followed at once by the payload, little-endian:
//   0..12  setup area, unused by endpoint transfers (zero)
//   13     endpoint address
//   14..29 reserved for the driver (zero)
//   30..33 payload offset from the start of the header (always 38)
//   34..37 payload length in bytes
//   38..   payload (IN: filled by the driver; OUT: sent as it stands)
// TransferSizeRequest: 8 bytes, endpoint at 0, three padding bytes, u32 size at 4.

#include "platform/devices.h"

#include <QString>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

// The samples and u32 fields are read and written in host order.
static_assert(std::endian::native == std::endian::little, "the driver's buffers are little-endian");

namespace usb {

inline constexpr std::uint8_t kStatusEndpoint = 0x86;   // IN, endpoint 6
inline constexpr std::uint8_t kReceiveEndpoint = 0x82;  // IN, endpoint 2
inline constexpr std::uint8_t kCommandEndpoint = 0x04;  // OUT, endpoint 4

inline constexpr std::size_t kStatusPayloadSize = 32;
inline constexpr std::size_t kReceiveSampleCount = 4096;  // 16-bit samples, 8192 bytes
inline constexpr std::size_t kCommandPayloadSize = 64;

// Wait on every TransferSizeRequest at start-up, ms.
inline constexpr std::uint32_t kConfigureWaitMs = 500;

// Writes the little-endian 32-bit value at offset.
void putU32(std::uint8_t* at, std::uint32_t value);
std::uint32_t getU32(const std::uint8_t* at);

// One contiguous request buffer. The payload is typed (bytes or 16-bit samples) so that the
// windows get it without a copy; the driver sees only the bytes.
template <typename Element, std::size_t Count>
struct TransferRequest {
  using Payload = std::array<Element, Count>;
  static constexpr std::size_t kPayloadBytes = Count * sizeof(Element);
  static constexpr std::size_t kSize = driver_ioctl::kHeaderSize + kPayloadBytes;

  std::array<std::uint8_t, driver_ioctl::kHeaderSize> header{};
  Payload payload{};

  // Clears the whole header, then writes the endpoint, the payload offset (38) and the
  // payload length. The payload keeps what it holds.
  void prepare(std::uint8_t endpoint) {
    header.fill(0);
    header[driver_ioctl::kEndpointOffset] = endpoint;
    putU32(&header[driver_ioctl::kPayloadOffsetField], driver_ioctl::kHeaderSize);
    putU32(&header[driver_ioctl::kPayloadLengthField], std::uint32_t(kPayloadBytes));
  }

  std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(this); }
  const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(this); }
  static constexpr std::uint32_t size() { return std::uint32_t(kSize); }
};

using StatusRequest = TransferRequest<std::uint8_t, kStatusPayloadSize>;
using ReceiveRequest = TransferRequest<std::uint16_t, kReceiveSampleCount>;
using CommandRequest = TransferRequest<std::uint8_t, kCommandPayloadSize>;

// The driver reads the buffer as bytes: no padding may sit between header and payload.
static_assert(sizeof(StatusRequest) == 70 && offsetof(StatusRequest, payload) == 38);
static_assert(sizeof(ReceiveRequest) == 8230 && offsetof(ReceiveRequest, payload) == 38);
static_assert(sizeof(CommandRequest) == 102 && offsetof(CommandRequest, payload) == 38);

using TransferSizeRequest = std::array<std::uint8_t, driver_ioctl::kSizeRequestLength>;
TransferSizeRequest makeTransferSizeRequest(std::uint8_t endpoint, std::uint32_t transferSize);

// Issues one request on an opened device and waits for it: at most waitMs when it succeeds,
// exactly waitMs when it fails. Returns the error code the caller may keep: 0, an errno
// value, or EBADF at once when there is no open device.
int issueRequest(DeviceTransport* transport, std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                 std::uint32_t waitMs);

// Opens a device path; nullptr with the errno value in *error on failure.
using TransportOpener =
    std::function<std::unique_ptr<DeviceTransport>(const QString& devicePath, int* error)>;

}  // namespace usb
