#include "host/arguments.h"

namespace host {

// What each system gives (arguments_posix.cpp, arguments_win.cpp).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

Arguments::Arguments(int argc, char** argv) : args_(Utf8Arguments(argc, argv)) {
  for (std::string& a : args_) pointers_.push_back(&a[0]);
  pointers_.push_back(nullptr);
}

}  // namespace host
