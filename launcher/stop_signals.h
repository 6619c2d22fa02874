// SIGTERM, SIGINT and SIGHUP (log-out, shutdown, Ctrl-C, a closed terminal) as events of the
// launcher's loop instead of a sudden end, so that a stopped run still removes the interface
// file with the patient's data, ends its receiver and closes its log.
//
// The signals are blocked in every thread and read from a signalfd; nothing runs in a signal
// handler. The receiving program starts with nothing blocked (platform::SpawnProgram).
#pragma once

#include <sys/types.h>

namespace launcher {

// Blocks the three signals in the calling thread, and so in every thread started after it (call
// it first in main), and returns a descriptor that becomes readable when one of them is pending;
// -1 when the system gives none (the signals are then unblocked and keep their default action).
int BlockStopSignals();
// The pending stop signal read from Fd, or 0 when there is none.
int TakeStopSignal(int Fd);
// Hands Signal on to Child, waits up to GraceMilliseconds for it to end, then kills it; reaps it
// either way.
void StopChild(pid_t Child, int Signal, int GraceMilliseconds);
// Ends this process as Signal ends a program that does not catch it, so that the caller sees
// the signal; exit status 128 + Signal should that not end it.
[[noreturn]] void EndBySignal(int Signal);

}  // namespace launcher
