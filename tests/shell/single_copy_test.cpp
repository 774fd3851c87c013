// Starts the real program (offscreen) to check the one-copy rule end to end.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "platform/single_instance.h"
#include "support/program_paths.h"

namespace {

class ProgramCopy {
 public:
  explicit ProgramCopy(const QTemporaryDir& dir) {
    const QString bin = qz418Path();
    exe_ = dir.filePath("qz418");
    if (!QFile::exists(exe_)) QFile::copy(bin, exe_);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    env.insert("QZ418_DIALOG_LOG", dir.filePath("dialogs.log"));
    env.insert("QZ418_LINK_LOG", dir.filePath("link.log"));
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(dir.path());
  }
  ~ProgramCopy() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  void start() {
    process_.start(exe_, {});
    ASSERT_TRUE(process_.waitForStarted(5000));
  }
  QProcess& process() { return process_; }

 private:
  QString exe_;
  QProcess process_;
};

// True once a copy has come up: the events window, created last, starts the link trace.
// (Probing the guard itself could take it first and turn the program away.)
bool waitUntilUp(const QTemporaryDir& dir, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (QFileInfo(dir.filePath("link.log")).size() > 0) return true;
    QThread::msleep(50);
  }
  return false;
}

// True when the guard is held by some process (probed only while a copy is known to be up).
bool guardHeld(const QTemporaryDir& dir) {
  qputenv("XDG_RUNTIME_DIR", dir.filePath("run").toLocal8Bit());
  SingleInstanceGuard probe("QZ418");
  return probe.state() == SingleInstanceGuard::State::AlreadyRunning;
}

QString readLog(const QTemporaryDir& dir) {
  QFile f(dir.filePath("dialogs.log"));
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

TEST(SingleCopy, SecondCopyReportsAndEndsFirstStaysThenKillReleasesTheName) {
  ASSERT_TRUE(QFile::exists(qz418Path())) << qz418Path().toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QDir(dir.path()).mkdir("run");
  QFile::setPermissions(dir.filePath("run"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

  ProgramCopy first(dir);
  first.start();
  ASSERT_TRUE(waitUntilUp(dir, 15000)) << "the first copy did not come up";
  EXPECT_TRUE(guardHeld(dir));

  ProgramCopy second(dir);
  second.start();
  ASSERT_TRUE(second.process().waitForFinished(15000)) << "the second copy did not end";
  EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.process().exitCode(), 0);
  const QString log = readLog(dir);
  EXPECT_EQ(log.count("information\t"), 1) << log.toStdString();
  EXPECT_TRUE(
      log.contains("Программа управления синтезатором QZ418 уже работает.\\rЗапуск копий ЗАПРЕЩЕН!!!"))
      << log.toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath("qz418.ini"))) << "the second copy must not touch the state file";

  EXPECT_EQ(first.process().state(), QProcess::Running) << "the first copy was disturbed";

  // A crash of the first copy must not leave the name taken.
  ::kill(static_cast<pid_t>(first.process().processId()), SIGKILL);
  ASSERT_TRUE(first.process().waitForFinished(5000));
  QFile::remove(dir.filePath("link.log"));
  ProgramCopy third(dir);
  third.start();
  EXPECT_TRUE(waitUntilUp(dir, 15000)) << "a new start after kill -9 did not come up";
  EXPECT_TRUE(guardHeld(dir));
  EXPECT_FALSE(third.process().waitForFinished(500)) << "the new start ended by itself";
  EXPECT_EQ(readLog(dir).count("information\t"), 1) << "the new start must not report a running copy";
}
