// What POSIX programs add to the line: a line on a descriptor they hold, and
// the TCP settings both ends of a serial line carried over TCP use.
#ifndef FR_HOST_PORT_POSIX_H_
#define FR_HOST_PORT_POSIX_H_

#include <memory>

#include "host/port.h"

namespace host {

// Uses `fd` (a pseudo-terminal's master, say) as it is: not locked, not
// configured, not closed here.
std::unique_ptr<Port> DescriptorPort(int fd);

// A serial line carried over TCP, at either end: each frame goes as it is
// written (no delay), and a peer gone without a word (its power or its
// network cut) is noticed by the keep-alive within half a minute, or by a
// write left unacknowledged for 15 s. False with errno when refused.
bool SetUpTcpLine(int fd);

}  // namespace host

#endif  // FR_HOST_PORT_POSIX_H_
