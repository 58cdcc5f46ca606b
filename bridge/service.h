// fr-bridge as the system's service: `fr-bridge service COMMAND`. On Windows
// (service_win.cpp):
//   install [--account NAME [--password-file FILE]] [bridge options]
//             registers the service "fr-bridge": automatic start, restarted
//             on failure (after 5 s, 30 s, then 60 s; the count starts again
//             after a day without one), as LocalService unless an account is
//             given; the state folder %ProgramData%\fr-bridge is made that
//             account's, the administrators' and SYSTEM's alone
//   uninstall stops the service and removes it; the state folder stays
//   start, stop  and waits (30 s at most) until it has
//   run       what the service manager starts: the bridge, its state and
//             log in the state folder unless the options say otherwise,
//             its settings in fr-bridge.json there when none are given
// and for the installer, which registers the service itself:
//   configure [--register NAME=ADDRESS [--listen HOST:PORT]]
//             install's settings for the registered service, and the
//             settings file with that register (served on HOST:PORT,
//             127.0.0.1:8780 unless given) when there is none yet
//   unconfigure [--purge]
//             forgets the event log source; --purge removes the state
//             folder too (the journal with it)
// Start, stop and failure go to the Windows event log (source fr-bridge).
// On Linux systemd is the service manager (service_posix.cpp refuses).
#ifndef FR_BRIDGE_SERVICE_H_
#define FR_BRIDGE_SERVICE_H_

namespace bridge {

// Runs the bridge with argv as main takes it; returns its exit status.
using ServeFunction = int (*)(int argc, char** argv);

// argv[0] is "service". Returns the exit status: 0 done, 1 failed, 2 usage.
int RunServiceCommand(int argc, char** argv, ServeFunction serve);

}  // namespace bridge

#endif  // FR_BRIDGE_SERVICE_H_
