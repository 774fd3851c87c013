#include "widgets/feedback.h"

#include <QApplication>
#include <QElapsedTimer>

namespace {
std::function<qint64()>& clockOverride() {
  static std::function<qint64()> f;
  return f;
}
std::function<void()>& beepOverride() {
  static std::function<void()> f;
  return f;
}
}  // namespace

qint64 nowMs() {
  if (clockOverride()) return clockOverride()();
  static QElapsedTimer timer = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return timer.elapsed();
}

void setClockForTests(std::function<qint64()> clock) { clockOverride() = std::move(clock); }

void beep() {
  if (beepOverride())
    beepOverride()();
  else
    QApplication::beep();
}

void setBeepHandlerForTests(std::function<void()> handler) { beepOverride() = std::move(handler); }
