// The sockets of the bridge's door, as the system gives them: one file per
// system implements this (net_posix.cpp, net_win.cpp). Every socket here is
// non-blocking once the door admitted it; none of these calls raises a
// signal, and an interrupted call is carried on.
#ifndef FR_BRIDGE_NET_H_
#define FR_BRIDGE_NET_H_

#include <cstddef>
#include <string>

#include <httplib.h>  // socket_t, INVALID_SOCKET: int and -1 on POSIX, SOCKET on Windows

namespace bridge {
namespace net {

// Once, before any socket: Winsock's start on Windows; on POSIX a write to
// a peer that closed fails instead of raising SIGPIPE, for the libraries
// that write without MSG_NOSIGNAL too (OpenSSL, the MQTT client). False
// when the system has no sockets to give.
bool Start();

void Close(socket_t s);
void SetNonBlocking(socket_t s);
// No more bytes go out; what comes in can still be read.
void ShutdownWrite(socket_t s);

// One socket polled: what is waited for, and what Poll found.
constexpr short kRead = 1;   // bytes to read, or the end, or an error
constexpr short kWrite = 2;  // room to write, or an error
struct PollEntry {
  socket_t socket;
  short want;
  short ready;
};
// poll, or WSAPoll: the number of entries ready, 0 when timeout_ms passed
// (-1 waits for ever), -1 when the call failed. An interruption waits on
// for the time left.
int Poll(PollEntry* entries, size_t n, int timeout_ms);

// What a read or a write on a non-blocking socket moved when it moved
// nothing: a byte count is > 0.
constexpr long kClosed = 0;       // Recv: the peer closed its end
constexpr long kWouldBlock = -1;  // nothing now: wait and try again
constexpr long kFailed = -2;      // the connection broke
long Recv(socket_t s, char* buf, size_t n);
long Send(socket_t s, const char* buf, size_t n);
// The peer closed its end: a byte peeked at reads as the end of the stream.
bool PeerClosed(socket_t s);

// The numeric address and port of the connection's peer, or of its own
// end; unchanged when the socket has none.
void PeerEnd(socket_t s, std::string* ip, int* port);
void LocalEnd(socket_t s, std::string* ip, int* port);

// Let a listening socket hold `backlog` connections not yet accepted.
void Listen(socket_t s, int backlog);

// A pair that wakes a thread polling [0] beside its sockets: a pipe on
// POSIX; on Windows, whose WSAPoll takes sockets only, a connected loopback
// TCP pair. Both ends non-blocking and not inherited by child processes.
// False when the system gave none.
bool OpenWakePair(socket_t pair[2]);
void CloseWakePair(socket_t pair[2]);
// A byte into [1]: [0] is readable until drained.
void Wake(socket_t pair[2]);
// Reads [0] empty.
void DrainWake(socket_t pair[2]);

}  // namespace net
}  // namespace bridge

#endif  // FR_BRIDGE_NET_H_
