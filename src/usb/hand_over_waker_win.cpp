#ifdef _WIN32
#include <windows.h>

#include <QWinEventNotifier>
#include <QtGlobal>

#include "usb/hand_over_waker.h"

// An auto-reset event: any number of SetEvent calls before the main thread looks collapse into
// one activation, as the eventfd's counter does on Linux; the notifier re-arms itself.
HandOverWaker::HandOverWaker(std::function<void()> handler) : handler_(std::move(handler)) {
  event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!event_) {
    // Without the wake-up the steps still run, but only while the main thread waits in waitFor().
    qWarning("HandOverThread: CreateEvent failed: %lu", ::GetLastError());
    return;
  }
  auto notifier = std::make_unique<QWinEventNotifier>(event_);
  QObject::connect(notifier.get(), &QWinEventNotifier::activated, notifier.get(), [this] { handler_(); });
  notifier_ = std::move(notifier);
}

HandOverWaker::~HandOverWaker() {
  notifier_.reset();
  if (event_) ::CloseHandle(event_);
}

void HandOverWaker::wake() {
  if (event_) ::SetEvent(event_);
}
#endif
