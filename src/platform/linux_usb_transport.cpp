#include "platform/linux_usb_transport.h"

#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

int LinuxUsbTransport::errnoFromLibusb(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS:
      return 0;
    case LIBUSB_ERROR_TIMEOUT:
      return device_error::kTimedOut;
    case LIBUSB_ERROR_NO_DEVICE:
      return device_error::kNoDevice;
    case LIBUSB_ERROR_ACCESS:
      return device_error::kAccess;
    case LIBUSB_ERROR_PIPE:
      return device_error::kPipe;
    case LIBUSB_ERROR_BUSY:
      return device_error::kBusy;
    default:
      return device_error::kIo;
  }
}

std::unique_ptr<LinuxUsbTransport> LinuxUsbTransport::open(const std::string& node, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  // We open the node ourselves and hand it to libusb, so libusb never scans the bus: a
  // context costs no enumeration and starts no hot-plug thread.
  static std::once_flag once;
  std::call_once(once, [] { libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY); });

  std::unique_ptr<LinuxUsbTransport> t(new LinuxUsbTransport);
  t->fd_ = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (t->fd_ < 0) {
    const int e = errno;
    *error = (e == EACCES || e == EPERM)                  ? device_error::kAccess
             : (e == ENOENT || e == ENODEV || e == ENXIO) ? device_error::kNoDevice
                                                          : e;
    return nullptr;
  }
  int r = libusb_init(&t->context_);
  if (r == LIBUSB_SUCCESS) r = libusb_wrap_sys_device(t->context_, intptr_t(t->fd_), &t->handle_);
  if (r == LIBUSB_SUCCESS) r = libusb_claim_interface(t->handle_, 0);
  if (r != LIBUSB_SUCCESS) {
    *error = errnoFromLibusb(r);
    return nullptr;  // the destructor releases what was made
  }
  t->claimed_ = true;
  *error = 0;
  return t;
}

LinuxUsbTransport::~LinuxUsbTransport() { close(); }

void LinuxUsbTransport::close() {
  if (handle_) {
    if (claimed_) libusb_release_interface(handle_, 0);
    libusb_close(handle_);  // leaves a wrapped descriptor open
  }
  if (context_) libusb_exit(context_);
  if (fd_ >= 0) ::close(fd_);
  handle_ = nullptr;
  context_ = nullptr;
  claimed_ = false;
  fd_ = -1;
}

bool LinuxUsbTransport::cancel() {
  // Bulk transfers are synchronous: when the exchange thread has ended nothing is pending.
  // The device stays claimed until the transport is destroyed (before the next open).
  return fd_ >= 0;
}

int LinuxUsbTransport::request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                               std::uint32_t waitMs) {
  if (!handle_) return device_error::kNoDevice;
  DriverRequest r;
  if (const int e = parseDriverRequest(code, buffer, length, &r)) return e;
  if (r.kind == DriverRequest::Kind::SetTransferSize) {
    sizes_.set(r.endpoint, r.size);
    return 0;
  }
  if (const int e = sizes_.check(r.endpoint, r.size)) return e;
  if (r.size > std::uint32_t(INT32_MAX)) return device_error::kInvalid;
  // libusb reads a timeout of 0 as "wait for ever"; a zero wait here means "do not wait".
  const unsigned timeout = waitMs == 0 ? 1 : waitMs;
  int transferred = 0;
  const int result = libusb_bulk_transfer(handle_, r.endpoint, buffer + driver_ioctl::kHeaderSize,
                                          int(r.size), &transferred, timeout);
  return errnoFromLibusb(result);
}
