#pragma once
// The end of a Windows session, and the console's requests, ending the program as its exit
// button does: the exchange stops and the state is saved.
#ifdef _WIN32

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

// What the session's end acts on: the control panel, whether its exit is under way, and the
// start-up's handling of a termination request. requestExit(queued): the first request closes
// the panel (queued, or at once when queued is false), a later one while the exit runs makes it
// answer its own boxes (the drive question: Yes) so that nothing waits for the operator.
struct SessionEndTarget {
  QPointer<QWidget> panel;
  std::function<bool()> exitUnderWay;
  std::function<void(bool queued)> requestExit;
};

// Installs the handling below for target; exitDone() must be called once the exit has saved
// (the panel's "closed"). Returns that call.
//
// - Ctrl+C and Ctrl+Break in the program's console are one request each, like SIGINT on Linux;
//   they are held from the program's start until this call, so that one during the start-up is
//   acted on once the windows exist.
// - Closing the console window, and the log-off and shutdown a console program is told about,
//   are a request that must not wait: the exit is asked for twice, and the console's thread
//   waits until the exit has saved (the system ends the process when it returns).
// - WM_QUERYENDSESSION (a log-off, a shutdown, an installer closing the program) is answered
//   "yes" and Windows is told that a save is due (ShutdownBlockReasonCreate); WM_ENDSESSION
//   then runs the exit before it returns, with the drive question answered, since the session
//   ends the process right after. A session end another program cancels (WM_ENDSESSION with
//   FALSE) changes nothing.
std::function<void()> closeOnSessionEnd(const SessionEndTarget& target);

// The start-up's call, once the windows exist and the start-up has finished, with its own
// request handling: closeOnSessionEnd(mainForm, [mainForm, insistence](bool queued) {
// requestExit(mainForm, insistence, queued); }). Panel: TMainForm (isClosing(), closed()).
template <class Panel>
void closeOnSessionEnd(Panel* panel, std::function<void(bool queued)> requestExit) {
  QPointer<Panel> p(panel);
  const std::function<void()> done =
      closeOnSessionEnd({panel, [p] { return p && p->isClosing(); }, std::move(requestExit)});
  QObject::connect(panel, &Panel::closed, panel, [done] { done(); });
}

#endif
