// The end of a Windows session ends the program as its exit button does: nothing happens at the
// question (another program may still say no), and the exit runs, insisted on, inside
// WM_ENDSESSION, since the session ends the process as soon as that message returns.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>

#include <QWidget>

#include "shell/session_end_win.h"

namespace {

TEST(WindowsSessionEnd, TheExitRunsInsideTheEndOfTheSessionOnce) {
  QWidget panel, other;  // the control panel and another top-level window of the program
  panel.show();
  const HWND panelWindow = reinterpret_cast<HWND>(panel.winId()), otherWindow = reinterpret_cast<HWND>(other.winId());
  // The start-up's handling, as it behaves: the first request queues the close, later ones insist.
  int requests = 0, saves = 0;
  bool closing = false;
  std::function<void()> exitDone;
  SessionEndTarget target{&panel, [&] { return closing; }, [&](bool queued) {
                            EXPECT_TRUE(queued);
                            if (++requests > 1) return;
                            QMetaObject::invokeMethod(
                                &panel,
                                [&] {
                                  closing = true;
                                  ++saves;
                                  exitDone();
                                },
                                Qt::QueuedConnection);
                          }};
  exitDone = closeOnSessionEnd(target);

  struct Step {
    const char* what;
    HWND window;
    UINT message;
    WPARAM endsNow;
    LRESULT answer;
    int requests, saves;
  } steps[] = {
      {"the question: yes, and nothing yet", panelWindow, WM_QUERYENDSESSION, 0, TRUE, 0, 0},
      {"the question at another window", otherWindow, WM_QUERYENDSESSION, 0, TRUE, 0, 0},
      {"another program said no", panelWindow, WM_ENDSESSION, FALSE, 0, 0, 0},
      {"asked again", panelWindow, WM_QUERYENDSESSION, 0, TRUE, 0, 0},
      {"the end: the exit has run when it returns", otherWindow, WM_ENDSESSION, TRUE, 0, 2, 1},
      {"the end at the other window: once only", panelWindow, WM_ENDSESSION, TRUE, 0, 2, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(::SendMessageW(s.window, s.message, s.endsNow, ENDSESSION_LOGOFF), s.answer);
    EXPECT_EQ(requests, s.requests);
    EXPECT_EQ(saves, s.saves);
  }
}

}  // namespace

#endif
