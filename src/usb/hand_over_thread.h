#pragma once
// A worker thread that hands steps to the main (window) thread and blocks until they are
// done, in the manner of the classic "created suspended / Resume / Terminate / WaitFor /
// Synchronize" thread class.
//
// Hand-over: the worker parks a pointer to the step, wakes the main thread through a
// HandOverWaker (an eventfd watched by a socket notifier on Linux, an event object watched by
// an event notifier on Windows: no allocation, unlike a posted event) and waits on a
// condition variable. The main thread runs the step from its event loop, or from waitFor()
// while it waits for the worker's end, so stopping never needs a nested event loop. An
// exception thrown by a step is carried back and rethrown on the worker.
//
// Suspension is cooperative: suspend() is seen at the next step boundary (checkpoint()), and
// the worker goes on from there when resumed. Construct, control and destroy on the main
// thread.

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class HandOverWaker;

class HandOverThread {
 public:
  HandOverThread();
  virtual ~HandOverThread();
  HandOverThread(const HandOverThread&) = delete;
  HandOverThread& operator=(const HandOverThread&) = delete;

  // The first resume starts the body.
  void resume();
  void suspend();
  bool isSuspended() const;
  void terminate() { terminated_.store(true); }
  bool isTerminated() const { return terminated_.load(); }
  bool isFinished() const;
  bool wasStarted() const;
  // True while the main thread is inside one of this thread's steps.
  bool isRunningStep() const;

  // Waits for the body's end, running its hand-overs meanwhile. False at once when the
  // thread cannot end by itself: suspended (or never started), or called from inside one of
  // its own steps.
  bool waitFor();

  // Runs a pending hand-over, if any; the socket notifier calls it. True when one ran.
  bool runPendingStep();

  // Why the body ended early (an exception's text); empty after a normal end.
  QString failure() const;

  // Time the main thread spent in this thread's steps, and how many ran.
  std::chrono::nanoseconds mainThreadBusy() const { return std::chrono::nanoseconds(busyNs_.load()); }
  std::uint64_t stepsRun() const { return stepsRun_.load(); }

 protected:
  // The body, on the worker thread.
  virtual void Execute() = 0;
  // Worker: runs step on the main thread and waits for it; rethrows what it threw.
  void synchronize(const std::function<void()>& step);
  // Worker: a step boundary; blocks here while suspended.
  void checkpoint();
  // Derived destructors call this first: their Execute must not outlive them.
  void endBeforeDestruction();

 private:
  void body();
  void wake();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* pending_ = nullptr;  // parked by the worker, taken by the main thread
  bool stepRunning_ = false;
  bool stepDone_ = false;
  std::exception_ptr stepError_;
  bool suspended_ = true;  // created suspended
  bool started_ = false;
  bool finished_ = false;
  QString failure_;
  std::atomic<bool> terminated_{false};
  std::atomic<std::int64_t> busyNs_{0};
  std::atomic<std::uint64_t> stepsRun_{0};

  std::unique_ptr<HandOverWaker> waker_;
  std::thread thread_;
};
