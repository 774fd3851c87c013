// The three programs' command lines: help and version on stdout with exit 0, anything else
// they do not know as a usage on stderr with exit 2 -- without a display, and before the
// single-copy guard (a copy running elsewhere does not stop --help). An unattended second copy
// ends with 1, saying why, without a display either.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "platform/single_instance.h"
#include "support/program_paths.h"

TEST(CommandLines, HelpVersionAndUsageErrors) {
  QTemporaryDir run;
  ASSERT_TRUE(run.isValid());
  qputenv("XDG_RUNTIME_DIR", run.path().toLocal8Bit());
  SingleInstanceGuard running("QZ418");  // as if a copy were up
  ASSERT_EQ(running.state(), SingleInstanceGuard::State::Acquired);

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  // A window-system connection would now abort the program instead of quietly going offscreen.
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run.path());

  const QString version = QStringLiteral(QZ418_VERSION);
  ASSERT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+(\\.\\d+)?$")).match(version).hasMatch());
  struct Case {
    QString program;
    QStringList args;
    int exitCode;
    QString out;  // a regular expression the whole output must match
    QString err;
  } cases[] = {
      {qz418Path(), {"--help"}, 0, "Usage: qz418 .*--unattended.*--scpi-port PORT.*--version.*", ""},
      {qz418Path(), {"-h"}, 0, "Usage: qz418 .*", ""},
      {qz418Path(), {"--version"}, 0, "qz418 " + version + "\n", ""},
      {qz418Path(), {"-v"}, 0, "qz418 " + version + "\n", ""},
      {qz418Path(), {"--bogus"}, 2, "", "qz418: Unknown option 'bogus'.\nUsage: qz418 .*"},
      {qz418Path(), {"project.qz4"}, 2, "", "qz418: unexpected argument: project.qz4\nUsage: .*"},
      {qz418Path(), {"--scpi-port", "70000"}, 2, "", "qz418: bad port: 70000\nUsage: .*"},
      // A second copy at a station: its message answered, on one line, and no display needed.
      {qz418Path(), {"--unattended"}, 1, "", "qz418: \\[QZ418\\] Программа .* работает\\. Запуск .* -> OK\n"},
      {qz418SimPath(), {"--help"}, 0, "Usage: qz418-sim .*--drop-every N.*scene N.*", ""},
      {qz418SimPath(), {"--version"}, 0, "qz418-sim " + version + "\n", ""},
      {qz418SimPath(), {"--bogus"}, 2, "", "qz418-sim: Unknown option 'bogus'.\nUsage: qz418-sim .*"},
      {qz418SimPath(), {"--name"}, 2, "", "qz418-sim: Missing value after '--name'.\nUsage: .*"},
      {qz418SimPath(), {"--latency", "-1"}, 2, "", "qz418-sim: bad --latency\nUsage: .*"},
      {qz418SimPath(), {"--drop-every=x"}, 2, "", "qz418-sim: bad --drop-every\nUsage: .*"},
      {qz418CodesPath(), {"--help"}, 0, "Usage: qz418-codes .*clock MICROSECONDS.*", ""},
      {qz418CodesPath(), {"--version"}, 0, "qz418-codes " + version + "\n", ""},
      {qz418CodesPath(), {"-x"}, 2, "", "qz418-codes: Unknown option 'x'.\nUsage: qz418-codes .*"},
      {qz418CodesPath(), {"values.txt"}, 2, "", "qz418-codes: unexpected argument: values.txt\nUsage: .*"},
  };
  for (const Case& c : cases) {
    const QString what = QFileInfo(c.program).fileName() + ' ' + c.args.join(' ');
    SCOPED_TRACE(what.toStdString());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(c.program, c.args);
    ASSERT_TRUE(p.waitForStarted(5000));
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.exitCode);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const auto whole = [](const QString& re) {
      return QRegularExpression(QRegularExpression::anchoredPattern(re),
                                QRegularExpression::DotMatchesEverythingOption);
    };
    EXPECT_TRUE(whole(c.out).match(out).hasMatch()) << out.toStdString();
    EXPECT_TRUE(whole(c.err).match(err).hasMatch()) << err.toStdString();
  }
  // Neither the guard's lock nor a simulator's folder came from any of them.
  EXPECT_EQ(QDir(run.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"QZ418.lock"});
  qunsetenv("XDG_RUNTIME_DIR");
}
