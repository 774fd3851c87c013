#include "platform/virtual_device_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/device_request.h"
#include "platform/virtual_device_folder.h"
#include "platform/virtual_device_protocol.h"

namespace {

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits for events on fd until deadlineMs; false when the time ran out.
bool waitFor(int fd, short events, long long deadlineMs) {
  for (;;) {
    const long long left = deadlineMs - nowMs();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, int(std::min<long long>(left, 1 << 30)));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // let the following read or write report it
  }
}

}  // namespace

std::unique_ptr<VirtualDeviceTransport> VirtualDeviceTransport::open(const std::string& path, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  if (!virtual_device::isTrustedSocket(path)) {
    // Only sockets of the current user: someone else's could be a planted fake device.
    struct stat st {};
    const bool foreignSocket = ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
    *error = foreignSocket ? device_error::kAccess : device_error::kNoDevice;
    return nullptr;
  }
  const int fd = virtual_device::connectSocket(path, false);
  if (fd < 0) {
    // A socket nothing listens on is a device that ended (ECONNREFUSED) or just vanished.
    *error = (fd == -ECONNREFUSED || fd == -ENOENT) ? device_error::kNoDevice : -fd;
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  *error = 0;
  return std::unique_ptr<VirtualDeviceTransport>(new VirtualDeviceTransport(fd));
}

VirtualDeviceTransport::VirtualDeviceTransport(int fd) : fd_(fd) {}

VirtualDeviceTransport::~VirtualDeviceTransport() { closeConnection(); }

bool VirtualDeviceTransport::cancel() {
  // Requests are answered or given up before request() returns, so nothing is pending; an
  // answer still on its way is dropped by the next request. Like a handle that stays valid
  // after its device went away, the transport stays open until it is destroyed.
  return true;
}

void VirtualDeviceTransport::closeConnection() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int VirtualDeviceTransport::fail(int error) {
  closeConnection();
  return error;
}

int VirtualDeviceTransport::request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                                    std::uint32_t waitMs) {
  if (fd_ < 0) return device_error::kNoDevice;
  if (length > virtual_device::kMaxFrameLength || (!buffer && length > 0)) return device_error::kInvalid;
  const long long deadline = nowMs() + waitMs;
  const std::uint32_t seq = ++sequence_;
  reader_.expect(seq, length);
  if (const int e = sendFrame(seq, code, buffer, length, deadline)) return e;
  for (;;) {
    switch (readFrame(deadline)) {
      case Read::TimedOut:
        reader_.giveUp(seq, length);
        return device_error::kTimedOut;
      case Read::Closed:
        return fail(device_error::kNoDevice);
      case Read::Malformed:
        return fail(device_error::kProtocol);
      case Read::Frame:
        break;
    }
    if (reader_.sequence() != seq) continue;  // the late answer to a request already given up: dropped
    const auto payload = reader_.payload();
    if (length > 0) std::memcpy(buffer, payload.data(), length);
    return int(reader_.error());
  }
}

int VirtualDeviceTransport::sendFrame(std::uint32_t seq, std::uint32_t code, const std::uint8_t* buffer,
                                      std::uint32_t length, long long deadlineMs) {
  std::uint8_t header[virtual_device::kRequestHeaderSize];
  writeLe32(header, seq);
  writeLe32(header + 4, code);
  writeLe32(header + 8, length);
  const std::size_t total = sizeof(header) + length;
  std::size_t sent = 0;
  while (sent < total) {
    iovec parts[2];
    int count = 0;
    if (sent < sizeof(header)) parts[count++] = {header + sent, sizeof(header) - sent};
    const std::size_t payloadSent = sent > sizeof(header) ? sent - sizeof(header) : 0;
    if (length > payloadSent)
      parts[count++] = {const_cast<std::uint8_t*>(buffer) + payloadSent, length - payloadSent};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = count;
    const ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent += std::size_t(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return fail(device_error::kNoDevice);
    if (!waitFor(fd_, POLLOUT, deadlineMs)) {
      // Half a frame on the wire cannot be taken back: the stream is lost with it. A frame
      // not begun was never sent, so its sequence number was not used.
      if (sent > 0)
        closeConnection();
      else
        --sequence_;
      return device_error::kTimedOut;
    }
  }
  return 0;
}

VirtualDeviceTransport::Read VirtualDeviceTransport::readFrame(long long deadlineMs) {
  for (;;) {
    const std::span<std::uint8_t> space = reader_.space();
    const ssize_t n = ::recv(fd_, space.data(), space.size(), MSG_DONTWAIT);
    if (n == 0) return Read::Closed;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return Read::Closed;
      if (!waitFor(fd_, POLLIN, deadlineMs)) return Read::TimedOut;
      continue;
    }
    switch (reader_.received(std::size_t(n))) {
      case virtual_device::AnswerReader::Result::More:
        break;
      case virtual_device::AnswerReader::Result::Frame:
        return Read::Frame;
      case virtual_device::AnswerReader::Result::Malformed:
        return Read::Malformed;
    }
  }
}
