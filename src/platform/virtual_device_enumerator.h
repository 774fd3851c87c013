#pragma once
// Lists the virtual synthesizers: the live sockets of the virtual-device folder.

#include "platform/devices.h"

class VirtualDeviceEnumerator : public DeviceEnumerator {
 public:
  // An empty folder means the current virtualDeviceFolder(), read at each enumeration.
  explicit VirtualDeviceEnumerator(QString folder = {}) : folder_(std::move(folder)) {}
  std::vector<DeviceRecord> enumerate() override;

 private:
  QString folder_;
};

// The record of the virtual device whose socket is <folder>/<name>.sock.
DeviceRecord virtualDeviceRecord(const QString& folder, const QString& name);
