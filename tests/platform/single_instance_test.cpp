#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <functional>

#include "platform/executable_path.h"

namespace {

// Points the guard at a private runtime folder for the life of the test.
class RuntimeFolder {
 public:
  RuntimeFolder() {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) old_ = old, hadOld_ = true;
    setenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit().constData(), 1);
  }
  ~RuntimeFolder() {
    if (hadOld_)
      setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  QString path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  std::string old_;
  bool hadOld_ = false;
};

// The places of the running user without the lock of the state files, which would be the test
// program's folder.
SingleInstanceGuard::Places userPlaces() {
  SingleInstanceGuard::Places p = SingleInstanceGuard::defaultPlaces();
  p.state.clear();
  return p;
}

}  // namespace

TEST(SingleInstanceGuard, SecondHolderIsRefusedUntilTheFirstReleases) {
  RuntimeFolder rt;
  SingleInstanceGuard first("QZ418", userPlaces());
  ASSERT_EQ(first.state(), SingleInstanceGuard::State::Acquired);
  EXPECT_EQ(first.lockPath(), (rt.path() + "/QZ418.lock").toStdString());

  SingleInstanceGuard second("QZ418", userPlaces());
  EXPECT_EQ(second.state(), SingleInstanceGuard::State::AlreadyRunning);

  SingleInstanceGuard other("OTHER", userPlaces());
  EXPECT_EQ(other.state(), SingleInstanceGuard::State::Acquired) << "names are independent";

  first.release();
  SingleInstanceGuard third("QZ418", userPlaces());
  EXPECT_EQ(third.state(), SingleInstanceGuard::State::Acquired);
}

