#pragma once
// What the USB events window takes from the operating system: made once at start-up from the
// real back ends (systemLinkPlatform), or from fakes in tests. An empty member means "none":
// no devices, no device can be opened, no change notifications.

#include "platform/devices.h"
#include "usb/transfer_request.h"

#include <QString>

#include <functional>
#include <memory>

struct LinkPlatform {
  std::function<std::unique_ptr<DeviceEnumerator>()> makeEnumerator;
  usb::TransportOpener openTransport;
  std::function<std::unique_ptr<DeviceChangeMonitor>(QObject* parent)> makeChangeMonitor;
  // The state file the window's section is read from; empty: the executable's ".ini".
  QString stateFile;
};

// udev, libusb and the virtual synthesizers' folder.
LinkPlatform systemLinkPlatform();
