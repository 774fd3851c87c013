// The back ends put together: which one serves a path, and the system-wide enumerator and
// change monitor.

#include <QFile>

#include "platform/device_change_monitor.h"
#include "platform/devices.h"
#include "platform/linux_usb_enumerator.h"
#include "platform/linux_usb_transport.h"
#include "platform/virtual_device_enumerator.h"
#include "platform/virtual_device_folder.h"
#include "platform/virtual_device_transport.h"

QString virtualDeviceFolder() { return QFile::decodeName(virtual_device::folderPath().c_str()); }

bool createVirtualDeviceFolder() { return virtual_device::createFolder(virtual_device::folderPath()); }

bool isVirtualDevicePath(const QString& devicePath) {
  return devicePath.endsWith(QLatin1String(virtual_device::kSocketSuffix)) ||
         devicePath.startsWith(virtualDeviceFolder() + u'/');
}

std::unique_ptr<DeviceTransport> openDeviceTransport(const QString& devicePath, int* error) {
  const std::string path = QFile::encodeName(devicePath).toStdString();
  if (isVirtualDevicePath(devicePath)) return VirtualDeviceTransport::open(path, error);
  return LinuxUsbTransport::open(path, error);
}

namespace {

class SystemEnumerator : public DeviceEnumerator {
 public:
  std::vector<DeviceRecord> enumerate() override {
    std::vector<DeviceRecord> all = usb_.enumerate();
    for (DeviceRecord& r : virtual_.enumerate()) all.push_back(std::move(r));
    return all;
  }
  QStringList notes() const override { return usb_.notes() + virtual_.notes(); }

 private:
  LinuxUsbEnumerator usb_;
  VirtualDeviceEnumerator virtual_;
};

}  // namespace

std::unique_ptr<DeviceEnumerator> makeSystemEnumerator() { return std::make_unique<SystemEnumerator>(); }

std::unique_ptr<DeviceChangeMonitor> makeSystemChangeMonitor(QObject* parent) {
  return std::make_unique<SystemDeviceChangeMonitor>(virtualDeviceFolder(), parent);
}
