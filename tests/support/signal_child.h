#pragma once
// The one place where tests send signals. kill() with a process id of 0 signals the caller's
// whole process group (CTest, scripts/test and the shell that started them), and a negative one
// a group or every process: a QProcess reports 0 once its program has ended. So a signal goes
// only to a program the test started and has not yet reaped, and nowhere else.

#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

#ifdef _WIN32
// Windows has no signals to send: a test that needs one is Linux-only (cmake/windows.cmake).
inline ::testing::AssertionResult signalChild(const QProcess&, int sig) {
  return ::testing::AssertionFailure() << "no signal " << sig << " on Windows";
}
#else
#include <sys/types.h>
#include <unistd.h>

// The parent of a live or not yet reaped process, from /proc; 0 when there is no such process.
inline pid_t parentOf(pid_t pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  // "pid (command) state ppid ...": the command may hold blanks and parentheses.
  const QByteArray line = stat.readAll();
  const qsizetype close = line.lastIndexOf(')');
  if (close < 0) return 0;
  const QList<QByteArray> rest = line.mid(close + 2).split(' ');
  return rest.size() > 1 ? pid_t(rest[1].toLong()) : 0;
}

// Sends sig to the program p runs. Fails, sending nothing, when p has no process (never started,
// or already ended and reaped) or the process is not this test's own child.
inline ::testing::AssertionResult signalChild(const QProcess& p, int sig) {
  const pid_t pid = pid_t(p.processId());
  if (pid <= 0) return ::testing::AssertionFailure() << "no process to signal (pid " << pid << ")";
  if (parentOf(pid) != ::getpid())
    return ::testing::AssertionFailure() << "process " << pid << " is not a child of this test";
  if (::kill(pid, sig) != 0) return ::testing::AssertionFailure() << "kill(" << pid << ") failed";
  return ::testing::AssertionSuccess();
}
#endif
