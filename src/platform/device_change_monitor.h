#pragma once
// The system's change monitor: udev "usb" device add/remove events through a socket
// notifier, and the virtual-device folder through inotify.

#include <string>

#include "platform/devices.h"

class QSocketNotifier;
struct udev;
struct udev_monitor;

class SystemDeviceChangeMonitor : public DeviceChangeMonitor {
 public:
  // folder: the virtual-device folder to watch; created (0700) when missing. When it cannot
  // be made yet its nearest existing parent is watched until it appears.
  explicit SystemDeviceChangeMonitor(const QString& folder, QObject* parent = nullptr);
  ~SystemDeviceChangeMonitor() override;

  bool watchesUdev() const { return monitor_ != nullptr; }
  bool watchesFolder() const { return watchingFolder_; }

 private:
  void onUdevEvent();
  void onFolderEvents();
  // Points the watch at the folder, or at its nearest existing parent while it is missing.
  void watchFolder();

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;

  std::string folder_;
  int inotifyFd_ = -1;
  int watch_ = -1;
  bool watchingFolder_ = false;
  QSocketNotifier* folderNotifier_ = nullptr;
};
