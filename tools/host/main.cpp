#include <iostream>

#include "tools/host/host_tool.h"

int main(int argc, char** argv) { return hosttool::RunHostTool(argc, argv, std::cout, std::cerr); }
