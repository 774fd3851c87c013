// The Windows system services: drive types by root (drive letters and shares), where the state
// files live, the single-copy guard, and the listing of virtual devices behind named pipes.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/drive_type_win.h"
#include "platform/executable_path.h"
#include "platform/executable_path_win.h"
#include "platform/single_instance.h"
#include "platform/virtual_device_pipe_win.h"
#include "platform/virtual_pipe_win.h"

namespace {

TEST(WindowsDrives, RootOfThePathDecidesAndIsAskedInTheSystemsForm) {
  struct Case {
    const char* path;
    const char* root;   // as the drive question shows it
    const char* asked;  // what GetDriveTypeA is given; empty: not asked
    unsigned code;      // the system's answer
    DriveType type;
  } cases[] = {
      {"C:/QZ418/qz418.ini", "C:/", "C:\\", 3, DriveType::Fixed},
      {"d:\\stick\\QZ418\\qz418.ini", "D:/", "D:\\", 2, DriveType::Removable},
      {"//server/share/qz/qz418.ini", "//server/share/", "\\\\server\\share\\", 4, DriveType::Remote},
      {"\\\\server\\share\\qz418.ini", "//server/share/", "\\\\server\\share\\", 4, DriveType::Remote},
      {"\\\\?\\UNC\\srv\\lab\\deep\\qz418.ini", "//srv/lab/", "\\\\srv\\lab\\", 4, DriveType::Remote},
      {"\\\\?\\E:\\qz418.ini", "E:/", "E:\\", 5, DriveType::CdRom},
      {"R:/qz418.ini", "R:/", "R:\\", 6, DriveType::RamDisk},
      {"Q:/gone/qz418.ini", "Q:/", "Q:\\", 1, DriveType::NoRootDir},
      {"C:/x.ini", "C:/", "C:\\", 0, DriveType::Unknown},
      {"C:/x.ini", "C:/", "C:\\", 7, DriveType::Unknown},
      // A server without a share has no root to ask about.
      {"//server", "", "", 3, DriveType::NoRootDir},
      {"//server/", "", "", 3, DriveType::NoRootDir},
      {"", "", "", 3, DriveType::NoRootDir},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    QByteArray asked;
    const DriveInfo d = driveOf(QString::fromUtf8(c.path), [&](const QByteArray& root) {
      asked = root;
      return c.code;
    });
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.root, QString::fromUtf8(c.root));
    EXPECT_EQ(asked, QByteArray(c.asked));
  }
  // The program's own folder is on a drive the system knows.
  QTemporaryDir dir;
  const DriveInfo here = driveOf(dir.filePath("not/yet/qz418.ini"));
  EXPECT_EQ(here.type, DriveType::Fixed);
  EXPECT_TRUE(QDir(dir.path()).absolutePath().startsWith(here.root, Qt::CaseInsensitive))
      << here.root.toStdString();
}

