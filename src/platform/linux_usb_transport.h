#pragma once
// A real synthesizer through libusb on its device node, standing in for the vendor's driver:
// the size request only records the endpoint's transfer size, a transfer request becomes
// one bulk transfer of its payload with the wait time as timeout.

#include <string>

#include "platform/device_request.h"
#include "platform/devices.h"

struct libusb_context;
struct libusb_device_handle;

class LinuxUsbTransport : public DeviceTransport {
 public:
  // Opens the node (/dev/bus/usb/BBB/DDD) and claims interface 0. nullptr with *error: 13
  // when the node is not ours to open (no udev rule), 19 when it is gone, 16 when another
  // program holds the interface, else the errno value (5 for libusb failures).
  static std::unique_ptr<LinuxUsbTransport> open(const std::string& node, int* error);
  ~LinuxUsbTransport() override;

  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override;
  bool cancel() override;

  // libusb error code -> errno value.
  static int errnoFromLibusb(int libusbError);

 private:
  LinuxUsbTransport() = default;
  void close();

  int fd_ = -1;
  libusb_context* context_ = nullptr;
  libusb_device_handle* handle_ = nullptr;
  bool claimed_ = false;
  EndpointSizes sizes_;
};
