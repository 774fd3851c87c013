#include "usb/hand_over_thread.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

HandOverThread::HandOverThread() {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    // Without the wake-up the steps still run, but only while the main thread waits in waitFor().
    qWarning("HandOverThread: eventfd failed: %s", std::strerror(errno));
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
    std::uint64_t count;
    while (::read(wakeFd_, &count, sizeof count) > 0) {
    }
    runPendingStep();
  });
}

HandOverThread::~HandOverThread() {
  // A derived class has already ended the body (endBeforeDestruction); this covers a thread
  // that was never started.
  if (thread_.joinable()) thread_.join();
  notifier_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void HandOverThread::endBeforeDestruction() {
  terminate();
  resume();
  waitFor();
  if (thread_.joinable()) thread_.join();
}

void HandOverThread::resume() {
  std::lock_guard lock(mutex_);
  suspended_ = false;
  if (!started_) {
    started_ = true;
    thread_ = std::thread([this] { body(); });
  }
  changed_.notify_all();
}

void HandOverThread::suspend() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

bool HandOverThread::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

bool HandOverThread::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool HandOverThread::wasStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}

bool HandOverThread::isRunningStep() const {
  std::lock_guard lock(mutex_);
  return stepRunning_;
}

QString HandOverThread::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void HandOverThread::body() {
  QString failure;
  try {
    Execute();
  } catch (const std::exception& e) {
    failure = QString::fromLocal8Bit(e.what());
  } catch (...) {
    failure = QStringLiteral("unknown exception");
  }
  if (!failure.isEmpty()) qWarning("exchange thread ended: %s", qUtf8Printable(failure));
  std::lock_guard lock(mutex_);
  failure_ = failure;
  finished_ = true;
  changed_.notify_all();
}

void HandOverThread::wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  // EAGAIN only when the counter is saturated: the main thread is woken anyway.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HandOverThread::synchronize(const std::function<void()>& step) {
  std::unique_lock lock(mutex_);
  pending_ = &step;
  stepDone_ = false;
  changed_.notify_all();  // a main thread inside waitFor()
  lock.unlock();
  wake();  // a main thread in its event loop
  lock.lock();
  changed_.wait(lock, [this] { return stepDone_; });
  std::exception_ptr error = std::exchange(stepError_, nullptr);
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

bool HandOverThread::runPendingStep() {
  std::unique_lock lock(mutex_);
  if (!pending_ || stepRunning_) return false;
  const std::function<void()>* step = std::exchange(pending_, nullptr);
  stepRunning_ = true;
  lock.unlock();

  const auto start = std::chrono::steady_clock::now();
  std::exception_ptr error;
  try {
    (*step)();
  } catch (...) {
    error = std::current_exception();
  }
  busyNs_ +=
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
  ++stepsRun_;

  lock.lock();
  stepRunning_ = false;
  stepDone_ = true;
  stepError_ = error;
  changed_.notify_all();
  return true;
}

void HandOverThread::checkpoint() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !suspended_; });
}

bool HandOverThread::waitFor() {
  std::unique_lock lock(mutex_);
  if (!started_) return false;
  while (!finished_) {
    // Called from inside one of this thread's steps (a nested event loop in a window): the
    // worker waits for that very step, so it cannot end before we return.
    if (stepRunning_) return false;
    if (pending_) {
      lock.unlock();
      runPendingStep();
      lock.lock();
      continue;
    }
    if (suspended_) return false;
    changed_.wait(lock);
  }
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return true;
}
