#ifndef _WIN32
#include "usb/hand_over_waker.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

HandOverWaker::HandOverWaker(std::function<void()> handler) : handler_(std::move(handler)) {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) {
    // Without the wake-up the steps still run, but only while the main thread waits in waitFor().
    qWarning("HandOverThread: eventfd failed: %s", std::strerror(errno));
    return;
  }
  auto notifier = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
    std::uint64_t count;
    while (::read(fd_, &count, sizeof count) > 0) {
    }
    handler_();
  });
  notifier_ = std::move(notifier);
}

HandOverWaker::~HandOverWaker() {
  notifier_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void HandOverWaker::wake() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // EAGAIN only when the counter is saturated: the main thread is woken anyway.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}
#endif
