// The executable and the state files' place on Windows, by the rule of the Linux build: a
// portable copy keeps its files beside the executable; an installed one (in the folder the
// installer recorded, or in a folder of a fixed disk the user may not write, such as
// C:\Program Files for a user without administrator rights) in the user's application-data
// folder, %APPDATA%\qz418. A copy on a CD-ROM, a stick or a share stays portable, and the
// drive question at exit decides about writing there.
#ifdef _WIN32

#include "platform/executable_path_win.h"

#include <windows.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <vector>

#include "platform/executable_path.h"
// The uid_t the header's test overload names (not built on Windows).
typedef unsigned uid_t;
typedef unsigned gid_t;
#include "platform/write_permission.h"

// Last: shlobj.h declares a function named DriveType, which hides the enum from the headers
// above as a type name.
#include <shlobj.h>

namespace {

const QString kConfigSubfolder = QStringLiteral("qz418");

bool isAbsoluteWindowsPath(const QString& path) {
  const QString p = QDir::fromNativeSeparators(path);
  return (p.size() >= 3 && p[0].isLetter() && p[1] == u':' && p[2] == u'/') || p.startsWith(u"//");
}

QString knownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  QString folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
    folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
  ::CoTaskMemFree(path);
  return folder;
}

QString registryString(HKEY root, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, kUninstallKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
    return QString();
  std::vector<wchar_t> buf(1024);
  DWORD bytes = DWORD(buf.size() * sizeof(wchar_t));
  DWORD type = 0;
  LONG rc = ::RegQueryValueExW(key, kInstallLocationValue, nullptr, &type,
                               reinterpret_cast<BYTE*>(buf.data()), &bytes);
  if (rc == ERROR_MORE_DATA) {
    buf.resize(bytes / sizeof(wchar_t) + 1);
    bytes = DWORD(buf.size() * sizeof(wchar_t));
    rc = ::RegQueryValueExW(key, kInstallLocationValue, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                            &bytes);
  }
  ::RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return QString();
  // The stored text need not end in a null.
  QString value = QString::fromWCharArray(buf.data(), qsizetype(bytes / sizeof(wchar_t)));
  while (value.endsWith(QChar(0))) value.chop(1);
  if (type == REG_EXPAND_SZ) {
    std::vector<wchar_t> expanded(32768);
    const std::wstring raw = value.toStdWString();
    const DWORD n = ::ExpandEnvironmentStringsW(raw.c_str(), expanded.data(), DWORD(expanded.size()));
    if (n > 0 && n <= expanded.size()) value = QString::fromWCharArray(expanded.data());
  }
  return value;
}

}  // namespace

StateLocationFacts runningProgramFacts() {
  StateLocationFacts f;
  // Paths as the system gave them, not resolved: a copy on a mapped network drive keeps its
  // drive letter (resolving would give the share's name), which the drive question names.
  f.executable = executablePath();
  f.installBinFolder = installedProgramFolder();
  const QString folder = QFileInfo(f.executable).absolutePath();
  f.drive = driveOf(folder).type;
  f.folderWritable = modeAllowsWrite(folder);
  // Project files belong with the user's documents; the profile folder when there is none.
  f.homeFolder = knownFolder(FOLDERID_Documents);
  if (f.homeFolder.isEmpty()) f.homeFolder = knownFolder(FOLDERID_Profile);
  if (f.homeFolder.isEmpty()) f.homeFolder = QDir::homePath();
  f.configHome = configHome(knownFolder(FOLDERID_RoamingAppData), f.homeFolder);
  return f;
}

QString cleanInstallLocation(const QString& value) {
  QString v = value.trimmed();
  if (v.size() >= 2 && v.startsWith(u'"') && v.endsWith(u'"')) v = v.mid(1, v.size() - 2).trimmed();
  if (v.isEmpty()) return v;
  v = QDir::cleanPath(QDir::fromNativeSeparators(v));
  // "C:" alone would mean the current folder of drive C; the installer means its root.
  if (v.size() == 2 && v[1] == u':') v += u'/';
  return v;
}

