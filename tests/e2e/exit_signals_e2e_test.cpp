// An exit that waits for the operator (a drive question, a file that cannot be written) is
// finished by one more SIGTERM or SIGINT, as a system shutdown sends them: every file that can
// be written is, and the exit code says that one could not.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>

#include "support/program_session.h"

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(ExitUnderSignals, ASecondSignalFinishesAnExitHeldByABoxAndTheCodeTellsOfTheLostFile) {
  for (const int second : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(second == SIGTERM ? "SIGTERM" : "SIGINT");
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
