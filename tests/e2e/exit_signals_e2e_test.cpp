// An exit that waits for the operator (a drive question, a file that cannot be written) is
// finished by one more termination signal, as a system shutdown sends them: every file that can
// be written is, and the exit code says that one could not. During the start-up the signals
// wait until the four windows are made, so the exit saves the whole state. A station
// (--unattended, no display) has no box of its own that waits.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <csignal>

#include "support/program_session.h"

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Whether the program's main thread blocks TERM, INT and HUP (the kernel's mask in hexadecimal).
bool holdsTheSignals(qint64 pid) {
  const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
  const qsizetype at = status.indexOf("\nSigBlk:");
  const quint64 wanted = 1ull << (SIGTERM - 1) | 1ull << (SIGINT - 1) | 1ull << (SIGHUP - 1);
  return at >= 0 && (status.mid(at + 8, 18).trimmed().toULongLong(nullptr, 16) & wanted) == wanted;
}

}  // namespace

TEST(ExitUnderSignals, ASecondSignalFinishesAnExitHeldByABoxAndTheCodeTellsOfTheLostFile) {
  for (const int second : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(second == SIGINT ? "SIGINT" : "SIGHUP");
    ProgramSession s;
    ASSERT_NO_FATAL_FAILURE(s.prepare());
    // Real message boxes, which wait for an answer (not the test log that answers Yes).
    s.environment().remove(QStringLiteral("QZ418_DIALOG_LOG"));
    // A folder where the state file should be: no one, root included, can write it as a file.
    ASSERT_TRUE(QDir().mkpath(s.stateFile()));
    const QString scenes = s.path(QStringLiteral("bin/Scenes.ini"));

    s.startProgram();
    ASSERT_TRUE(s.waitUntilUp(15000));
    ASSERT_TRUE(signalChild(s.app(), SIGTERM));
    // The exit now waits on a box (the drive question on a RAM disk, else the write error).
    EXPECT_FALSE(s.app().waitForFinished(1500)) << "the exit did not wait for its box";
    ASSERT_TRUE(signalChild(s.app(), second));
    ASSERT_TRUE(s.app().waitForFinished(15000)) << "a second signal did not finish the exit";
    EXPECT_EQ(s.app().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(s.app().exitCode(), 1) << "a file was not written";
    EXPECT_TRUE(readAll(scenes).startsWith("[SchemaForm]\r\n")) << "Scenes.ini was not written";
  }
}

TEST(ExitUnderSignals, ASignalDuringTheStartUpWaitsForItAndTheExitSavesTheWholeState) {
  for (const bool boxWaits : {false, true}) {
    SCOPED_TRACE(boxWaits ? "SIGTERM while a start-up box waits" : "SIGHUP right after the start");
    ProgramSession s;
    ASSERT_NO_FATAL_FAILURE(s.prepare());
    // A damaged panel value (a start-up box), and values of windows made after the panel.
    ASSERT_TRUE(
        writeAll(s.stateFile(), "[MainForm]\r\nCh1I_AmplPBSuperSpin=abc\r\n[LinkForm]\r\nTop=310\r\n"));
    const QString scenes = s.path(QStringLiteral("bin/Scenes.ini")), release = s.path(QStringLiteral("go"));
    ASSERT_TRUE(writeAll(scenes, "[ScenaForm_3]\r\nCommentEdit=Held scene\r\n"));
    if (boxWaits) s.environment().insert(QStringLiteral("QZ418_DIALOG_RELEASE"), release);

    s.startProgram();
    // Right after the start: as soon as the program runs at all.
    ASSERT_TRUE(waitFor(
        [&] { return boxWaits ? QFileInfo(s.dialogLog()).size() > 0 : holdsTheSignals(s.app().processId()); },
        15000));
    ASSERT_TRUE(signalChild(s.app(), boxWaits ? SIGTERM : SIGHUP));
    if (boxWaits) {
      EXPECT_FALSE(s.app().waitForFinished(500)) << "the signal was acted on in the start-up box";
      ASSERT_TRUE(writeAll(release, {}));
    }
    ASSERT_TRUE(s.app().waitForFinished(15000)) << "the signal was lost";
    EXPECT_EQ(s.app().exitStatus(), QProcess::NormalExit) << "killed by the signal";
    EXPECT_EQ(s.app().exitCode(), 0);
    EXPECT_TRUE(readAll(s.stateFile()).contains("[LinkForm]\r\nTop=310\r\n"))
        << "the events window was not loaded";
    EXPECT_TRUE(readAll(scenes).contains("\r\nCommentEdit=Held scene\r\n")) << "the scenes were not loaded";
  }
}

TEST(ExitUnderSignals, AStationWithNoDisplayHasNoBoxThatWaits) {
  ProgramSession s;
  ASSERT_NO_FATAL_FAILURE(s.prepare());
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QZ418_DIALOG_LOG"})
    s.environment().remove(QLatin1String(name));
  ASSERT_TRUE(writeAll(s.stateFile(), "[MainForm]\r\nCh1I_AmplPBSuperSpin=abc\r\n"));
  ASSERT_TRUE(QFile::setPermissions(s.stateFile(), QFile::ReadOwner));  // frozen
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
  const quint16 port = probe.serverPort();
  probe.close();
  QProcess station;
  station.setProcessEnvironment(s.environment());
  station.start(s.program(), {"--unattended", "--scpi", "--scpi-port", QString::number(port)});
  QTcpSocket scpi;
  ASSERT_TRUE(waitFor(
      [&] { return scpi.connectToHost(QHostAddress::LocalHost, port), scpi.waitForConnected(100); }, 20000))
      << "the port did not open";
  scpi.write("*IDN?\n");
  ASSERT_TRUE(scpi.waitForReadyRead(5000));
  EXPECT_TRUE(scpi.readLine().startsWith("QZ418,QZ418 control program,"));

  ASSERT_TRUE(signalChild(station, SIGTERM));
  ASSERT_TRUE(station.waitForFinished(5000)) << "the exit waited";
  EXPECT_EQ(station.exitCode(), 1) << "the frozen state file was not reported";
  EXPECT_TRUE(readAll(s.path(QStringLiteral("bin/Scenes.ini"))).startsWith("[SchemaForm]\r\n"));
  const QString unwritable = "[QZ418] Unable to write to " + s.stateFile() + " -> OK";
  const QString err = QString::fromUtf8(station.readAllStandardError());
  EXPECT_TRUE(err.contains("qz418: [QZ418] 'abc' is not a valid floating point value -> OK\n"))
      << err.toStdString();
  EXPECT_TRUE(err.contains("qz418: " + unwritable + '\n')) << err.toStdString();
  // The exit's box came when the events window existed: a numbered line of its log.
  EXPECT_TRUE(s.link().join(u'\n').contains(
      QRegularExpression("log: \\d{3}  " + QRegularExpression::escape(unwritable))));
}
