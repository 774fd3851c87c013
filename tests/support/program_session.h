#pragma once
// The built program run as a user runs it, for the tests that start it. A temporary folder
// holds a private runtime folder run/ (the virtual-device folder and the single-copy guard live
// there), a private state folder state/, a copy of qz418 in bin/ whose state file and Scenes.ini land beside it, the file its
// dialogs are logged to (each question answered Yes) and the events window's trace. The virtual
// synthesizer runs in the same folder and takes commands on its standard input. Whatever still
// runs when the session ends is killed.

#include "support/program_paths.h"
#include "support/signal_child.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/types.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

// Polls done every 20 ms; false once timeoutMs have passed without it.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QThread::msleep(20);
  }
  return true;
}

// A text file's lines without the empty one after the last newline; none when it cannot be read.
inline QStringList readLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

class ProgramSession {
 public:
  ProgramSession() = default;
  ~ProgramSession() {
    for (const auto& p : apps_) stop(*p);
    stop(sim_);
  }
  ProgramSession(const ProgramSession&) = delete;
  ProgramSession& operator=(const ProgramSession&) = delete;

  static bool simulatorBuilt() { return QFileInfo(qz418SimPath()).isExecutable(); }

  // Lays out the folder and the environment; before anything is started.
  void prepare() {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("run")));
    ASSERT_TRUE(QFile::setPermissions(path(QStringLiteral("run")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("bin")));
    ASSERT_TRUE(QFile::copy(qz418Path(), program())) << "cannot copy " << qz418Path().toStdString();
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
    env_.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
    env_.insert(QStringLiteral("QZ418_DIALOG_LOG"), dialogLog());
    env_.insert(QStringLiteral("QZ418_LINK_LOG"), linkLog());
  }

  // Starts a simulator named sim0 that logs its command packets to a file of its own (simLog());
  // returns once its socket is there.
  void startSim(const QStringList& extra = {}) {
    ASSERT_LT(QFile::encodeName(socketPath()).size(), 108)
        << "the temporary folder's path is too long for a Unix socket; set TMPDIR shorter";
    ++sims_;
    sim_.setProcessEnvironment(env_);
    sim_.setWorkingDirectory(dir_.path());
    sim_.setStandardOutputFile(QProcess::nullDevice());
    sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList named{QStringLiteral("--name"), QStringLiteral("sim0"), QStringLiteral("--log"),
                            simLog()};
    sim_.start(qz418SimPath(), named + extra);
    ASSERT_TRUE(sim_.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(socketPath()); }, 5000))
        << "no socket " << socketPath().toStdString();
  }
  void simCommand(const char* line) {
    sim_.write(line);
    sim_.write("\n");
    ASSERT_TRUE(sim_.waitForBytesWritten(2000));
  }

  // Starts one more copy of the program from bin/; app() is the copy started last.
  void startProgram() {
    apps_.push_back(std::make_unique<QProcess>());
    QProcess& p = *apps_.back();
    p.setProcessEnvironment(env_);
    p.setWorkingDirectory(dir_.path());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program(), {});
    ASSERT_TRUE(p.waitForStarted(5000));
  }
  // True once a copy is up: its events window, created last, starts the link trace. Remove the
  // trace before starting a later copy to wait for that one. (Probing the single-copy guard
  // instead could take it first and turn the program away.)
  bool waitUntilUp(int timeoutMs) const {
    return waitFor([&] { return QFileInfo(linkLog()).size() > 0; }, timeoutMs);
  }
  // Ends the copy started last as a session's end or a script does; it must stop its exchange,
  // save and go.
  void endProgram(int timeoutMs = 20000) {
    ASSERT_TRUE(signalChild(app(), SIGTERM));
    ASSERT_TRUE(app().waitForFinished(timeoutMs)) << "the program did not end";
    EXPECT_EQ(app().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app().exitCode(), 0);
  }

  // What the programs started next get; prepare() has filled it.
  QProcessEnvironment& environment() { return env_; }

  QProcess& app() { return *apps_.back(); }
  QProcess& sim() { return sim_; }

  QString path(const QString& relative) const { return dir_.filePath(relative); }
  QString program() const { return path(QStringLiteral("bin/qz418")); }
  QString stateFile() const { return path(QStringLiteral("bin/qz418.ini")); }
  QString dialogLog() const { return path(QStringLiteral("dialogs.log")); }
  QString linkLog() const { return path(QStringLiteral("link.log")); }
  QString socketPath() const { return path(QStringLiteral("run/qz418/sim0.sock")); }
  // The packet log of the simulator started last; before the first start, the one it will write.
  QString simLog() const { return path(QStringLiteral("sim%1.log").arg(std::max(sims_, 1))); }

  QStringList link() const { return readLines(linkLog()); }
  int linkCount(const QString& line) const { return int(link().count(line)); }
  bool waitForLinkCount(const QString& line, int n, int timeoutMs = 10000) const {
    return waitFor([&] { return linkCount(line) >= n; }, timeoutMs);
  }

 private:
  static void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.kill();
    p.waitForFinished(5000);
  }

  QTemporaryDir dir_;
  QProcessEnvironment env_;
  std::vector<std::unique_ptr<QProcess>> apps_;
  QProcess sim_;
  int sims_ = 0;
};

// A test of the program against the simulator, skipped where the simulator is not built.
class ProgramWithSimulatorTest : public ::testing::Test, protected ProgramSession {
 protected:
  void SetUp() override {
    if (!simulatorBuilt())
      GTEST_SKIP() << "qz418-sim is not built (" << qz418SimPath().toStdString()
                   << "); nothing to connect to";
    ASSERT_NO_FATAL_FAILURE(prepare());
  }
};
