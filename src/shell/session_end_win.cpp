#ifdef _WIN32

#include "shell/session_end_win.h"

#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWinEventNotifier>
#include <atomic>

namespace {

// Written by the console's thread, read on the main thread.
std::atomic<int> consoleRequests{0};  // Ctrl+C, Ctrl+Break: one request each
std::atomic<int> consoleInsists{0};   // a closing console: a request that must not wait
// Set by the console's thread to wake the main thread; waited on by the main thread's notifier.
HANDLE consoleWake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
// Set once the exit has saved (or the program ends without one): a closing console's thread
// may return then.
HANDLE exitDoneEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ++consoleRequests;
      ::SetEvent(consoleWake);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ++consoleInsists;
      ::SetEvent(consoleWake);
      // The system ends the process once this returns (or after its own time limit).
      ::WaitForSingleObject(exitDoneEvent, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// From the first line of the program: a Ctrl+C during the start-up waits for the windows
// instead of ending the process unsaved.
const bool consoleHeld = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;

class SessionEnd : public QAbstractNativeEventFilter {
 public:
  explicit SessionEnd(SessionEndTarget target) : t_(std::move(target)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override {
    if (type != "windows_generic_MSG" || !message || !t_.panel) return false;
    const MSG* msg = static_cast<const MSG*>(message);
    // Windows sends both to every top-level window of the program: act once per session end.
    if (msg->message == WM_QUERYENDSESSION) {
      if (!asked_) {
        asked_ = true;
        blockShutdown(true);
        // An exit already under way (its drive question open, say) goes on without the operator.
        if (t_.exitUnderWay()) insist();
      }
      *result = TRUE;
      return true;
    }
    if (msg->message == WM_ENDSESSION) {
      if (msg->wParam == FALSE) {
        // Another program said no: the session goes on, and so does this program.
        asked_ = false;
        blockShutdown(false);
      } else if (!ended_) {
        ended_ = true;
        endNow();
      }
      *result = 0;
      return true;
    }
    return false;
  }

  // A request that may wait for the operator, like SIGINT.
  void request() { t_.requestExit(true); }

  // A request that must not: the exit is asked for, then asked again, which makes it answer
  // its own boxes. Both queued: the caller returns to the loop, which runs the close.
  void insist() {
    if (!t_.exitUnderWay()) t_.requestExit(true);
    t_.requestExit(true);
  }

  void exitDone() {
    blockShutdown(false);
    ::SetEvent(exitDoneEvent);
  }

 private:
  // The session ends the process as soon as WM_ENDSESSION returns: the exit runs here.
  void endNow() {
    blockShutdown(true);
    const bool underWay = t_.exitUnderWay();
    insist();
    // The close just queued (or one queued before and not yet run) runs now, inside this
    // message. An exit already under way is below this message on the stack, waiting in a box
    // that is now answered: it can only finish once this returns.
    if (!underWay && t_.panel) QCoreApplication::sendPostedEvents(t_.panel, QEvent::MetaCall);
  }

  void blockShutdown(bool block) {
    if (!t_.panel || block == blocking_) return;
    const HWND window = reinterpret_cast<HWND>(t_.panel->winId());
    if (block)
      blocking_ = ::ShutdownBlockReasonCreate(window, L"Сохранение состояния программы QZ418") != FALSE;
    else
      ::ShutdownBlockReasonDestroy(window), blocking_ = false;
  }

  SessionEndTarget t_;
  bool asked_ = false, ended_ = false, blocking_ = false;
};

}  // namespace

std::function<void()> closeOnSessionEnd(const SessionEndTarget& target) {
  auto* session = new SessionEnd(target);
  qApp->installNativeEventFilter(session);
  // The filter lives as long as the panel (which lives to the program's end).
  QObject::connect(target.panel, &QObject::destroyed, qApp, [session] {
    qApp->removeNativeEventFilter(session);
    delete session;
  });
  QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { ::SetEvent(exitDoneEvent); });
  if (consoleHeld) {
    auto* notifier = new QWinEventNotifier(consoleWake, target.panel);
    // Requests held during the start-up: the notifier reports the event set meanwhile.
    QObject::connect(notifier, &QWinEventNotifier::activated, target.panel, [session] {
      for (int n = consoleRequests.exchange(0); n > 0; --n) session->request();
      if (consoleInsists.exchange(0) > 0) session->insist();
    });
  }
  QPointer<QWidget> panel = target.panel;
  return [session, panel] {
    if (panel) session->exitDone();
  };
}

#endif
