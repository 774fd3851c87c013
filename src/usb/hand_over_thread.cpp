#include "usb/hand_over_thread.h"

#include "usb/hand_over_waker.h"

HandOverThread::HandOverThread() : waker_(std::make_unique<HandOverWaker>([this] { runPendingStep(); })) {}

HandOverThread::~HandOverThread() {
  // A derived class has already ended the body (endBeforeDestruction); this covers a thread
  // that was never started.
  if (thread_.joinable()) thread_.join();
  waker_.reset();
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

void HandOverThread::wake() { waker_->wake(); }

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
