#include "platform/device_request.h"

#include "platform/device_codes.h"

int parseDriverRequest(std::uint32_t code, const std::uint8_t* buffer, std::uint32_t length,
                       DriverRequest* out) {
  namespace io = driver_ioctl;
  if (code == io::kSetTransferSize) {
    if (!buffer || length < std::uint32_t(io::kSizeRequestLength)) return device_error::kInvalid;
    out->kind = DriverRequest::Kind::SetTransferSize;
    out->endpoint = buffer[0];
    out->size = readLe32(buffer + 4);
    return 0;
  }
  if (code == io::kTransfer) {
    if (!buffer || length < std::uint32_t(io::kHeaderSize)) return device_error::kInvalid;
    if (readLe32(buffer + io::kPayloadOffsetField) != std::uint32_t(io::kHeaderSize))
      return device_error::kInvalid;
    const std::uint32_t payload = readLe32(buffer + io::kPayloadLengthField);
    // 64-bit sum: a payload length near 4 GiB must not wrap past the check.
    if (std::uint64_t(io::kHeaderSize) + payload > length) return device_error::kInvalid;
    out->kind = DriverRequest::Kind::Transfer;
    out->endpoint = buffer[io::kEndpointOffset];
    out->size = payload;
    return 0;
  }
  return device_error::kNotTty;
}

int EndpointSizes::check(std::uint8_t endpoint, std::uint32_t length) const {
  return sizes_[slot(endpoint)] == length ? 0 : device_error::kInvalid;
}