QString installedProgramFolder() {
  // A machine-wide installation first, in the 64-bit view this program is built for; then one
  // made for this user only.
  for (const auto& [root, view] :
       {std::pair{HKEY_LOCAL_MACHINE, REGSAM(KEY_WOW64_64KEY)}, std::pair{HKEY_CURRENT_USER, REGSAM(0)}}) {
    const QString folder = cleanInstallLocation(registryString(root, view));
    if (isAbsoluteWindowsPath(folder)) return folder;
  }
  return QString();
}

QString executablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0) return QString();
    if (n < buf.size()) return QDir::fromNativeSeparators(QString::fromWCharArray(buf.data(), qsizetype(n)));
    if (buf.size() >= 32768) return QString();
    buf.resize(buf.size() * 2);
  }
}

QString replaceExtension(const QString& path, const QString& newExtension) {
  const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
  const qsizetype dot = path.lastIndexOf(u'.');
  // A dot that leads the file name is not an extension separator either.
  if (dot > slash + 1) return path.left(dot) + newExtension;
  return path + newExtension;
}

namespace {
// A drive's root keeps its separator ("E:/"): a file in it is "E:/qz418.ini", not "E://...".
QString inFolder(const QString& folder, const QString& fileName) {
  return folder.endsWith(u'/') ? folder + fileName : folder + u'/' + fileName;
}
}  // namespace

QString StateLocation::savePath(const QString& fileName) const { return inFolder(saveFolder, fileName); }

QString StateLocation::readPath(const QString& fileName) const {
  const QString saved = savePath(fileName);
  if (!installed || QFileInfo::exists(saved)) return saved;
  const QString shipped = inFolder(programFolder, fileName);
  return QFileInfo::exists(shipped) ? shipped : saved;
}

// On Windows the first argument is the roaming application-data folder (FOLDERID_RoamingAppData,
// what %APPDATA% names); when the system gives none, the profile's usual place for it.
QString configHome(const QString& appData, const QString& homeFolder) {
  if (isAbsoluteWindowsPath(appData)) return QDir::cleanPath(QDir::fromNativeSeparators(appData));
  return QDir::cleanPath(QDir::fromNativeSeparators(homeFolder) + QStringLiteral("/AppData/Roaming"));
}

StateLocation decideStateLocation(const StateLocationFacts& facts) {
  StateLocation l;
  const QFileInfo exe(QDir::fromNativeSeparators(facts.executable));
  l.programFolder = exe.absolutePath();
  l.homeFolder = facts.homeFolder;
  l.stateFileName = replaceExtension(exe.fileName(), QStringLiteral(".ini"));
  // File names are compared as Windows compares them: without case.
  const bool inInstallFolder =
      !facts.installBinFolder.isEmpty() &&
      QString::compare(l.programFolder, QDir::cleanPath(QDir::fromNativeSeparators(facts.installBinFolder)),
                       Qt::CaseInsensitive) == 0;
  // A folder the user may not write on a CD-ROM, a stick or a share is still a portable
  // copy: the drive question at exit decides about it, as it always did.
  const bool lockedFixedFolder = facts.drive == DriveType::Fixed && !facts.folderWritable;
  l.installed = inInstallFolder || lockedFixedFolder;
  l.saveFolder = l.installed ? facts.configHome + u'/' + kConfigSubfolder : l.programFolder;
  return l;
}

// The profile's folders are the user's own by their inherited access list; a folder made in
// them keeps it, so nothing more is set here.
bool createPrivateFolder(const QString& folder) {
  const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folder));
  if (!isAbsoluteWindowsPath(clean)) return false;
  QDir().mkpath(clean);
  return QFileInfo(clean).isDir();
}

// Records of unfinished saves and copies of files kept aside: the user's local (not roaming)
// application data, which only the user can read.
QString privateStateFolder(bool create) {
  const QString base = knownFolder(FOLDERID_LocalAppData);
  if (base.isEmpty()) return QString();
  const QString folder = base + QStringLiteral("/qz418/state");
  if (create && !createPrivateFolder(folder)) return QString();
  return QFileInfo(folder).isDir() ? folder : QString();
}

#endif
