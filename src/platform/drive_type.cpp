#include "platform/drive_type.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>

namespace {

// Network and cluster file systems: the files live on another machine.
// clang-format off
constexpr std::array kRemote = {
    u"nfs", u"nfs4", u"cifs", u"smb3", u"smbfs", u"sshfs", u"fuse.sshfs", u"9p", u"afs", u"ceph",
    u"fuse.ceph", u"glusterfs", u"fuse.glusterfs", u"lustre", u"ncpfs", u"ncp", u"coda", u"davfs",
    u"fuse.davfs2", u"fuse.rclone", u"fuse.s3fs", u"fuse.gvfsd-fuse", u"orangefs", u"pvfs2", u"beegfs",
    u"gpfs", u"ocfs2", u"gfs2", u"fuse.curlftpfs", u"fuse.smbnetfs", u"fuse.sshfs-fuse", u"fuse.juicefs",
    u"virtiofs",
};
// clang-format on

// Mountinfo escapes blanks, tabs, newlines and backslashes in paths as \ooo.
QString unescape(QStringView s) {
  QString out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 3 < s.size() && s[i + 1] >= u'0' && s[i + 1] <= u'3' && s[i + 2] >= u'0' &&
        s[i + 2] <= u'7' && s[i + 3] >= u'0' && s[i + 3] <= u'7') {
      out.append(QChar(char16_t((s[i + 1].unicode() - '0') * 64 + (s[i + 2].unicode() - '0') * 8 +
                                (s[i + 3].unicode() - '0'))));
      i += 3;
    } else {
      out.append(s[i]);
    }
  }
  return out;
}

struct Mount {
  QString point;
  QString fsType;
  unsigned major = 0;
  unsigned minor = 0;
};

// "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw": fields 3 and 5, and
// the first after the " - " separator. nullopt for a line that does not read so.
std::optional<Mount> parseMountLine(QStringView line) {
  const QList<QStringView> f = line.split(u' ', Qt::SkipEmptyParts);
  if (f.size() < 7) return std::nullopt;
  qsizetype dash = -1;
  for (qsizetype i = 6; i < f.size(); ++i)
    if (f[i] == u"-") {
      dash = i;
      break;
    }
  if (dash < 0 || dash + 1 >= f.size()) return std::nullopt;
  const qsizetype colon = f[2].indexOf(u':');
  if (colon < 0) return std::nullopt;
  bool okMajor = false, okMinor = false;
  Mount m;
  m.major = f[2].first(colon).toUInt(&okMajor);
  m.minor = f[2].sliced(colon + 1).toUInt(&okMinor);
  if (!okMajor || !okMinor) return std::nullopt;
  m.point = unescape(f[4]);
  m.fsType = f[dash + 1].toString();
  if (!m.point.startsWith(u'/')) return std::nullopt;
  return m;
}

bool contains(const QString& mountPoint, const QString& path) {
  if (mountPoint == u"/") return path.startsWith(u'/');
  return path == mountPoint || (path.startsWith(mountPoint) && path[mountPoint.size()] == u'/');
}

QString readSysfsLine(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromLatin1(f.readLine(64)).trimmed();
}

}  // namespace

DriveType driveTypeOfFileSystem(QStringView fsType) {
  if (fsType == u"tmpfs" || fsType == u"ramfs") return DriveType::RamDisk;
  if (fsType == u"iso9660" || fsType == u"udf") return DriveType::CdRom;
  for (const char16_t* remote : kRemote)
    if (fsType == QStringView(remote)) return DriveType::Remote;
  return DriveType::Fixed;
}

DriveInfo driveOf(const QString& canonicalPath, QStringView mountInfo, const RemovableLookup& isRemovable) {
  if (canonicalPath.isEmpty()) return {DriveType::NoRootDir, QString()};
  std::optional<Mount> best;
  for (QStringView line : mountInfo.split(u'\n')) {
    const std::optional<Mount> m = parseMountLine(line);
    if (!m || !contains(m->point, canonicalPath)) continue;
    // The longest mount point wins; of equal ones the later line, mounted over the earlier.
    if (!best || m->point.size() >= best->point.size()) best = m;
  }
  if (!best) return {DriveType::Unknown, QString()};
  DriveInfo info;
  info.root = best->point.endsWith(u'/') ? best->point : best->point + u'/';
  info.type = driveTypeOfFileSystem(best->fsType);
  // Only a file system on a real block device can be on a removable disk (major 0 is the
  // kernel's anonymous devices: tmpfs, overlay, btrfs subvolumes and the like).
  if (info.type == DriveType::Fixed && best->major != 0 && isRemovable &&
      isRemovable(best->major, best->minor))
    info.type = DriveType::Removable;
  return info;
}

bool sysfsRemovable(unsigned major, unsigned minor) {
  const QString dev = QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor);
  // A partition's own folder has no "removable"; its disk is the folder above it.
  QString flag = readSysfsLine(dev + QStringLiteral("/removable"));
  if (flag.isEmpty() && QFileInfo::exists(dev + QStringLiteral("/partition"))) {
    const QString disk = QFileInfo(QFileInfo(dev).canonicalFilePath()).absolutePath();
    flag = readSysfsLine(disk + QStringLiteral("/removable"));
  }
  return flag == u"1";
}

DriveInfo driveOf(const QString& path) {
  if (path.isEmpty()) return {DriveType::NoRootDir, QString()};
  // The nearest folder that exists decides: a state file not yet written lies on its drive.
  QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
  QString canonical = info.canonicalFilePath();
  while (canonical.isEmpty()) {
    const QString parent = info.absolutePath();
    if (parent == info.absoluteFilePath()) break;
    info = QFileInfo(parent);
    canonical = info.canonicalFilePath();
  }
  if (canonical.isEmpty()) return {DriveType::NoRootDir, QString()};
  QFile f(QStringLiteral("/proc/self/mountinfo"));
  if (!f.open(QIODevice::ReadOnly)) return {DriveType::Unknown, QString()};
  return driveOf(canonical, QString::fromUtf8(f.readAll()), sysfsRemovable);
}
