#include "platform/executable_path.h"
#include "platform/single_instance.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace

TEST(SingleInstanceGuard, SecondHolderIsRefusedUntilTheFirstReleases) {
  RuntimeFolder rt;
  SingleInstanceGuard first("QZ418");
  ASSERT_EQ(first.state(), SingleInstanceGuard::State::Acquired);
  EXPECT_EQ(first.lockPath(), (rt.path() + "/QZ418.lock").toStdString());

  SingleInstanceGuard second("QZ418");
  EXPECT_EQ(second.state(), SingleInstanceGuard::State::AlreadyRunning);

  SingleInstanceGuard other("OTHER");
  EXPECT_EQ(other.state(), SingleInstanceGuard::State::Acquired) << "names are independent";

  first.release();
  SingleInstanceGuard third("QZ418");
  EXPECT_EQ(third.state(), SingleInstanceGuard::State::Acquired);
}

TEST(SingleInstanceGuard, UnwritableRuntimeFolderStartsWithoutGuard) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  // A runtime folder that is not a folder falls back to /tmp, which always works;
  // a lock path that cannot be created reports Unavailable rather than AlreadyRunning.
  setenv("XDG_RUNTIME_DIR", "/proc/self/status", 1);
  SingleInstanceGuard g("QZ418-unwritable-test");
  EXPECT_NE(g.state(), SingleInstanceGuard::State::AlreadyRunning);
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(ExecutablePath, ReplaceExtension) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/opt/qz/qz418", "/opt/qz/qz418.ini"},
      {"/opt/qz/QZ_418.exe", "/opt/qz/QZ_418.ini"},
      {"/opt/q.z/qz418", "/opt/q.z/qz418.ini"},  // a dot in a folder name is not an extension
      {"/opt/qz/a.b.c", "/opt/qz/a.b.ini"},
      {"/home/u/.hidden", "/home/u/.hidden.ini"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(replaceExtension(QString::fromUtf8(c.path), ".ini"), QString::fromUtf8(c.expected)) << c.path;
}

TEST(ExecutablePath, StateFileSitsBesideTheRunningProgram) {
  const QString exe = executablePath();
  ASSERT_FALSE(exe.isEmpty());
  EXPECT_TRUE(exe.endsWith("/test_platform"));
  EXPECT_EQ(stateFileName(), exe + ".ini");
}
