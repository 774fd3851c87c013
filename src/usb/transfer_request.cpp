#include "usb/transfer_request.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace usb {

void putU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = std::uint8_t(value >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* at) {
  return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
         std::uint32_t(at[3]) << 24;
}

TransferSizeRequest makeTransferSizeRequest(std::uint8_t endpoint, std::uint32_t transferSize) {
  TransferSizeRequest r{};
  r[0] = endpoint;
  putU32(&r[4], transferSize);
  return r;
}

int issueRequest(DeviceTransport* transport, std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                 std::uint32_t waitMs) {
  // A device that never opened fails every request at once, as a request on an invalid
  // handle does; there is nothing to wait for.
  if (!transport) return EBADF;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  const int error = transport->request(code, buffer, length, waitMs);
  // A request that failed never signals its completion: the caller's wait runs out in full,
  // whether the transport gave up at once (device gone) or at the deadline. This keeps a
  // cycle against an absent device at its 3 x wait + 20 ms instead of spinning.
  if (error != 0) std::this_thread::sleep_until(deadline);
  return error;
}

}  // namespace usb
