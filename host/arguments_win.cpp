#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace host {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  SetConsoleOutputCP(CP_UTF8);
  int n = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < n; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string a(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &a[0], size, nullptr, nullptr);
    a.resize(a.size() - 1);  // the terminating zero
    args.push_back(a);
  }
  LocalFree(wide);
  return args;
}

}  // namespace host
