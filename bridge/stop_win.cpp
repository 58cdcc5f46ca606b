#include <windows.h>

#include "bridge/stop.h"

namespace bridge {

namespace {

// Set once for good: a stop asked for before the wait still ends it.
HANDLE StopEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: RequestStop(); return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: hold it until the bridge has
      // stopped and left main (the system allows some seconds).
      RequestStop();
      Sleep(INFINITE);
      return TRUE;
    case CTRL_LOGOFF_EVENT: return TRUE;  // a user leaving is no reason for a service to stop
    default: return FALSE;
  }
}

}  // namespace

void PrepareStop() {
  StopEvent();
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStop() { WaitForSingleObject(StopEvent(), INFINITE); }

void RequestStop() { SetEvent(StopEvent()); }

}  // namespace bridge
