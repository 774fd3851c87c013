#include "platform/executable_path.h"

#include <unistd.h>

#include <QFileInfo>
#include <climits>

QString executablePath() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return QString();
  return QString::fromLocal8Bit(buf, static_cast<int>(n));
}

QString replaceExtension(const QString& path, const QString& newExtension) {
  const qsizetype slash = path.lastIndexOf(u'/');
  const qsizetype dot = path.lastIndexOf(u'.');
  // A dot that leads the file name ("/home/u/.qz") is not an extension separator either.
  if (dot > slash + 1) return path.left(dot) + newExtension;
  return path + newExtension;
}

QString stateFileName() { return replaceExtension(executablePath(), QStringLiteral(".ini")); }
