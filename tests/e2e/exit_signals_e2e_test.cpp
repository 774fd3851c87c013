// An exit that waits for the operator (a drive question, a file that cannot be written) is
// finished by one more termination signal, as a system shutdown sends them: every file that can
// be written is, and the exit code says that one could not. During the start-up the signals
// wait until the four windows are made, so the exit saves the whole state. A station
// (--unattended, no display) has no box of its own that waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

// A station (--unattended, no display, the SCPI port open) run as a service runs it, ended by
// TERM. A damaged value and a frozen state file: no box waits; the load's box, the file kept as
// it was (the values after the damaged one were never loaded) and the exit's write error are on
// stderr and in the events window's log. Set up under a Russian locale ("-7,5"), run without
// one: the value is read, sent and saved back. The reader of stderr gone ("| tee log" ended by
// Ctrl+C): the exit still saves. Under nohup: HUP stays ignored.
TEST(ExitUnderSignals, AStationRunsAndEndsAsAServiceRunsIt) {
  const struct Row {
    const char* name;
    QByteArray stateFile;
    bool frozen, withoutLocale, nohup, stderrGone;
    int exitCode;
    const char* saved;  // a line of the state file or Scenes.ini after the exit
  } rows[] = {
      {"damaged and frozen", "[MainForm]\r\nCh1I_AmplPBSuperSpin=abc\r\nTop=310\r\n", true, false, false,
       false, 1, "Ch1I_AmplPBSuperSpin=abc"},
      {"set up under a Russian locale", "[MainForm]\r\nCh1I_AmplPBSuperSpin=-7,5\r\n", false, true, false,
       false, 0, "Ch1I_AmplPBSuperSpin=-7.5"},
      {"the reader of stderr gone", "[MainForm]\r\nTop=310\r\n", true, false, false, true, 1, "Top=310"},
      {"under nohup", "[MainForm]\r\nTop=310\r\n", false, false, true, false, 0, "Wisible=1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ProgramSession s;
    ASSERT_NO_FATAL_FAILURE(s.prepare());
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QZ418_DIALOG_LOG"})
      s.environment().remove(QLatin1String(name));
    if (row.withoutLocale) {
      for (const char* name : {"LANG", "LANGUAGE", "LC_NUMERIC"}) s.environment().remove(QLatin1String(name));
      s.environment().insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    }
    ASSERT_TRUE(writeAll(s.stateFile(), row.stateFile));
    // The selected scene is applied over the panel at the start: it holds the value too.
    if (row.withoutLocale) {
      ASSERT_TRUE(
          writeAll(s.path(QStringLiteral("bin/Scenes.ini")), "[ScenaForm]\r\nCh1I_AmplPBSuperSpin=-7,5\r\n"));
    }
    if (row.frozen) {
      ASSERT_TRUE(QFile::setPermissions(s.stateFile(), QFile::ReadOwner));
    }
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess station;
    station.setProcessEnvironment(s.environment());
    int errPipe[2] = {-1, -1};  // the test's own, whose reader goes before the exit
    if (row.stderrGone) {
      ASSERT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
      station.setChildProcessModifier([w = errPipe[1]] { ::dup2(w, STDERR_FILENO); });
    }
    const QStringList args{"--unattended", "--scpi", "--scpi-port", QString::number(port)};
    // As a shell starts it: SIGPIPE as the system's default (this test process ignores it).
    station.start(QStringLiteral("/usr/bin/env"), QStringList{"--default-signal=PIPE"} +
                                                      (row.nohup ? QStringList{"nohup"} : QStringList{}) +
                                                      QStringList{s.program()} + args);
    QTcpSocket scpi;
    ASSERT_TRUE(waitFor(
        [&] { return scpi.connectToHost(QHostAddress::LocalHost, port), scpi.waitForConnected(100); }, 20000))
        << "the port did not open";
    auto ask = [&](const char* query) {
      scpi.write(query);
      return scpi.waitForReadyRead(5000) ? scpi.readLine().trimmed() : QByteArray("(no answer)");
    };
    // Qt ignores SIGPIPE for good once the program writes to a socket: with its stderr to go,
    // the station answers nothing (as with no client), so the exit meets the default.
    if (!row.stderrGone) {
      EXPECT_TRUE(ask("*IDN?\n").startsWith("QZ418,QZ418 control program,"));
    }
    if (row.withoutLocale) {
      EXPECT_EQ(ask("SOUR1:PULS:AMPL?\n"), "-7.5");
    }
    if (row.nohup) {
      const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(station.processId()));
      const qsizetype at = status.indexOf("\nSigIgn:");
      EXPECT_TRUE(at > 0 && status.mid(at + 8, 18).trimmed().toULongLong(nullptr, 16) & 1ull << (SIGHUP - 1));
      ASSERT_TRUE(signalChild(station, SIGHUP));
      EXPECT_TRUE(ask("*IDN?\n").startsWith("QZ418,")) << "ended by HUP";
    }
    if (row.stderrGone) {
      ::close(errPipe[1]);
      ::close(errPipe[0]);
    }

    ASSERT_TRUE(signalChild(station, SIGTERM));
    ASSERT_TRUE(station.waitForFinished(5000)) << "the exit waited";
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit) << "ended by a signal";
    EXPECT_EQ(station.exitCode(), row.exitCode);
    EXPECT_TRUE(readAll(s.path(QStringLiteral("bin/Scenes.ini"))).startsWith("[SchemaForm]\r\n"));
    EXPECT_TRUE((readAll(s.stateFile()) + readAll(s.path(QStringLiteral("bin/Scenes.ini"))))
                    .contains(QByteArray("\n") + row.saved + "\r\n"));
    if (!row.frozen || row.stderrGone) continue;
    const QString err = QString::fromUtf8(station.readAllStandardError());
    const QString unwritable = "[QZ418] Unable to write to " + s.stateFile() + " -> OK";
    const QString copies = s.path(QStringLiteral("state/qz418/")),
                  kept = "Файл " + s.stateFile() + " прочитан не весь; он сохранён как был в " + copies +
                         "qz418.ini.";
    EXPECT_TRUE(
        err.contains("qz418: [QZ418] 'abc' is not a valid floating point value Файл прочитан не весь; он "
                     "сохранён как был в " +
                     copies + "qz418.ini."))
        << err.toStdString();
    EXPECT_TRUE(err.contains("qz418: " + unwritable + '\n')) << err.toStdString();
    EXPECT_EQ(err.count("qz418: " + kept), 1) << err.toStdString();
    const QStringList kepts = QDir(copies).entryList({"qz418.ini.*.kept"});
    EXPECT_EQ(kepts.size() == 1 ? readAll(copies + kepts[0]) : QByteArray(), row.stateFile);
    // The exit's box came when the events window existed, the load's copy before: both are
    // numbered lines of its log.
    for (const QString& line : {unwritable, kept})
      EXPECT_TRUE(s.link().join(u'\n').contains(
          QRegularExpression("log: \\d{3}  " + QRegularExpression::escape(line))));
  }
}
