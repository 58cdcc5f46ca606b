// TCP on the loopback, for the virtual register's serial-device-server port
// and the tests that reach it.
#ifndef FR_TOOLS_COMMON_LOOPBACK_H_
#define FR_TOOLS_COMMON_LOOPBACK_H_

namespace sim {

// A listening socket on 127.0.0.1:port (address reuse on); -1 on failure,
// errno says why.
int ListenLoopback(int port);
// A socket connected to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);

}  // namespace sim

#endif  // FR_TOOLS_COMMON_LOOPBACK_H_
