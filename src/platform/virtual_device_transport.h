#pragma once
// The client end of the virtual-device protocol: one connection per opened socket path.

#include <cstdint>
#include <string>

#include "platform/devices.h"
#include "platform/virtual_device_answer.h"

class VirtualDeviceTransport : public DeviceTransport {
 public:
  // Connects to the socket at path; nullptr with *error set (19 when nothing listens there,
  // 13 when the socket belongs to another user).
  static std::unique_ptr<VirtualDeviceTransport> open(const std::string& path, int* error);
  ~VirtualDeviceTransport() override;

  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override;
  bool cancel() override;
  // True once the device closed the connection or broke the protocol (and so the connection was
  // closed): every later request fails with 19. A request that only timed out keeps it open.
  bool connectionClosed() const override { return fd_ < 0; }

 private:
  explicit VirtualDeviceTransport(int fd);
  enum class Read { Frame, TimedOut, Closed, Malformed };
  int sendFrame(std::uint32_t seq, std::uint32_t code, const std::uint8_t* buffer, std::uint32_t length,
                long long deadlineMs);
  Read readFrame(long long deadlineMs);
  void closeConnection();
  int fail(int error);

  int fd_ = -1;
  // The answer being read survives a timeout, so that a frame cut off by one request's wait
  // is finished (and dropped) during the next one.
  std::uint32_t sequence_ = 0;  // the last sequence number sent
  virtual_device::AnswerReader reader_;
};
