#pragma once
// Lists the virtual synthesizers: the live sockets of the virtual-device folder.

#include "platform/devices.h"

class VirtualDeviceEnumerator : public DeviceEnumerator {
 public:
  // An empty folder means the current virtualDeviceFolder(), read at each enumeration.
  explicit VirtualDeviceEnumerator(QString folder = {}) : folder_(std::move(folder)) {}
  std::vector<DeviceRecord> enumerate() override;
  // A line naming the folder and the reason when the last enumeration refused the folder.
  QStringList notes() const override { return notes_; }

 private:
  QString folder_;
  QStringList notes_;
};

// The record of the virtual device whose socket is <folder>/<name>.sock.
DeviceRecord virtualDeviceRecord(const QString& folder, const QString& name);
