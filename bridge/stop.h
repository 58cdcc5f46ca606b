// The bridge's wait for its end, as the system asks for it: SIGINT and
// SIGTERM on POSIX (stop_posix.cpp); Ctrl-C, Ctrl-Break, the console's
// closing and the system's shutdown on Windows (stop_win.cpp), where the
// service's control handler asks too.
#ifndef FR_BRIDGE_STOP_H_
#define FR_BRIDGE_STOP_H_

namespace bridge {

// Before any other thread starts: the requests to stop are the waiter's
// from now on (on POSIX, SIGINT and SIGTERM are blocked in this thread and
// so in every thread it starts).
void PrepareStop();
// Returns once the bridge was asked to stop, at once if it was already.
void WaitForStop();
// Asks for the stop, from any thread. REQUIRES: PrepareStop came first.
void RequestStop();

}  // namespace bridge

#endif  // FR_BRIDGE_STOP_H_
