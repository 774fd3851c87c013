#include "platform/device_change_monitor.h"

#include <libudev.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <cstring>

#include "platform/virtual_device_folder.h"

SystemDeviceChangeMonitor::SystemDeviceChangeMonitor(const QString& folder, QObject* parent)
    : DeviceChangeMonitor(parent), folder_(folder) {
  udev_ = udev_new();
  if (udev_) monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ && udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") >= 0 &&
      udev_monitor_enable_receiving(monitor_) >= 0) {
    notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onUdevEvent(); });
  } else if (monitor_) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }

  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { onFolderChanged(); });
  virtual_device::createFolder(QFile::encodeName(folder_).toStdString());
  watchFolder();
  sockets_ = socketsNow();
}

SystemDeviceChangeMonitor::~SystemDeviceChangeMonitor() {
  delete notifier_;
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

void SystemDeviceChangeMonitor::onUdevEvent() {
  bool changed = false;
  // Drain everything queued: one notification per batch is enough for a new enumeration.
  while (udev_device* d = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(d);
    if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) changed = true;
    udev_device_unref(d);
  }
  if (changed) emit devicesChanged();
}

void SystemDeviceChangeMonitor::watchFolder() {
  const QStringList watched = watcher_->directories();
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  if (QFileInfo(folder_).isDir()) {
    watcher_->addPath(folder_);
    return;
  }
  // Not there (yet): watch the nearest existing parent and come back when it changes.
  QString parent = QFileInfo(folder_).absolutePath();
  while (!QFileInfo(parent).isDir() && parent != QStringLiteral("/"))
    parent = QFileInfo(parent).absolutePath();
  watcher_->addPath(parent);
}

void SystemDeviceChangeMonitor::onFolderChanged() {
  // The folder itself may have been removed or made: follow it.
  const bool watchingFolder = watcher_->directories().contains(folder_);
  if (watchingFolder != QFileInfo(folder_).isDir()) watchFolder();
  QSet<QString> now = socketsNow();
  if (now == sockets_) return;  // temporary names, log files, a second event for one change
  sockets_ = std::move(now);
  emit devicesChanged();
}

QSet<QString> SystemDeviceChangeMonitor::socketsNow() const {
  QSet<QString> set;
  const std::string dir = QFile::encodeName(folder_).toStdString();
  // The sockets enumeration would look at (trusted ones in a trusted folder).
  for (const std::string& name : virtual_device::listSockets(dir)) {
    struct stat st {};
    if (::lstat((dir + "/" + name).c_str(), &st) == 0)
      set.insert(QFile::decodeName(name.c_str()) + u'#' + QString::number(st.st_ino));
  }
  return set;
}
