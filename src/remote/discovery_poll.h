#pragma once
// Avahi's poll interface on the Qt event loop of the calling thread: watches are socket
// notifiers, timeouts single-shot timers. So the Avahi client runs on the main thread like the
// SCPI server, with no thread of its own and no locking (Debian ships no Qt 6 adapter).

struct AvahiPoll;

// One poll object for the whole program; main thread only.
const AvahiPoll* qtAvahiPoll();
