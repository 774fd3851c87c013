#pragma once
// The two things the entry fields take from the outside world: the time (for the
// stepping acceleration) and the beep. Both can be replaced, so tests drive and count them.

#include <QtGlobal>

#include <functional>

// Milliseconds on a monotonic clock.
qint64 nowMs();
void setClockForTests(std::function<qint64()> clock);  // empty function: the real clock

// Every refusal of the entry fields goes through here.
void beep();
void setBeepHandlerForTests(std::function<void()> handler);  // empty function: the system beep
