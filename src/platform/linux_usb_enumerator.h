#pragma once
// Real USB devices through libudev (subsystem "usb", device type "usb_device"), described
// with the Plug and Play properties Windows would give them.

#include <optional>

#include "platform/devices.h"

// What udev tells about one USB device; sysfs text as read, empty when missing.
struct LinuxUsbDeviceInfo {
  QString idVendor, idProduct, bcdDevice;  // hexadecimal
  QString deviceClass, deviceSubClass, deviceProtocol;
  // The class triple of interface 0, for devices that name their class per interface.
  QString interfaceClass, interfaceSubClass, interfaceProtocol;
  QString product, manufacturer;
  QString busNumber, deviceNumber;  // decimal
  QString portPath;                 // sysfs "devpath": ports from the root hub, "1.2"
  QString driver;
  QString deviceNode;  // udev's node name, used when the numbers are missing
};

// The record of one device; nullopt when no device node can be named for it. Location
// information reads "bus 1 port 1.2 address 5".
std::optional<DeviceRecord> linuxUsbRecord(const LinuxUsbDeviceInfo& info);

class LinuxUsbEnumerator : public DeviceEnumerator {
 public:
  std::vector<DeviceRecord> enumerate() override;
};