TEST(WindowsStateLocation, PortableOrInstalledByPlaceAndPermission) {
  const char* const appData = "C:/Users/op/AppData/Roaming/qz418";
  struct Case {
    const char* what;
    const char* exe;
    const char* installFolder;
    DriveType drive;
    bool writable;
    const char* saveFolder;
  } cases[] = {
      {"own folder", "C:/QZ418/qz418.exe", "C:/Program Files/QZ418", DriveType::Fixed, true, "C:/QZ418"},
      {"the installer's folder, even for an administrator", "C:/Program Files/QZ418/qz418.exe",
       "C:/Program Files/QZ418", DriveType::Fixed, true, appData},
      {"the installer's folder in other case", "c:/PROGRAM FILES/qz418/qz418.exe", "C:/Program Files/QZ418",
       DriveType::Fixed, true, appData},
      {"locked folder on a fixed disk", "D:/Tools/QZ418/qz418.exe", "", DriveType::Fixed, false, appData},
      {"a folder named like the installer's", "C:/Program Files/QZ418 old/qz418.exe",
       "C:/Program Files/QZ418", DriveType::Fixed, true, "C:/Program Files/QZ418 old"},
      {"a folder below the installer's", "C:/Program Files/QZ418/old/qz418.exe", "C:/Program Files/QZ418",
       DriveType::Fixed, true, "C:/Program Files/QZ418/old"},
      {"CD-ROM root", "E:/qz418.exe", "", DriveType::CdRom, false, "E:/"},
      {"write-protected stick", "F:/QZ/qz418.exe", "", DriveType::Removable, false, "F:/QZ"},
      {"read-only share", "//srv/lab/QZ418/qz418.exe", "", DriveType::Remote, false, "//srv/lab/QZ418"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StateLocationFacts f;
    f.executable = QString::fromUtf8(c.exe);
    f.installBinFolder = QString::fromUtf8(c.installFolder);
    f.drive = c.drive;
    f.folderWritable = c.writable;
    f.configHome = "C:/Users/op/AppData/Roaming";
    f.homeFolder = "C:/Users/op/Documents";
    const StateLocation l = decideStateLocation(f);
    const QString saveFolder = QString::fromUtf8(c.saveFolder);
    EXPECT_EQ(l.installed, saveFolder == QString::fromUtf8(appData));
    EXPECT_EQ(l.savePath("Scenes.ini"), QDir::cleanPath(saveFolder + "/Scenes.ini"));
    EXPECT_EQ(l.stateFileName, "qz418.ini");
    EXPECT_EQ(l.dialogFolder(), l.installed ? QString("C:/Users/op/Documents") : l.programFolder);
  }
  StateLocationFacts renamed{"C:/QZ/QZ418.EXE", "", DriveType::Fixed, true, "C:/c", "C:/h"};
  EXPECT_EQ(decideStateLocation(renamed).stateFileName, "QZ418.ini");

  EXPECT_EQ(configHome("C:\\Users\\op\\AppData\\Roaming\\", "C:/Users/op"), "C:/Users/op/AppData/Roaming");
  EXPECT_EQ(configHome("", "C:/Users/op"), "C:/Users/op/AppData/Roaming");
  EXPECT_EQ(configHome("AppData", "C:/Users/op"), "C:/Users/op/AppData/Roaming")
      << "a relative path is ignored";
}

TEST(WindowsStateLocation, InstallerRecordsItsFolderForAllUsersOrOne) {
  struct Case {
    const char* written;
    const char* read;
  } cases[] = {
      {"\"C:\\Program Files\\QZ418\\\"", "C:/Program Files/QZ418"},
      {"C:\\QZ418\\", "C:/QZ418"},
      {"  D:\\Apps\\QZ418  ", "D:/Apps/QZ418"},
      {"D:", "D:/"},
      {"\\\\srv\\apps\\qz418", "//srv/apps/qz418"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cleanInstallLocation(QString::fromUtf8(c.written)), c.read) << c.written;

  // A per-user installation's entry, as the installer writes it, is found.
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
            ERROR_SUCCESS);
  const std::wstring value = L"C:\\Users\\op\\QZ418 test\\";
  ::RegSetValueExW(key, kInstallLocationValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  HKEY machine = nullptr;
  const bool machineWide = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0,
                                           KEY_QUERY_VALUE | KEY_WOW64_64KEY, &machine) == ERROR_SUCCESS;
  if (machine) ::RegCloseKey(machine);
  if (!machineWide) {
    EXPECT_EQ(installedProgramFolder(), "C:/Users/op/QZ418 test");
  }
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  if (!machineWide) {
    EXPECT_EQ(installedProgramFolder(), QString());
  }
}

TEST(WindowsSingleInstance, SemaphoreAndStateFolderLockEachStopASecondCopy) {
  QTemporaryDir a, b;
  ASSERT_TRUE(a.isValid() && b.isValid());
  const std::string name = "QZ418-test-" + std::to_string(::GetCurrentProcessId());
  const auto places = [](const QTemporaryDir& d) {
    SingleInstanceGuard::Places p;
    p.state = QDir::toNativeSeparators(d.path()).toStdString();
    return p;
  };
  using State = SingleInstanceGuard::State;
  auto first = std::make_unique<SingleInstanceGuard>(name, places(a));
  ASSERT_EQ(first->state(), State::Acquired);
  EXPECT_EQ(first->lockPath(), name);
  EXPECT_TRUE(QFile::exists(a.filePath(QString::fromStdString("." + name + ".lock"))));
  // A copy in another session (or of another user) has its own semaphore; only the lock in the
  // state folder stands between the two.
  const std::string elsewhere = name + "-elsewhere";
  const std::wstring lockFile = QDir::toNativeSeparators(a.filePath(QString::fromStdString("." + elsewhere + ".lock")))
                                    .toStdWString();
  HANDLE held = ::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
  OVERLAPPED whole{};
  ASSERT_TRUE(::LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole));
  struct Case {
    const char* what;
    std::string name;
    const QTemporaryDir* state;
    State expected;
  } cases[] = {
      {"the same name, the same state folder", name, &a, State::AlreadyRunning},
      {"the same name, other state files", name, &b, State::AlreadyRunning},
      {"another name: another program", name + "-other", &a, State::Acquired},
      {"another session's copy of the same state files", elsewhere, &a, State::AlreadyRunning},
      {"another session's copy, other state files", elsewhere, &b, State::Acquired},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SingleInstanceGuard(c.name, places(*c.state)).state(), c.expected);
  }
  ::CloseHandle(held);
  first.reset();
  EXPECT_EQ(SingleInstanceGuard(name, places(a)).state(), State::Acquired) << "released with its guard";
}

