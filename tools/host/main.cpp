#include <iostream>

#include "host/arguments.h"
#include "tools/host/host_tool.h"

int main(int argc, char** argv) {
  host::Arguments args(argc, argv);
  return hosttool::RunHostTool(args.argc(), args.argv(), std::cout, std::cerr);
}
