// The whole program keeps its state across runs, and SIGTERM ends it as the exit button does.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "support/program_paths.h"

namespace {

struct Folder {
  QTemporaryDir dir;
  Folder() {
    QDir(dir.path()).mkdir("run");
    QFile::setPermissions(dir.filePath("run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::copy(qz418Path(), dir.filePath("qz418"));
  }
  QString ini() const { return dir.filePath("qz418.ini"); }
};

// Starts the program, waits until it is up, stops it with SIGTERM; the exit status.
int runAndTerminate(const Folder& f) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", f.dir.filePath("run"));
  env.insert("QZ418_DIALOG_LOG", f.dir.filePath("dialogs.log"));  // a RAM-disk question is answered Yes
  // The events window, created last, starts this trace: its existence means the program is up.
  // (Probing the single-copy guard instead could take it first and turn the program away.)
  QFile::remove(f.dir.filePath("link.log"));
  env.insert("QZ418_LINK_LOG", f.dir.filePath("link.log"));
  p.setProcessEnvironment(env);
  p.start(f.dir.filePath("qz418"), {});
  if (!p.waitForStarted(5000)) return -1;
  for (int i = 0; i < 300 && QFileInfo(f.dir.filePath("link.log")).size() == 0; ++i) QThread::msleep(50);
  QThread::msleep(200);
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
    return -2;
  }
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

QByteArray read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(StateFile, SigtermSavesTheStateAndASecondRunKeepsIt) {
  Folder f;
  ASSERT_EQ(runAndTerminate(f), 0);
  const QByteArray first = read(f.ini());
  ASSERT_FALSE(first.isEmpty()) << "no state file written";
  const qsizetype main = first.indexOf("[MainForm]\r\n"), rx = first.indexOf("[RxDrawForm]\r\n"),
                  link = first.indexOf("[LinkForm]\r\n");
  EXPECT_TRUE(main >= 0 && rx > main && link > rx) << first.left(200).toStdString();
  // The scene fields are set from scene 1 at every start; the off page's divider box is not.
  EXPECT_TRUE(first.contains("\r\nCh1S_OffCheckBox=0\r\n"));

  // An operator's change in the file survives the next run unchanged.
  QByteArray changed = first;
  changed.replace("\r\nCh1S_OffCheckBox=0", "\r\nCh1S_OffCheckBox=1");
  {
    QFile out(f.ini());
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(changed);
  }
  ASSERT_EQ(runAndTerminate(f), 0);
  const QByteArray second = read(f.ini());
  EXPECT_TRUE(second.contains("\r\nCh1S_OffCheckBox=1\r\n")) << second.left(400).toStdString();
}
