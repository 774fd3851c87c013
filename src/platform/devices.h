#pragma once
// The operating system's side of the synthesizer link, behind three small interfaces:
// enumeration of attached devices, a transport that carries the driver requests to one
// opened device, and a "device nodes changed" notification. Each has a Linux back end
// (udev and libusb) and a virtual one (qz418-sim sockets); the code above this layer is
// the same for both.

// The driver's request codes and layouts (driver_ioctl) and the errno values the transports
// report (device_error) live in device_codes.h, free of Qt for qz418-sim.
#include "platform/device_codes.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

// One enumerated device with its Plug and Play properties, as Windows names them.
struct DeviceRecord {
  std::uint32_t deviceInstance = 0;
  QString devicePath;
  std::uint32_t capabilities = 0;
  QString className;
  QString classGuid;
  QStringList compatibleIds;
  std::uint32_t configFlags = 0;
  QString deviceDescription;
  QString driverKey;
  QString friendlyName;
  QStringList hardwareIds;
  QStringList lowerFilters;
  QString manufacturer;
  QStringList upperFilters;
  QString address;
  std::uint32_t busNumber = 0;
  QString busType;
  QString characteristics;
  std::uint32_t deviceType = 0;
  QString enumeratorName;
  std::uint32_t exclusive = 0;
  std::uint32_t legacyBusType = 0;
  QString locationInformation;
  QString physicalDeviceObjectName;
  QString securityDescriptor;
  QString service;
  std::uint32_t uiNumber = 0;
  QString uiNumberFormat;
};

class DeviceEnumerator {
 public:
  virtual ~DeviceEnumerator() = default;
  // Every device the back end sees, in enumeration order (not yet filtered by hardware ID).
  virtual std::vector<DeviceRecord> enumerate() = 0;
  // What the operator should know about the last enumerate(): a place the back end refused
  // to look in, and why. One line each; none when all is well.
  virtual QStringList notes() const { return {}; }
};

// One opened device. Used by one thread at a time; cancel() may be called from another
// thread only after that thread has ended.
class DeviceTransport {
 public:
  virtual ~DeviceTransport() = default;
  // Issues one driver request on buffer (input and output, length bytes) and waits at most
  // waitMs. Returns 0 or an errno value (110 when the wait ran out).
  virtual int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) = 0;
  // Abandons pending work; false when there is nothing open.
  virtual bool cancel() = 0;
  // True once the device side has closed the connection for good, so that every later
  // request fails: the device counts as removed. Asked on the thread that issues requests,
  // right after one.
  virtual bool connectionClosed() const { return false; }
};

// Opens a device path from any back end: a node under /dev/bus/usb through libusb, a
// socket of the virtual-device folder through the virtual protocol. nullptr on failure,
// with the errno value in *error.
std::unique_ptr<DeviceTransport> openDeviceTransport(const QString& devicePath, int* error);

// True for paths the virtual back end serves: inside the virtual-device folder or ending
// in ".sock".
bool isVirtualDevicePath(const QString& devicePath);

// All back ends together: real USB first, then the virtual devices.
std::unique_ptr<DeviceEnumerator> makeSystemEnumerator();

// Emits devicesChanged() on the main thread for any udev "usb" add/remove and any socket
// name created, removed or renamed in the virtual-device folder.
class DeviceChangeMonitor : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  ~DeviceChangeMonitor() override = default;

 signals:
  void devicesChanged();
  // A device-change message with another event code (Windows): only logged.
  void otherDeviceEvent(quint32 eventCode);
};

std::unique_ptr<DeviceChangeMonitor> makeSystemChangeMonitor(QObject* parent = nullptr);

// The virtual-device folder: $XDG_RUNTIME_DIR/qz418 when XDG_RUNTIME_DIR names an existing
// folder, else /tmp/qz418-<uid>. Created with mode 0700 on request.
QString virtualDeviceFolder();
// Creates the folder (mode 0700) when it is missing; true when it exists afterwards.
bool createVirtualDeviceFolder();
