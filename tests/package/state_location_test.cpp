// Where a copy of the program keeps its state: beside a portable copy, in the user's config
// folder for an installed one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/drive_type.h"
#include "platform/executable_path.h"
#include "support/program_session.h"

namespace {

mode_t modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(StateLocation, PortableOrInstalledByPlaceAndPermission) {
  struct Case {
    const char* what;
    const char* exe;
    DriveType drive;
    bool writable;
    bool installed;
    const char* saveFolder;
  } cases[] = {
      {"own folder", "/opt/qz/qz418", DriveType::Fixed, true, false, "/opt/qz"},
      {"install prefix, even for root", "/usr/bin/qz418", DriveType::Fixed, true, true, "/home/op/.config/qz418"},
      {"locked folder on a fixed disk", "/opt/qz/qz418", DriveType::Fixed, false, true, "/home/op/.config/qz418"},
      {"CD-ROM", "/media/cdrom/qz418", DriveType::CdRom, false, false, "/media/cdrom"},
      {"write-protected stick", "/media/usb/qz/qz418", DriveType::Removable, false, false, "/media/usb/qz"},
      {"read-only share", "/mnt/share/qz418", DriveType::Remote, false, false, "/mnt/share"},
      {"a folder named like the prefix", "/usr/bin2/qz418", DriveType::Fixed, true, false, "/usr/bin2"},
      {"a folder below the prefix", "/usr/bin/qz/qz418", DriveType::Fixed, true, false, "/usr/bin/qz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StateLocationFacts f;
    f.executable = c.exe;
    f.installBinFolder = "/usr/bin";
    f.drive = c.drive;
    f.folderWritable = c.writable;
    f.configHome = "/home/op/.config";
    f.homeFolder = "/home/op";
    const StateLocation l = decideStateLocation(f);
    EXPECT_EQ(l.installed, c.installed);
    EXPECT_EQ(l.savePath("qz418.ini"), QString(c.saveFolder) + "/qz418.ini");
    EXPECT_EQ(l.stateFileName, "qz418.ini");
    EXPECT_EQ(l.dialogFolder(), c.installed ? QString("/home/op") : QFileInfo(c.exe).absolutePath());
  }
  // The state file is named after the executable, wherever it is kept.
  StateLocationFacts renamed{"/usr/bin/qz418-lab", "/usr/bin", DriveType::Fixed, true, "/c", "/h"};
  EXPECT_EQ(decideStateLocation(renamed).stateFileName, "qz418-lab.ini");
}

TEST(StateLocation, ConfigHomeFollowsTheBaseDirectoryRules) {
  EXPECT_EQ(configHome("", "/home/op"), "/home/op/.config");
  EXPECT_EQ(configHome("/srv/cfg/", "/home/op"), "/srv/cfg");
  EXPECT_EQ(configHome("cfg", "/home/op"), "/home/op/.config") << "a relative path is ignored";
}

TEST(StateLocation, InstalledCopyStartsFromTheShippedSetUpUntilItHasItsOwn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  StateLocation installed;
  installed.installed = true;
  installed.programFolder = dir.filePath("bin");
  installed.saveFolder = dir.filePath("cfg/qz418");
  ASSERT_TRUE(QDir().mkpath(installed.programFolder) && QDir().mkpath(installed.saveFolder));
  StateLocation portable = installed;
  portable.installed = false;
  portable.saveFolder = portable.programFolder;

  const QString shipped = dir.filePath("bin/Scenes.ini"), own = dir.filePath("cfg/qz418/Scenes.ini");
  EXPECT_EQ(installed.readPath("Scenes.ini"), own) << "nothing anywhere: the user's own place";
  ASSERT_TRUE(writeFile(shipped, "[SchemaForm]\r\n"));
  EXPECT_EQ(installed.readPath("Scenes.ini"), shipped);
  EXPECT_EQ(installed.savePath("Scenes.ini"), own) << "saved into the config folder all the same";
  ASSERT_TRUE(writeFile(own, "[SchemaForm]\r\n"));
  EXPECT_EQ(installed.readPath("Scenes.ini"), own);
  EXPECT_EQ(portable.readPath("Scenes.ini"), shipped);
}

TEST(StateLocation, ConfigFolderIsCreatedPrivate) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const mode_t oldMask = ::umask(0);  // a permissive umask must not widen the folders
  const bool made = createPrivateFolder(dir.filePath("home/.config/qz418"));
  ::umask(oldMask);
  ASSERT_TRUE(made);
  EXPECT_EQ(modeOf(dir.filePath("home")), 0700u);
  EXPECT_EQ(modeOf(dir.filePath("home/.config/qz418")), 0700u);
  EXPECT_TRUE(createPrivateFolder(dir.filePath("home/.config/qz418"))) << "an existing folder is fine";
  ASSERT_TRUE(writeFile(dir.filePath("file"), "x"));
  EXPECT_FALSE(createPrivateFolder(dir.filePath("file/qz418")));
}

// The real program in a folder its user may not write: it starts from the set-up shipped
// beside it, saves into the user's config folder, and from then on reads its own file.
TEST(StateLocation, InstalledProgramKeepsItsStateInTheConfigFolder) {
  ProgramSession s;
  const QString config = s.path("config");
  qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
  ASSERT_NO_FATAL_FAILURE(s.prepare());
  qunsetenv("XDG_CONFIG_HOME");
  const QString bin = s.path("bin");
  if (driveOf(bin).type != DriveType::Fixed) GTEST_SKIP() << "the temporary folder is not on a fixed disk";
  const QByteArray shippedState = "[MainForm]\r\nCh1S_OffCheckBox=1\r\n";
  ASSERT_TRUE(writeFile(bin + "/qz418.ini", shippedState));
  ASSERT_TRUE(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                             QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));

  const auto run = [&] {
    QFile::remove(s.linkLog());
    s.startProgram();
    ASSERT_TRUE(s.waitUntilUp(15000));
    QThread::msleep(200);
    s.endProgram(20000);
  };
  ASSERT_NO_FATAL_FAILURE(run());
  const QString own = config + "/qz418/qz418.ini";
  const QByteArray first = readFile(own);
  EXPECT_TRUE(first.contains("\r\nCh1S_OffCheckBox=1\r\n")) << "the shipped set-up was not the start";
  EXPECT_TRUE(QFileInfo::exists(config + "/qz418/Scenes.ini"));
  EXPECT_EQ(modeOf(config), 0700u);
  EXPECT_EQ(modeOf(config + "/qz418"), 0700u);
  EXPECT_EQ(readFile(bin + "/qz418.ini"), shippedState) << "the shipped file is never written";
  EXPECT_EQ(QDir(bin).entryList(QDir::Files), (QStringList{"qz418", "qz418.ini"}));
  EXPECT_FALSE(readFile(s.dialogLog()).contains("warningYesNo")) << "no drive question for the config folder";

  // The user's own file wins over the shipped one from now on.
  QByteArray changed = first;
  changed.replace("\r\nCh1S_OffCheckBox=1", "\r\nCh1S_OffCheckBox=0");
  ASSERT_TRUE(writeFile(own, changed));
  ASSERT_NO_FATAL_FAILURE(run());
  EXPECT_TRUE(readFile(own).contains("\r\nCh1S_OffCheckBox=0\r\n"));
  QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
