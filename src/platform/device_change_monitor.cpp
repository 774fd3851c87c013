#include "platform/device_change_monitor.h"

#include <libudev.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "platform/virtual_device_folder.h"

namespace {

// Devices appear by a rename into "<name>.sock" and go by deletion (or a rename away); a
// restart may reuse the inode number, so the events themselves are the changes, not a
// comparison of folder listings.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
constexpr std::uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

bool isSocketName(const char* name) {
  const std::size_t n = std::strlen(name);
  const std::size_t suffix = std::strlen(virtual_device::kSocketSuffix);
  return n > suffix && std::memcmp(name + n - suffix, virtual_device::kSocketSuffix, suffix) == 0;
}

bool isDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

SystemDeviceChangeMonitor::SystemDeviceChangeMonitor(const QString& folder, QObject* parent)
    : DeviceChangeMonitor(parent), folder_(QFile::encodeName(folder).toStdString()) {
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

  virtual_device::createFolder(folder_);
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd_ < 0) {
    qWarning("device change monitor: inotify: %s", std::strerror(errno));
    return;
  }
  folderNotifier_ = new QSocketNotifier(inotifyFd_, QSocketNotifier::Read, this);
  connect(folderNotifier_, &QSocketNotifier::activated, this, [this] { onFolderEvents(); });
  watchFolder();
}

SystemDeviceChangeMonitor::~SystemDeviceChangeMonitor() {
  delete notifier_;
  delete folderNotifier_;
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
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
  if (watch_ >= 0) ::inotify_rm_watch(inotifyFd_, watch_);
  watch_ = -1;
  watchingFolder_ = false;
  if (isDir(folder_)) {
    // IN_DONT_FOLLOW: a link in the folder's place is refused by enumeration anyway.
    watch_ = ::inotify_add_watch(inotifyFd_, folder_.c_str(),
                                 kFolderEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW);
    watchingFolder_ = watch_ >= 0;
    if (watchingFolder_) return;
  }
  // Not there (yet): watch the nearest existing parent and come back when something appears.
  std::string parent = parentOf(folder_);
  while (!isDir(parent) && parent != "/") parent = parentOf(parent);
  watch_ = ::inotify_add_watch(inotifyFd_, parent.c_str(),
                               IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

void SystemDeviceChangeMonitor::onFolderEvents() {
  // Everything queued is read in one go and answered by at most one notification. Only the
  // events' names are looked at: a folder with thousands of other files costs nothing more.
  alignas(inotify_event) char buffer[16384];
  bool changed = false;
  bool retarget = false;
  for (;;) {
    const ssize_t n = ::read(inotifyFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + e->len);
      if (e->mask & IN_Q_OVERFLOW) {
        // Events were lost: anything may have happened.
        changed = retarget = true;
        continue;
      }
      if (e->wd != watch_) continue;  // left over from a watch given up
      if (!watchingFolder_) {
        retarget = true;  // something appeared on the way to the folder
      } else if (e->mask & kFolderGone) {
        changed = retarget = true;  // the folder went, and its devices with it
      } else if ((e->mask & kFolderEvents) && e->len > 0 && isSocketName(e->name)) {
        changed = true;
      }
    }
  }
  if (retarget) {
    const bool wasWatchingFolder = watchingFolder_;
    watchFolder();
    // Sockets made before the watch was in place would go unnoticed.
    if (watchingFolder_ && !wasWatchingFolder && !virtual_device::listSockets(folder_).empty())
      changed = true;
  }
  // A folder others could write to is not looked in, so nothing in it is a change; a folder
  // that is gone took its devices with it.
  if (changed && virtual_device::folderRefusal(folder_).empty()) emit devicesChanged();
}