// The lock lives only where no other user can reach it: a folder of ours that is a real folder
// closed to everyone else. Otherwise the next place is tried; with none the program starts
// without a guard and creates nothing.
TEST(SingleInstanceGuard, LockOnlyInAPrivateFolder) {
  using State = SingleInstanceGuard::State;
  const bool root = ::geteuid() == 0;
  struct Row {
    const char* name;
    std::function<void(const QString& base)> setUp;  // base/{run,shared,home} are the places
    const char* chosen;                              // "run", "shared", "home/.cache/qz418", "" for none
  };
  auto mkdirMode = [](const QString& path, mode_t mode) {
    ASSERT_EQ(::mkdir(QFile::encodeName(path).constData(), mode), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
  };
  const Row rows[] = {
      {"runtime folder private", [&](const QString& b) { mkdirMode(b + "/run", 0700); }, "run"},
      {"runtime folder unset", [](const QString&) {}, "shared"},
      {"runtime folder open to others", [&](const QString& b) { mkdirMode(b + "/run", 0755); }, "shared"},
      {"shared folder made by another user",
       [&](const QString& b) {
         mkdirMode(b + "/shared", 0700);
         if (root)
           ASSERT_EQ(::chown(QFile::encodeName(b + "/shared").constData(), 65534, 65534), 0);
         else
           ::chmod(QFile::encodeName(b + "/shared").constData(), 01777);
       },
       "home/.cache/qz418"},
      {"shared folder a link to a private one",
       [&](const QString& b) {
         mkdirMode(b + "/elsewhere", 0700);
         ASSERT_TRUE(QFile::link(b + "/elsewhere", b + "/shared"));
       },
       "home/.cache/qz418"},
      {"no safe place at all",
       [&](const QString& b) {
         mkdirMode(b + "/shared", 0777);
         QFile home(b + "/home");  // not a folder: nothing can be made under it
         ASSERT_TRUE(home.open(QIODevice::WriteOnly));
       },
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir base;
    row.setUp(base.path());
    if (!QFileInfo::exists(base.path() + "/home")) {
      ASSERT_TRUE(QDir().mkdir(base.path() + "/home"));
    }
    SingleInstanceGuard::Places places;
    if (QFileInfo::exists(base.path() + "/run"))
      places.runtime = QFile::encodeName(base.path() + "/run").toStdString();
    places.shared = QFile::encodeName(base.path() + "/shared").toStdString();
    places.cache = QFile::encodeName(base.path() + "/home/.cache/qz418").toStdString();

    SingleInstanceGuard first("QZ418", places);
    const std::string chosen =
        *row.chosen ? QFile::encodeName(base.path() + "/" + row.chosen).toStdString() : "";
    EXPECT_EQ(SingleInstanceGuard::lockFolder(places), chosen);
    if (chosen.empty()) {
      EXPECT_EQ(first.state(), State::Unavailable);
      EXPECT_TRUE(first.lockPath().empty());
      EXPECT_FALSE(QFileInfo::exists(base.path() + "/shared/QZ418.lock"))
          << "nothing made in an unsafe place";
      continue;
    }
    EXPECT_EQ(first.state(), State::Acquired);
    EXPECT_EQ(first.lockPath(), chosen + "/QZ418.lock");
    struct stat st {};
    ASSERT_EQ(::lstat(chosen.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a folder made for the lock is private";
    EXPECT_EQ(SingleInstanceGuard("QZ418", places).state(), State::AlreadyRunning);
    if (chosen.find("/shared") == std::string::npos) {
      for (const char* unsafe : {"/shared/QZ418.lock", "/elsewhere/QZ418.lock"})
        EXPECT_FALSE(QFileInfo::exists(base.path() + unsafe)) << unsafe;
    }
  }
}

// A link planted in the lock's place is not followed: no file appears where it points, and the
// program starts without a guard.
TEST(SingleInstanceGuard, PlantedLinkIsNotFollowed) {
  RuntimeFolder rt;
  const QString target = rt.path() + "/planted-target";
  ASSERT_TRUE(QFile::link(target, rt.path() + "/QZ418.lock"));
  SingleInstanceGuard g("QZ418", userPlaces());
  EXPECT_EQ(g.state(), SingleInstanceGuard::State::Unavailable);
  EXPECT_FALSE(QFileInfo::exists(target));
}

// Copies whose private folders differ (a desktop and an SSH session, one started with
// XDG_RUNTIME_DIR and one without) but that would write the same state files exclude each other
// through a lock in the state folder, made (0700) when it is missing. The lock is made for those
// who may write the state files only: never readable by others, whose flock would lock the
// owner out. A folder the user may not write gets nothing: a lock named after its path in a
// fallback folder that no environment variable chooses stands in.
TEST(SingleInstanceGuard, CopiesOfOneStateFolderExcludeEachOtherWhateverTheirPrivateFolders) {
  const struct {
    int stateMode;  // -1: missing (an installed copy before its first save)
    const char* lock;
    mode_t lockMode;
    bool old;  // a lock an older version made 0644 is there
  } rows[] = {{0755, "/config/.QZ418.lock", 0600, false},
              {-1, "/config/.QZ418.lock", 0600, false},
              {0775, "/config/.QZ418.lock", 0660, false},
              {0755, "/config/.QZ418.lock", 0600, true},
              {0555, "/fallback/QZ418-state-", 0600, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.stateMode << (row.old ? " with an old lock" : ""));
    QTemporaryDir base;
    const std::string b = QFile::encodeName(base.path()).toStdString(), state = b + "/config";
    for (const char* run : {"/run1", "/run2"}) ASSERT_EQ(::mkdir((b + run).c_str(), 0700), 0);
    if (row.stateMode >= 0) {
      ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
      if (row.old) {
        ASSERT_TRUE(QFile(QFile::decodeName((state + "/.QZ418.lock").c_str())).open(QIODevice::WriteOnly));
      }
      ASSERT_EQ(::chmod(state.c_str(), mode_t(row.stateMode)), 0);
    }
    if (row.old) {
      ASSERT_EQ(::chmod((state + "/.QZ418.lock").c_str(), 0644), 0);
    }
    auto places = [&](const char* run) {
      return SingleInstanceGuard::Places{b + run, {}, {}, state, {b + "/fallback"}};
    };
    SingleInstanceGuard first("QZ418", places("/run1"));
    ASSERT_EQ(first.state(), SingleInstanceGuard::State::Acquired);
    EXPECT_EQ(first.stateLockPath().rfind(b + row.lock, 0), 0u) << first.stateLockPath();
    struct stat st {};
    ASSERT_EQ(::stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, row.stateMode >= 0 ? mode_t(row.stateMode) : 0700u);
    ASSERT_EQ(::stat(first.stateLockPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, row.lockMode);
    EXPECT_EQ(QDir(QFile::decodeName(state.c_str())).entryList(QDir::Hidden | QDir::Files).size() == 1,
              row.stateMode != 0555);
    const SingleInstanceGuard second("QZ418", places("/run2"));
    EXPECT_EQ(second.state(), SingleInstanceGuard::State::AlreadyRunning);
  }
}

TEST(ExecutablePath, ReplaceExtension) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/opt/qz/qz418", "/opt/qz/qz418.ini"},   {"/opt/qz/QZ_418.exe", "/opt/qz/QZ_418.ini"},
      {"/opt/q.z/qz418", "/opt/q.z/qz418.ini"},  // a dot in a folder name is not an extension
      {"/opt/qz/a.b.c", "/opt/qz/a.b.ini"},     {"/home/u/.hidden", "/home/u/.hidden.ini"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(replaceExtension(QString::fromUtf8(c.path), ".ini"), QString::fromUtf8(c.expected)) << c.path;
}

// A test program keeps its state in a folder of its own, as a portable copy there would, never
// beside itself in the build folder where a user's qz418 keeps its files.
TEST(ExecutablePath, TestProgramsKeepTheirStateInAFolderOfTheirOwn) {
  const QString exe = executablePath();
  ASSERT_FALSE(exe.isEmpty());
  EXPECT_TRUE(exe.endsWith("/test_platform"));
  EXPECT_TRUE(stateFileName().endsWith("/test_platform.ini"));
  EXPECT_NE(QFileInfo(stateFileName()).absolutePath(), QFileInfo(exe).absolutePath());
  EXPECT_EQ(QFileInfo(scenesFileName()).absolutePath(), QFileInfo(stateFileName()).absolutePath());
}
