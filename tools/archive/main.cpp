// fr-archive COMMAND PATH [options]: a register's archive file read without
// ever writing to it. PATH always follows the command.
#include <cxxopts.hpp>

#include <iostream>
#include <string>

#include "host/arguments.h"
#include "host/protocol.h"
#include "tools/archive/archive_tool.h"

namespace {

const char kUsage[] =
    "usage: fr-archive verify PATH [--eeprom IMAGE]\n"
    "       fr-archive list PATH [filters]\n"
    "       fr-archive show PATH N [--json] [--eeprom IMAGE]\n"
    "       fr-archive export PATH --format json|csv [filters]\n"
    "       fr-archive totals PATH [--shift N | --shifts A-B] [--json]\n"
    "filters: --from-number N --to-number N --from-date DAY --to-date DAY --shift N\n"
    "         (DAY is YYYY-MM-DD, or an RFC 3339 time; days are whole days in UTC)\n"
    "IMAGE: the identity EEPROM, its raw 4096 bytes or fr-core -d's dump\n"
    "exit status: 0 done (verify: no findings), 1 findings or a refusal, 2 unreadable\n";

int Usage(const std::string& why) {
  std::cerr << "fr-archive: " << why << "\n" << kUsage;
  return 1;
}

// A day or a time to seconds since 1970; `end` takes a day to its last second.
bool ParseDay(const std::string& text, bool end, uint32_t* t) {
  if (text.size() == 10) {
    if (!host::ParseTime(text + "T00:00:00Z", t)) return false;
    if (end) *t += 24 * 3600 - 1;
    return true;
  }
  return host::ParseTime(text, t);
}

bool ParseNumber(const std::string& text, uint32_t max, uint32_t* out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long v = std::stoull(text);
  if (v == 0 || v > max) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// The options that narrow the documents; false with *bad naming the one
// that does not read.
bool ReadFilter(const cxxopts::ParseResult& p, archivetool::Filter* filter, std::string* bad) {
  uint32_t v = 0;
  auto number = [&](const char* name, uint32_t max) {
    const bool ok = ParseNumber(p[name].as<std::string>(), max, &v);
    if (!ok) *bad = std::string("bad --") + name;
    return ok;
  };
  if (p.count("from-number")) {
    if (!number("from-number", UINT32_MAX)) return false;
    filter->first = v;
  }
  if (p.count("to-number")) {
    if (!number("to-number", UINT32_MAX)) return false;
    filter->last = v;
  }
  if (p.count("from-date") && !ParseDay(p["from-date"].as<std::string>(), false, &filter->from_time)) {
    *bad = "bad --from-date";
    return false;
  }
  if (p.count("to-date") && !ParseDay(p["to-date"].as<std::string>(), true, &filter->to_time)) {
    *bad = "bad --to-date";
    return false;
  }
  if (p.count("shift")) {
    if (!number("shift", 0xFFFF)) return false;
    filter->shift = static_cast<uint16_t>(v);
  }
  return true;
}

// "A-B" with A <= B.
bool ParseShiftRange(const std::string& range, uint16_t* first, uint16_t* last) {
  const size_t dash = range.find('-');
  uint32_t a = 0, b = 0;
  if (dash == std::string::npos || !ParseNumber(range.substr(0, dash), 0xFFFF, &a) ||
      !ParseNumber(range.substr(dash + 1), 0xFFFF, &b) || b < a) {
    return false;
  }
  *first = static_cast<uint16_t>(a);
  *last = static_cast<uint16_t>(b);
  return true;
}

}  // namespace

int main(int raw_argc, char** raw_argv) {
  host::Arguments args(raw_argc, raw_argv);
  const int argc = args.argc();
  char** const argv = args.argv();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  if (argc < 3) return Usage(argc < 2 ? "no command" : "no PATH after the command");
  const std::string command = argv[1];
  const std::string path = argv[2];
  cxxopts::Options options("fr-archive", kUsage);
  options.add_options()("eeprom", "", cxxopts::value<std::string>()->default_value(""))("json", "")(
      "format", "", cxxopts::value<std::string>()->default_value(""))("from-number", "", cxxopts::value<std::string>())(
      "to-number", "", cxxopts::value<std::string>())("from-date", "", cxxopts::value<std::string>())(
      "to-date", "", cxxopts::value<std::string>())("shift", "", cxxopts::value<std::string>())(
      "shifts", "", cxxopts::value<std::string>())("number", "", cxxopts::value<std::vector<std::string>>());
  options.parse_positional({"number"});
  // The command and PATH are not options.
  std::vector<char*> rest = {argv[0]};
  for (int i = 3; i < argc; ++i) rest.push_back(argv[i]);
  cxxopts::ParseResult p;
  try {
    p = options.parse(static_cast<int>(rest.size()), rest.data());
  } catch (const std::exception& e) {
    return Usage(e.what());
  }
  archivetool::Filter filter;
  std::string bad;
  if (!ReadFilter(p, &filter, &bad)) return Usage(bad);
  uint32_t v = 0;
  const std::vector<std::string> numbers =
      p.count("number") ? p["number"].as<std::vector<std::string>>() : std::vector<std::string>();
  if (command != "show" && !numbers.empty()) return Usage("unexpected " + numbers[0]);

  std::unique_ptr<platform::Env> board = platform::NewBoardEnv();
  archivetool::QuietEnv quiet(board.get());
  platform::Env* const env = &quiet;
  const std::string eeprom = p["eeprom"].as<std::string>();
  if (command == "verify") return archivetool::Verify(env, path, eeprom, std::cout);
  if (command == "list") return archivetool::List(env, path, filter, std::cout);
  if (command == "show") {
    if (numbers.size() != 1 || !ParseNumber(numbers[0], UINT32_MAX, &v)) return Usage("show needs one document number");
    return archivetool::Show(env, path, v, p.count("json") > 0, eeprom, std::cout);
  }
  if (command == "export") return archivetool::Export(env, path, p["format"].as<std::string>(), filter, std::cout);
  if (command == "totals") {
    uint16_t first = filter.shift, last = filter.shift;
    if (p.count("shifts") && !ParseShiftRange(p["shifts"].as<std::string>(), &first, &last)) {
      return Usage("--shifts is A-B with A <= B");
    }
    return archivetool::Totals(env, path, first, last, p.count("json") > 0, std::cout);
  }
  return Usage("unknown command " + command);
}
