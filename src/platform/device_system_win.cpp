#ifdef _WIN32
// The back ends put together on Windows: the synthesizer's driver first, then the virtual
// synthesizers' named pipes; the device-change messages of the events window.

#include <QWidget>

#include "platform/devices.h"
#include "platform/virtual_device_pipe_win.h"
#include "platform/windows_change_monitor_win.h"
#include "platform/windows_driver_calls_win.h"
#include "platform/windows_driver_enumerator_win.h"
#include "platform/windows_driver_transport_win.h"

bool isVirtualDevicePath(const QString& devicePath) { return isVirtualPipePath(devicePath); }

std::unique_ptr<DeviceTransport> openDeviceTransport(const QString& devicePath, int* error) {
  if (isVirtualPipePath(devicePath)) return openVirtualPipeTransport(devicePath, error);
  return WinDriverTransport::open(systemDriverCalls(), devicePath, error);
}

namespace {

class SystemEnumerator : public DeviceEnumerator {
 public:
  std::vector<DeviceRecord> enumerate() override {
    std::vector<DeviceRecord> all = driver_.enumerate();
    for (DeviceRecord& r : enumerateVirtualPipes()) all.push_back(std::move(r));
    return all;
  }
  QStringList notes() const override { return driver_.notes(); }

 private:
  WinDriverEnumerator driver_{systemDriverCalls()};
};

}  // namespace

std::unique_ptr<DeviceEnumerator> makeSystemEnumerator() { return std::make_unique<SystemEnumerator>(); }

std::unique_ptr<DeviceChangeMonitor> makeSystemChangeMonitor(QObject* parent) {
  // The parent is the events window; the virtual synthesizers announce themselves with the
  // same message the system sends.
  QWidget* window = parent && parent->isWidgetType() ? static_cast<QWidget*>(parent)->window() : nullptr;
  return std::make_unique<WinDeviceChangeMonitor>(window, parent);
}

#endif  // _WIN32
