#pragma once
// The end of a Windows session, and the console's requests, ending the program as its exit
// button does: the exchange stops and the state is saved.
#ifdef _WIN32

#include <functional>

class TMainForm;

// Call once the windows exist and the start-up has finished. requestExit(queued) is the
// start-up's handling of a termination request: the first closes the panel (queued, or at once
// when queued is false), a later one while the exit runs makes it answer its own boxes (the
// drive question: Yes) so that nothing waits for the operator.
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
void closeOnSessionEnd(TMainForm* mainForm, std::function<void(bool queued)> requestExit);

#endif
