#pragma once
// Wakes the main thread from the exchange thread without allocating: wake() may be called from
// any thread, any number of times; the main thread's event loop then calls the handler once
// for one or more wakes. Construct and destroy on the main thread.
// Linux: an eventfd watched by a socket notifier; Windows: an auto-reset event object watched
// by an event notifier (hand_over_waker_win.cpp).

#include <functional>
#include <memory>

class QObject;

class HandOverWaker {
 public:
  explicit HandOverWaker(std::function<void()> handler);
  ~HandOverWaker();
  HandOverWaker(const HandOverWaker&) = delete;
  HandOverWaker& operator=(const HandOverWaker&) = delete;

  void wake();

 private:
  std::function<void()> handler_;
  // The notifier (a QSocketNotifier or QWinEventNotifier) and the system object it watches.
  std::unique_ptr<QObject> notifier_;
  int fd_ = -1;
  void* event_ = nullptr;
};
