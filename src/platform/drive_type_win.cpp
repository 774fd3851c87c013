// Drive types on Windows: GetDriveTypeA of the root of the path, as the program has always
// asked it. A share has no drive letter; its root is "\\server\share\".
#ifdef _WIN32

#include "platform/drive_type_win.h"

#include <windows.h>

#include <QDir>
#include <QFileInfo>

namespace {

bool isLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// "//?/C:/x" and "//./C:/x" are "C:/x"; "//?/UNC/srv/share/x" is "//srv/share/x".
QString withoutDevicePrefix(const QString& path) {
  if (!path.startsWith(u"//?/") && !path.startsWith(u"//./")) return path;
  const QString rest = path.mid(4);
  if (rest.startsWith(u"UNC/", Qt::CaseInsensitive)) return QStringLiteral("//") + rest.mid(4);
  return rest;
}

}  // namespace

QString driveRootOf(const QString& absolutePath) {
  const QString p = withoutDevicePrefix(QDir::fromNativeSeparators(absolutePath));
  if (p.size() >= 2 && isLetter(p[0]) && p[1] == u':') return p.left(1).toUpper() + QStringLiteral(":/");
  if (!p.startsWith(u"//")) return QString();
  const qsizetype serverEnd = p.indexOf(u'/', 2);
  if (serverEnd <= 2) return QString();  // "//" or "///x": no server
  qsizetype shareEnd = p.indexOf(u'/', serverEnd + 1);
  if (shareEnd < 0) shareEnd = p.size();
  if (shareEnd == serverEnd + 1) return QString();  // "//server/" without a share
  return p.left(shareEnd) + u'/';
}

DriveType driveTypeFromCode(unsigned code) {
  switch (code) {
    case DRIVE_NO_ROOT_DIR:
      return DriveType::NoRootDir;
    case DRIVE_REMOVABLE:
      return DriveType::Removable;
    case DRIVE_FIXED:
      return DriveType::Fixed;
    case DRIVE_REMOTE:
      return DriveType::Remote;
    case DRIVE_CDROM:
      return DriveType::CdRom;
    case DRIVE_RAMDISK:
      return DriveType::RamDisk;
    default:
      return DriveType::Unknown;
  }
}

DriveInfo driveOf(const QString& path, const DriveTypeLookup& lookup) {
  if (path.isEmpty()) return {DriveType::NoRootDir, QString()};
  const QString root = driveRootOf(QFileInfo(path).absoluteFilePath());
  if (root.isEmpty()) return {DriveType::NoRootDir, QString()};
  // The system wants its own separators and the trailing one ("C:\", "\\server\share\").
  return {driveTypeFromCode(lookup(QDir::toNativeSeparators(root).toLocal8Bit())), root};
}

DriveInfo driveOf(const QString& path) {
  return driveOf(path, [](const QByteArray& root) { return ::GetDriveTypeA(root.constData()); });
}

#endif
