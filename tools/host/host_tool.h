// fr-host: the command-line host for POS developers. It sends one host
// command (or the short sequence a document needs) to the register over its
// serial line, through the host library and its retry policy, and prints the
// replies.
#ifndef FR_TOOLS_HOST_HOST_TOOL_H_
#define FR_TOOLS_HOST_HOST_TOOL_H_

#include <memory>
#include <ostream>

#include "host/port.h"

namespace hosttool {

// Parses the command line, opens the port and runs the subcommand. Returns
// the exit status: 0 when every request was answered 0, 1 otherwise (a usage
// or port error included, reported on `err` with nothing sent).
int RunHostTool(int argc, char** argv, std::ostream& out, std::ostream& err);

// The same on a port already open; --port is ignored.
int RunHostToolOn(std::unique_ptr<host::Port> port, int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace hosttool

#endif  // FR_TOOLS_HOST_HOST_TOOL_H_