// A live pipe of this process, served the way qz418-sim serves one.
struct LivePipe {
  explicit LivePipe(const std::wstring& name)
      : handle(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                  PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr)) {}
  ~LivePipe() { ::CloseHandle(handle); }
  HANDLE handle;
};

bool writeFile(const QString& path, const QByteArray& text) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

TEST(WindowsVirtualDevices, FolderListsOnlyDevicesWhosePipeIsServed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
  const std::wstring alphaPipe = L"\\\\.\\pipe\\qz418-" + pid + L"-alpha",
                     betaPipe = L"\\\\.\\pipe\\qz418-" + pid + L"-beta";
  LivePipe alpha(alphaPipe), beta(betaPipe);
  ASSERT_NE(alpha.handle, INVALID_HANDLE_VALUE);
  struct File {
    const char* name;
    QByteArray text;
  } files[] = {
      {"beta.pipe", QString::fromStdWString(betaPipe).toUtf8() + "\r\n"},
      {"alpha.pipe", QString::fromStdWString(alphaPipe).toUtf8()},
      {"killed.pipe", "\\\\.\\pipe\\qz418-1-killed\r\n"},  // its device is gone
      {"garbage.pipe", "C:\\Windows\\notepad.exe\r\n"},    // names no pipe
      {"empty.pipe", ""},
      {".beta.77.tmp", QString::fromStdWString(betaPipe).toUtf8()},  // being written
      {"gamma.sock", QString::fromStdWString(alphaPipe).toUtf8()},   // not a device file
  };
  for (const File& f : files) ASSERT_TRUE(writeFile(dir.filePath(f.name), f.text)) << f.name;

  const std::vector<DeviceRecord> records = enumerateVirtualPipes(dir.path());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].devicePath, QString::fromStdWString(alphaPipe));
  EXPECT_EQ(records[0].locationInformation, "virtual:alpha");
  EXPECT_EQ(records[1].locationInformation, "virtual:beta");
  EXPECT_EQ(records[1].hardwareIds,
            QStringList({"USB\\VID_5D3C&PID_5D3C&REV_0001", "USB\\VID_5D3C&PID_5D3C"}));
  EXPECT_EQ(records[1].deviceDescription, "QZ418 (virtual)");
  EXPECT_TRUE(isVirtualPipePath(records[0].devicePath));
  EXPECT_TRUE(isVirtualPipePath("//./PIPE/qz418-1-sim0"));
  EXPECT_FALSE(isVirtualPipePath("\\\\?\\usb#vid_5d3c&pid_5d3c#1#{guid}"));

  int error = 0;
  EXPECT_EQ(openVirtualPipeTransport("\\\\.\\pipe\\qz418-1-killed", &error), nullptr);
  EXPECT_EQ(error, 19);
  EXPECT_EQ(openVirtualPipeTransport("C:/Windows/notepad.exe", &error), nullptr);
  EXPECT_EQ(error, 19);
}

}  // namespace

#endif
