#include "remote/discovery_poll.h"

#include <avahi-common/watch.h>
#include <sys/time.h>

#include <QSocketNotifier>
#include <QTimer>
#include <limits>
#include <memory>

// Avahi declares these two as opaque structs; the adapter defines them.
struct AvahiWatch {
  int fd;
  AvahiWatchEvent happened = AvahiWatchEvent(0);  // during the callback only
  AvahiWatchCallback callback;
  void* userdata;
  std::unique_ptr<QSocketNotifier> in, out;

  // The callback may free the watch (and with it the notifier that is calling): nothing of
  // it is touched afterwards. Qt's read notifier also fires on a hang-up or an error, which
  // the descriptor's next read reports to Avahi.
  void fire(AvahiWatchEvent event) {
    happened = event;
    callback(this, fd, event, userdata);
  }
  void update(AvahiWatchEvent event) {
    in->setEnabled(event & AVAHI_WATCH_IN);
    out->setEnabled(event & AVAHI_WATCH_OUT);
  }
};

struct AvahiTimeout {
  AvahiTimeout(AvahiTimeoutCallback c, void* u) : callback(c), userdata(u) {}
  AvahiTimeoutCallback callback;
  void* userdata;
  QTimer timer;

  // tv is absolute, on gettimeofday()'s clock; null disables. A time already past fires on
  // the next turn of the event loop, never from inside the call that set it.
  void update(const timeval* tv) {
    if (!tv) {
      timer.stop();
      return;
    }
    timeval now;
    gettimeofday(&now, nullptr);
    const long long us = (tv->tv_sec - now.tv_sec) * 1000000LL + (tv->tv_usec - now.tv_usec);
    const long long ms = us <= 0 ? 0 : (us + 999) / 1000;  // never early
    timer.start(int(std::min<long long>(ms, std::numeric_limits<int>::max())));
  }
};

namespace {

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent event, AvahiWatchCallback callback,
                     void* userdata) {
  auto* w = new AvahiWatch{fd, AvahiWatchEvent(0), callback, userdata, nullptr, nullptr};
  w->in = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  w->out = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  QObject::connect(w->in.get(), &QSocketNotifier::activated, [w] { w->fire(AVAHI_WATCH_IN); });
  QObject::connect(w->out.get(), &QSocketNotifier::activated, [w] { w->fire(AVAHI_WATCH_OUT); });
  w->update(event);
  return w;
}

void watchUpdate(AvahiWatch* w, AvahiWatchEvent event) { w->update(event); }

AvahiWatchEvent watchGetEvents(AvahiWatch* w) { return w->happened; }

void watchFree(AvahiWatch* w) { delete w; }

AvahiTimeout* timeoutNew(const AvahiPoll*, const timeval* tv, AvahiTimeoutCallback callback, void* userdata) {
  auto* t = new AvahiTimeout(callback, userdata);
  t->timer.setSingleShot(true);
  t->timer.setTimerType(Qt::PreciseTimer);
  // The callback may free or re-arm the timeout: the timer has stopped before it runs.
  QObject::connect(&t->timer, &QTimer::timeout, [t] { t->callback(t, t->userdata); });
  t->update(tv);
  return t;
}

void timeoutUpdate(AvahiTimeout* t, const timeval* tv) { t->update(tv); }

void timeoutFree(AvahiTimeout* t) { delete t; }

}  // namespace

const AvahiPoll* qtAvahiPoll() {
  static const AvahiPoll poll{nullptr,   watchNew,   watchUpdate,   watchGetEvents,
                              watchFree, timeoutNew, timeoutUpdate, timeoutFree};
  return &poll;
}
