// A program's command line in UTF-8, the text every host program speaks.
// POSIX hands it over as it was typed (arguments_posix.cpp); Windows hands
// main() the ANSI code page's rendering, which loses what that page lacks
// (Cyrillic on a Western system), so there it is read again as UTF-16 and
// converted, and the console is told to show UTF-8 (arguments_win.cpp).
#ifndef FR_HOST_ARGUMENTS_H_
#define FR_HOST_ARGUMENTS_H_

#include <string>
#include <vector>

namespace host {

class Arguments {
 public:
  // From main's own arguments.
  Arguments(int argc, char** argv);
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  int argc() const { return static_cast<int>(args_.size()); }
  // Lives as long as this object; argv()[argc()] is nullptr.
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

}  // namespace host

#endif  // FR_HOST_ARGUMENTS_H_
