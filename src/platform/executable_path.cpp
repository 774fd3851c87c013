#include "platform/executable_path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <vector>

#include "platform/write_permission.h"

#ifndef QZ418_INSTALL_BINDIR
#define QZ418_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace {

const QString kConfigSubfolder = QStringLiteral("qz418");

// The folder with its links resolved where it exists, else only cleaned.
QString resolvedFolder(const QString& folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

QString homeFolder() {
  const QString home = qEnvironmentVariable("HOME");
  if (!home.isEmpty()) return home;
  // Started without HOME (by a service, say): the password database still knows it.
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
    return QFile::decodeName(found->pw_dir);
  return QStringLiteral("/");
}

}  // namespace

StateLocationFacts runningProgramFacts() {
  StateLocationFacts f;
  f.executable = executablePath();
  f.installBinFolder = resolvedFolder(QStringLiteral(QZ418_INSTALL_BINDIR));
  const QString folder = QFileInfo(f.executable).absolutePath();
  f.drive = driveOf(folder).type;
  f.folderWritable = modeAllowsWrite(folder);
  f.homeFolder = homeFolder();
  f.configHome = configHome(qEnvironmentVariable("XDG_CONFIG_HOME"), f.homeFolder);
  return f;
}

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

QString StateLocation::savePath(const QString& fileName) const { return saveFolder + u'/' + fileName; }

QString StateLocation::readPath(const QString& fileName) const {
  const QString saved = savePath(fileName);
  if (!installed || QFileInfo::exists(saved)) return saved;
  const QString shipped = programFolder + u'/' + fileName;
  return QFileInfo::exists(shipped) ? shipped : saved;
}

QString configHome(const QString& xdgConfigHome, const QString& homeFolder) {
  if (xdgConfigHome.startsWith(u'/')) return QDir::cleanPath(xdgConfigHome);
  return QDir::cleanPath(homeFolder + QStringLiteral("/.config"));
}

StateLocation decideStateLocation(const StateLocationFacts& facts) {
  StateLocation l;
  const QFileInfo exe(facts.executable);
  l.programFolder = exe.absolutePath();
  l.homeFolder = facts.homeFolder;
  l.stateFileName = replaceExtension(exe.fileName(), QStringLiteral(".ini"));
  const bool inInstallPrefix = !facts.installBinFolder.isEmpty() && l.programFolder == facts.installBinFolder;
  // A folder the user may not write on a CD-ROM, a stick or a share is still a portable
  // copy: the drive question at exit decides about it, as it always did.
  const bool lockedFixedFolder = facts.drive == DriveType::Fixed && !facts.folderWritable;
  l.installed = inInstallPrefix || lockedFixedFolder;
  l.saveFolder = l.installed ? facts.configHome + u'/' + kConfigSubfolder : l.programFolder;
  return l;
}

bool createPrivateFolder(const QString& folder) {
  const QString clean = QDir::cleanPath(folder);
  if (!clean.startsWith(u'/')) return false;
  // Top down, so that every folder made here gets 0700 (mkpath would give the umask's mode).
  qsizetype at = 0;
  while (at >= 0) {
    at = clean.indexOf(u'/', at + 1);
    const QString part = at < 0 ? clean : clean.left(at);
    if (::mkdir(QFile::encodeName(part).constData(), 0700) != 0 && errno != EEXIST) return false;
  }
  return QFileInfo(clean).isDir();
}

QString privateStateFolder(bool create) {
  const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
  const QString base = xdg.startsWith(u'/') ? QDir::cleanPath(xdg)
                                            : QDir::cleanPath(homeFolder() + QStringLiteral("/.local/state"));
  const QString folder = base + u'/' + kConfigSubfolder;
  if (create && !createPrivateFolder(folder)) return QString();
  const QByteArray name = QFile::encodeName(folder);
  struct stat st {};
  if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return QString();
  // Made by an older tool with the umask's mode: the user's own, so it can be closed.
  if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0) return QString();
  return folder;
}
