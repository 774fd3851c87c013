// The whole program keeps its state across runs, and SIGTERM ends it as the exit button does.
#include <gtest/gtest.h>

#include <QFile>
#include <QThread>

#include "support/program_session.h"

namespace {

// Starts a copy, waits until it is up and ends it with SIGTERM, which must end it well. A
// question on saving (the RAM-disk one) is answered Yes through the dialog log.
void runAndTerminate(ProgramSession& s) {
  QFile::remove(s.linkLog());
  s.startProgram();
  s.waitUntilUp(15000);  // the end below fails on its own when the program never came up
  QThread::msleep(200);
  s.endProgram(20000);
}

QByteArray read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(StateFile, SigtermSavesTheStateAndASecondRunKeepsIt) {
  ProgramSession s;
  ASSERT_NO_FATAL_FAILURE(s.prepare());
  ASSERT_NO_FATAL_FAILURE(runAndTerminate(s));
  const QByteArray first = read(s.stateFile());
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
    QFile out(s.stateFile());
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(changed);
  }
  ASSERT_NO_FATAL_FAILURE(runAndTerminate(s));
  const QByteArray second = read(s.stateFile());
  EXPECT_TRUE(second.contains("\r\nCh1S_OffCheckBox=1\r\n")) << second.left(400).toStdString();
}
