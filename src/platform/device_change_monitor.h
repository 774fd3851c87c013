#pragma once
// The system's change monitor: udev "usb" device add/remove events through a socket
// notifier, and the sockets of the virtual-device folder through a folder watch.

#include <QSet>

#include "platform/devices.h"

class QFileSystemWatcher;
class QSocketNotifier;
struct udev;
struct udev_monitor;

class SystemDeviceChangeMonitor : public DeviceChangeMonitor {
 public:
  // folder: the virtual-device folder to watch; created (0700) when missing. When it cannot
  // be made yet its parent is watched until it appears.
  explicit SystemDeviceChangeMonitor(const QString& folder, QObject* parent = nullptr);
  ~SystemDeviceChangeMonitor() override;

  bool watchesUdev() const { return monitor_ != nullptr; }

 private:
  void onUdevEvent();
  void onFolderChanged();
  void watchFolder();
  // Socket names with their inode numbers: a live device that replaced a stale socket of the
  // same name is a change too.
  QSet<QString> socketsNow() const;

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  QFileSystemWatcher* watcher_ = nullptr;
  QString folder_;
  QSet<QString> sockets_;
};
