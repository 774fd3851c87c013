#pragma once
// The kind of drive a file lies on, in the terms the state-file question at exit is decided
// by. Linux has no drive letters: the "drive" is the mount that holds the path (the longest
// mount point in /proc/self/mountinfo that contains it), and its root is that mount point.

#include <QString>
#include <QStringView>
#include <functional>

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

struct DriveInfo {
  DriveType type = DriveType::Unknown;
  // The mount point followed by "/" ("/" stays "/", "/media/usb" gives "/media/usb/"); empty
  // when no mount holds the path.
  QString root;
};

// Whether the block device major:minor belongs to a disk the kernel marks removable.
using RemovableLookup = std::function<bool(unsigned major, unsigned minor)>;

// The drive of path (a file or folder, which need not exist yet: its nearest existing folder
// counts). An empty path gives NoRootDir.
DriveInfo driveOf(const QString& path);

// The same from given sources, for tests: an absolute path with symbolic links resolved,
// the text of a mountinfo file and the removable test. Unknown when no mount line contains
// the path (or the text has none that can be read).
DriveInfo driveOf(const QString& canonicalPath, QStringView mountInfo, const RemovableLookup& isRemovable);

// /sys/dev/block/MAJ:MIN/removable, or the whole disk's for a partition.
bool sysfsRemovable(unsigned major, unsigned minor);

// The drive type a file-system type alone decides (RAM, network, optical); Fixed otherwise.
DriveType driveTypeOfFileSystem(QStringView fsType);
