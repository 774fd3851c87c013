// Starts the real program (offscreen) to check the one-copy rule end to end.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>

#include "platform/single_instance.h"
#include "support/program_session.h"

namespace {

// True when the session's guard is held by some process (probed only while a copy is known to be
// up): the user's lock in its runtime folder, and the lock of the state files beside the program.
bool guardHeld(const ProgramSession& s) {
  SingleInstanceGuard::Places runtimeOnly, stateOnly;
  runtimeOnly.runtime = QFile::encodeName(s.path("run")).toStdString();
  stateOnly.state = QFile::encodeName(s.path("bin")).toStdString();
  return SingleInstanceGuard("QZ418", runtimeOnly).state() == SingleInstanceGuard::State::AlreadyRunning &&
         SingleInstanceGuard("QZ418", stateOnly).state() == SingleInstanceGuard::State::AlreadyRunning;
}

QString readLog(const ProgramSession& s) {
  QFile f(s.dialogLog());
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

TEST(SingleCopy, SecondCopyOfAnySessionReportsAndEndsFirstStaysThenKillReleasesTheName) {
  ProgramSession s;
  ASSERT_NO_FATAL_FAILURE(s.prepare());

  s.startProgram();
  QProcess& first = s.app();
  ASSERT_TRUE(s.waitUntilUp(15000)) << "the first copy did not come up";
  EXPECT_TRUE(guardHeld(s));

  s.startProgram();
  QProcess& second = s.app();
  ASSERT_TRUE(second.waitForFinished(15000)) << "the second copy did not end";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  const QString log = readLog(s);
  EXPECT_EQ(log.count("information\t"), 1) << log.toStdString();
  EXPECT_TRUE(
      log.contains("Программа управления синтезатором QZ418 уже работает.\\rЗапуск копий ЗАПРЕЩЕН!!!"))
      << log.toStdString();
  EXPECT_FALSE(QFile::exists(s.stateFile())) << "the second copy must not touch the state file";

  EXPECT_EQ(first.state(), QProcess::Running) << "the first copy was disturbed";

  // Another session of the same user has a runtime folder of its own, but the same state files.
  ASSERT_TRUE(QDir().mkdir(s.path("run2")));
  ASSERT_TRUE(QFile::setPermissions(s.path("run2"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  s.environment().insert("XDG_RUNTIME_DIR", s.path("run2"));
  s.startProgram();
  ASSERT_TRUE(s.app().waitForFinished(15000)) << "the copy of another session did not end";
  EXPECT_EQ(s.app().exitCode(), 0);
  EXPECT_EQ(readLog(s).count("information\t"), 2) << "the same message";
  EXPECT_EQ(QDir(s.path("bin")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{".QZ418.lock", "qz418"}))
      << "nothing written beside the program";
  s.environment().insert("XDG_RUNTIME_DIR", s.path("run"));
  EXPECT_EQ(first.state(), QProcess::Running) << "the first copy was disturbed";

  // A crash of the first copy must not leave the name taken.
  ASSERT_TRUE(signalChild(first, SIGKILL));
  ASSERT_TRUE(first.waitForFinished(5000));
  QFile::remove(s.linkLog());
  s.startProgram();
  EXPECT_TRUE(s.waitUntilUp(15000)) << "a new start after kill -9 did not come up";
  EXPECT_TRUE(guardHeld(s));
  EXPECT_FALSE(s.app().waitForFinished(500)) << "the new start ended by itself";
  EXPECT_EQ(readLog(s).count("information\t"), 2) << "the new start must not report a running copy";
}
