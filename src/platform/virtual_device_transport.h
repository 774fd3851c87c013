#pragma once
// The client end of the virtual-device protocol: one connection per opened socket path.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/devices.h"

class VirtualDeviceTransport : public DeviceTransport {
 public:
  // Connects to the socket at path; nullptr with *error set (19 when nothing listens there,
  // 13 when the socket belongs to another user).
  static std::unique_ptr<VirtualDeviceTransport> open(const std::string& path, int* error);
  ~VirtualDeviceTransport() override;

  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override;
  bool cancel() override;

 private:
  explicit VirtualDeviceTransport(int fd);
  enum class Read { Frame, TimedOut, Closed, Malformed };
  int sendFrame(std::uint32_t seq, std::uint32_t code, const std::uint8_t* buffer, std::uint32_t length,
                long long deadlineMs);
  Read readFrame(long long deadlineMs);
  bool headerValid() const;
  void closeConnection();
  int fail(int error);

  int fd_ = -1;
  // Open until cancel(), like a handle: a connection the device closed leaves it open, and
  // every request on it fails with 19.
  bool open_ = true;
  std::uint32_t sequence_ = 0;  // the last sequence number sent
  std::uint32_t answered_ = 0;  // the last sequence number an answer arrived for
  std::uint32_t currentLength_ = 0;

  // Lengths of requests given up on, by sequence number modulo the table size; an answer to
  // one of them that comes later must still have the length of its request.
  struct GivenUp {
    std::uint32_t sequence = 0;
    std::uint32_t length = 0;
  };
  std::array<GivenUp, 64> givenUp_{};

  // The answer being read. It survives a timeout so that a frame cut off by one request's
  // wait is finished (and dropped) during the next one.
  std::array<std::uint8_t, 16> header_{};
  std::size_t headerFill_ = 0;
  std::uint32_t answerSeq_ = 0, answerError_ = 0, answerLength_ = 0;
  std::size_t payloadFill_ = 0;
  std::vector<std::uint8_t> payload_;  // kMaxFrameLength bytes, allocated once
};
