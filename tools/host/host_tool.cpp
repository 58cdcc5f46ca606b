#include "tools/host/host_tool.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <cxxopts.hpp>
#include <nlohmann/json.hpp>

#include "app/codes.h"
#include "documents/base_document.h"
#include "host/client.h"
#include "host/clock.h"
#include "host/host_line.h"
#include "host/model/document.h"
#include "host/protocol.h"
#include "host/session.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace hosttool {
namespace {

using nlohmann::json;

using util::HexSpaced;
using util::HexUpper;

std::string FromHex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (!isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits: " + text);
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 2) {
    size_t used = 0;
    const int v = std::stoi(digits.substr(i, 2), &used, 16);
    if (used != 2) throw std::invalid_argument("not hex: " + text);
    out += static_cast<char>(v);
  }
  return out;
}

// Whole numbers only: a typo must not become a zero amount.
int64_t Number(const std::string& text, int64_t min, int64_t max, const char* what) {
  size_t used = 0;
  long long v = 0;
  try {
    v = std::stoll(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || v < min || v > max)
    throw std::invalid_argument(std::string("bad ") + what + ": " + text);
  return v;
}

void Quantity(const std::string& text, host::Line* l) {
  if (!host::ParseQuantity(text, l)) throw std::invalid_argument("bad quantity: " + text);
}

host::Line ParseLine(const std::string& text) {
  std::vector<std::string> f;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ';');) f.push_back(part);
  if (f.size() != 5 && f.size() != 6)
    throw std::invalid_argument("a line is name;price;qty;tax;section[;discount]: " + text);
  host::Line l;
  l.name = util::Utf8ToCp866(f[0]);
  l.price = Number(f[1], 0, INT64_MAX, "price");
  Quantity(f[2], &l);
  l.tax = static_cast<uint8_t>(Number(f[3], 0, 255, "tax"));
  l.section = static_cast<uint8_t>(Number(f[4], 0, 255, "section"));
  if (f.size() == 6) l.discount = static_cast<uint8_t>(Number(f[5], 0, 255, "discount"));
  return l;
}

std::vector<host::Line> LinesFromJson(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("cannot read " + path);
  const json doc = json::parse(in);
  std::vector<host::Line> lines;
  for (const json& j : doc) {
    host::Line l;
    l.name = util::Utf8ToCp866(j.at("name").get<std::string>());
    l.price = j.at("price").get<int64_t>();
    const json& q = j.at("quantity");
    Quantity(q.is_string() ? q.get<std::string>() : std::to_string(q.get<int64_t>()), &l);
    l.tax = static_cast<uint8_t>(j.at("tax").get<int>());
    l.section = static_cast<uint8_t>(j.at("section").get<int>());
    l.discount = static_cast<uint8_t>(j.value("discount", 0));
    lines.push_back(l);
  }
  return lines;
}

std::string Time(uint32_t t) {
  const std::tm tm = host::LocalOf(t);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// A closed document in the one document form, with what the request told
// of it (`request`, of the same type) where the reply does not.
json CloseJson(uint8_t type, const std::string& data, const host::Document& request) {
  host::CloseReply c;
  if (!host::DecodeCloseReply(data, &c)) return json::object();
  host::Document asked;
  asked.type = type;
  return host::DocumentJson(host::DocumentOfClose(request.type == type ? request : asked, c));
}

json DeviceStatusJson(const std::string& d) {
  json f = json::object();
  host::DeviceStatus s;
  if (!host::DecodeDeviceStatus(d, &s)) return f;
  f["serial"] = s.serial;
  f["flags"] = s.flags;
  f["flag_names"] = host::FlagNames(s.flags);
  f["registrations"] = s.registrations;
  f["shift"] = s.shift;
  f["last_document"] = s.last_document;
  f["last_time"] = s.last_time;
  f["receipts"] = s.receipts;
  f["open_document"] = s.open_document;
  if (host::DocumentTypeName(s.open_document) != nullptr)
    f["open_document_name"] = host::DocumentTypeName(s.open_document);
  f["capacity"] = s.capacity;
  return f;
}

json ShiftStatusJson(const std::string& d) {
  json f = json::object();
  host::ShiftStatus s;
  if (!host::DecodeShiftStatus(d, &s)) return f;
  f["shift_open"] = s.open;
  f["shift"] = s.shift;
  f["receipts"] = s.receipts;
  f["open_document"] = s.open_document;
  f["open_time"] = s.open_time;
  f["shift_last_document"] = s.last_document;
  f["close_time"] = s.close_time;
  f["drawer"] = s.drawer;
  return f;
}

json DocumentStateJson(const std::string& d) {
  json f = json::object();
  host::DocumentState s;
  if (!host::DecodeDocumentState(d, &s)) return f;
  f["document_type"] = s.type;
  if (host::DocumentTypeName(s.type) != nullptr) f["document"] = host::DocumentTypeName(s.type);
  if (s.is_receipt) {
    if (host::ReceiptTypeName(s.receipt_type) != nullptr) {
      f["receipt_type"] = host::ReceiptTypeName(s.receipt_type);
      // As the register books it: a return of sale counts as cash in.
      f["drawer"] = host::DrawerDirection(s.receipt_type) > 0 ? "in" : "out";
    } else {
      f["receipt_type"] = s.receipt_type;
    }
    f["receipt_number"] = s.receipt_number;
    f["lines"] = s.lines;
    f["total"] = s.total;
  }
  return f;
}

// The decoded fields of a reply, when the library knows its form.
json Decode(uint8_t command, const std::string& d, const host::Document& request) {
  if (const uint8_t type = host::ClosedDocumentType(command)) return CloseJson(type, d, request);
  json f = json::object();
  switch (command) {
    case cmd::kVersion: {
      std::string text;
      if (host::DecodeVersion(d, &text)) f["version"] = text;
      return f;
    }
    case cmd::kDeviceStatus: return DeviceStatusJson(d);
    case cmd::kShiftStatus: return ShiftStatusJson(d);
    case cmd::kDocumentState: return DocumentStateJson(d);
    case cmd::kModelData: {
      host::ModelInfo m;
      if (!host::DecodeModelData(d, &m)) return f;
      f["model_code"] = m.code;
      f["serial"] = m.serial;
      f["model"] = util::Cp866ToUtf8(m.name);
      return f;
    }
    case cmd::kReadClock:
    case cmd::kSetClock: {
      uint32_t t = 0;
      if (host::DecodeTime(d, &t)) f["time"] = t;
      return f;
    }
    default: return f;
  }
}

struct Options {
  host::Login login;
  std::string name;  // CP866
  bool json = false, trace = false, retry = true;
};

class Printer {
 public:
  Printer(const Options& o, const host::Document& request, std::ostream& out) : o_(o), request_(request), out_(out) {}

  void operator()(const host::Answer& a) {
    if (!a.ok()) ok_ = false;
    if (!a.answered) {
      const host::CommandInfo* info = host::FindCommand(a.command);
      const std::string name = info != nullptr ? info->name : "unknown command";
      if (o_.json)
        out_ << json{{"command", a.command}, {"name", name}, {"error", a.error}}.dump() << "\n";
      else
        out_ << "command " << int(a.command) << " (" << name << "): " << a.error << "\n";
      return;
    }
    const json fields = Decode(a.command, a.data, request_);
    if (o_.json) {
      json j = {{"command", a.command}, {"code", a.code}, {"meaning", rc::Meaning(a.code)}, {"data", HexUpper(a.data)}};
      uint16_t missing = 0;
      if (a.code == rc::kCloseData && host::DecodeMissingTag(a.data, &missing)) j["missing_tag"] = missing;
      for (auto it = fields.begin(); it != fields.end(); ++it) j[it.key()] = it.value();
      out_ << j.dump() << "\n";
      return;
    }
    out_ << "command " << int(a.command) << ": " << a.code << " " << rc::Meaning(a.code) << "\n";
    if (fields.empty()) {
      if (!a.data.empty()) out_ << "  data: " << HexSpaced(a.data) << "\n";
      return;
    }
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      const std::string& key = it.key();
      const bool is_time = key.size() >= 4 && key.compare(key.size() - 4, 4, "time") == 0;
      out_ << "  " << key << ": ";
      if (it->is_string())
        out_ << it->get<std::string>();
      else
        out_ << it->dump();
      if (is_time && it->is_number() && it->get<int64_t>() > 0) out_ << " (" << Time(it->get<uint32_t>()) << ")";
      out_ << "\n";
    }
  }

  bool ok() const { return ok_; }

 private:
  const Options& o_;
  const host::Document& request_;  // the document the subcommand asked for
  std::ostream& out_;
  bool ok_ = true;
};

const char* kUsage =
    "subcommands: status, shift-status, version, model, key, reg-field TAG, set-serial DIGITS,\n"
    "  register --inn --fn [--text1 --text2 --text3 --tax I;TYPE;RATE;NAME], open-shift,\n"
    "  close-shift, sale|purchase|return-sale|return-purchase --line N;PRICE;QTY;TAX;SECTION[;DISC]|\n"
    "  --lines-json FILE [--cash K --cashless K], cash-in AMOUNT, cash-out AMOUNT|all, cancel,\n"
    "  doc-state, report x|x-sections|registration|gross|period|shifts [ARGS], copy N, tape [N], table-read KIND N,\n"
    "  table-write KIND HEX, clock [--set T], printer-setting N [VALUE], print TEXT, raw HEX, cut";

std::string Arg(const std::vector<std::string>& a, size_t i, const char* what) {
  if (i >= a.size()) throw std::invalid_argument(std::string("missing ") + what);
  return a[i];
}

host::Request ReportRequest(const std::vector<std::string>& a, const host::Login& L) {
  // By name as the bridge calls it ("x", "period"), or by number.
  uint8_t kind = 0;
  const std::string named = Arg(a, 0, "report kind");
  if (!host::kReportKinds.Code(named, &kind) || kind == host::kControlTape)
    kind = static_cast<uint8_t>(Number(named, 1, 6, "report kind"));
  if (kind == report::kPeriod)
    return host::req::PeriodReport(L, static_cast<uint32_t>(Number(Arg(a, 1, "from time"), 0, UINT32_MAX, "time")),
                                   static_cast<uint32_t>(Number(Arg(a, 2, "to time"), 0, UINT32_MAX, "time")));
  if (kind == report::kShiftRange)
    return host::req::ShiftRangeReport(L, static_cast<uint16_t>(Number(Arg(a, 1, "first shift"), 0, 65535, "shift")),
                                       static_cast<uint16_t>(Number(Arg(a, 2, "last shift"), 0, 65535, "shift")));
  return host::req::Report(L, kind);
}

// The request of a subcommand that sends one alone; false for another.
bool OneRequest(const std::string& sub, const std::vector<std::string>& a, const cxxopts::ParseResult& p,
                const host::Login& L, host::Request* r) {
  if (sub == "status")
    *r = host::req::DeviceStatus();
  else if (sub == "shift-status")
    *r = host::req::ShiftStatus();
  else if (sub == "version")
    *r = host::req::Version();
  else if (sub == "model")
    *r = host::req::ModelData();
  else if (sub == "key")
    *r = host::req::DeviceKey();
  else if (sub == "cancel")
    *r = host::req::Cancel();
  else if (sub == "doc-state")
    *r = host::req::DocumentState();
  else if (sub == "cut")
    *r = host::req::FeedAndCut();
  else if (sub == "reg-field")
    *r = host::req::RegistrationField(static_cast<uint16_t>(Number(Arg(a, 0, "tag"), 0, 65535, "tag")));
  else if (sub == "set-serial") {
    const std::string digits = Arg(a, 0, "serial number");
    if (digits.size() != 10 || digits.find_first_not_of("0123456789") != std::string::npos)
      throw std::invalid_argument("a serial number is 10 digits");
    *r = host::req::SetSerialNumber(L, digits);
  } else if (sub == "report")
    *r = ReportRequest(a, L);
  else if (sub == "copy")
    *r = host::req::Copy(L, static_cast<uint32_t>(Number(Arg(a, 0, "document number"), 0, UINT32_MAX, "number")));
  else if (sub == "tape")
    *r = host::req::ControlTape(L,
                                a.empty() ? 0 : static_cast<uint32_t>(Number(a[0], 1, UINT32_MAX, "document number")));
  else if (sub == "table-read")
    *r = host::req::ReadRecord(L, static_cast<uint8_t>(Number(Arg(a, 0, "table"), 1, 3, "table")),
                               static_cast<uint8_t>(Number(Arg(a, 1, "record number"), 0, 255, "record")));
  else if (sub == "table-write")
    *r = host::req::WriteRecord(L, static_cast<uint8_t>(Number(Arg(a, 0, "table"), 1, 3, "table")),
                                FromHex(Arg(a, 1, "record image")));
  else if (sub == "clock")
    *r = !p.count("set")
             ? host::req::ReadClock()
             : host::req::SetClock(L, static_cast<uint32_t>(Number(p["set"].as<std::string>(), 0, UINT32_MAX, "time")));
  else if (sub == "printer-setting") {
    const uint8_t n = static_cast<uint8_t>(Number(Arg(a, 0, "setting"), 0, 255, "setting"));
    *r = a.size() < 2 ? host::req::ReadPrinterSetting(L, n)
                      : host::req::WritePrinterSetting(L, n, static_cast<uint8_t>(Number(a[1], 0, 255, "value")));
  } else if (sub == "print")
    *r = host::req::PrintText(0, 0, 0, 0, util::Utf8ToCp866(Arg(a, 0, "text")));
  else if (sub == "raw")
    *r = host::req::PrintRaw(FromHex(Arg(a, 0, "bytes")));
  else
    return false;
  return true;
}

bool Register(host::Session& s, const cxxopts::ParseResult& p) {
  const std::string inn = p["inn"].as<std::string>(), fn = p["fn"].as<std::string>();
  if (inn.empty() || inn.size() > 12 || fn.empty() || fn.size() > 16)
    throw std::invalid_argument("register needs --inn (up to 12) and --fn (up to 16)");
  std::vector<TlvElement> elements;
  const std::pair<const char*, uint16_t> texts[] = {
      {"text1", tag::kFirstRegText}, {"text2", tag::kSecondRegText}, {"text3", tag::kThirdRegText}};
  for (const auto& t : texts)
    if (p.count(t.first))
      elements.push_back(TlvElement::fromString(t.second, util::Utf8ToCp866(p[t.first].as<std::string>())));
  if (p.count("tax")) {
    for (const std::string& t : p["tax"].as<std::vector<std::string>>()) {
      std::vector<std::string> f;
      std::stringstream in(t);
      for (std::string part; std::getline(in, part, ';');) f.push_back(part);
      if (f.size() != 4) throw std::invalid_argument("a tax rate is INDEX;TYPE;RATE;NAME: " + t);
      host::TaxRateSetting rate;
      rate.index = static_cast<uint8_t>(Number(f[0], 0, 4, "tax index"));
      rate.type = static_cast<uint8_t>(Number(f[1], 0, 255, "tax type"));
      rate.rate = static_cast<uint16_t>(Number(f[2], 0, 65535, "rate"));
      rate.name = util::Utf8ToCp866(f[3]);
      elements.push_back(host::TaxRateElement(rate));
    }
  }
  return s.Registration(elements, inn, fn, nullptr).ok();
}

// A receipt of request->receipt_type.
bool Receipt(host::Session& s, const std::string& sub, const cxxopts::ParseResult& p, host::Document* request) {
  std::vector<host::Line> lines;
  if (p.count("line"))
    for (const std::string& l : p["line"].as<std::vector<std::string>>()) lines.push_back(ParseLine(l));
  if (p.count("lines-json")) {
    const auto more = LinesFromJson(p["lines-json"].as<std::string>());
    lines.insert(lines.end(), more.begin(), more.end());
  }
  if (lines.empty()) throw std::invalid_argument(sub + " needs --line or --lines-json");
  request->type = doc::kReceipt;
  request->has_lines = true;
  request->lines = lines;
  request->cashless = p["cashless"].as<int64_t>();
  return s.Receipt(request->receipt_type, lines, p["cash"].as<int64_t>(), request->cashless, nullptr).ok();
}

bool Cash(host::Session& s, bool in, const std::vector<std::string>& a, host::Document* request) {
  const std::string amount = Arg(a, 0, "amount");
  request->type = in ? doc::kCashIn : doc::kCashOut;
  if (in || amount != "all") {
    request->amount = Number(amount, 0, INT64_MAX, "amount");
  } else {
    // Whatever the register counts in its drawer, so that the shift can close.
    const host::Answer status = s.Call(host::req::ShiftStatus());
    host::ShiftStatus shift;
    if (!status.ok() || !host::DecodeShiftStatus(status.data, &shift)) return false;
    request->amount = shift.drawer;
  }
  return (in ? s.CashIn(request->amount, nullptr) : s.CashOut(request->amount, nullptr)).ok();
}

// Runs the subcommand; false when any request was refused or unanswered.
// Arguments are all checked before the first request goes out.
// `request` is what the subcommand tells of the document it makes.
bool Dispatch(host::Session& s, const std::string& sub, const std::vector<std::string>& a,
              const cxxopts::ParseResult& p, host::Document* request) {
  host::Request one;
  if (OneRequest(sub, a, p, s.login(), &one)) return s.Call(one).ok();
  if (sub == "register") return Register(s, p);
  if (sub == "open-shift") return s.ShiftOpen(nullptr).ok();
  if (sub == "close-shift") return s.ShiftClose(nullptr).ok();
  if (host::kReceiptTypes.Code(sub, &request->receipt_type)) return Receipt(s, sub, p, request);
  if (sub == "cash-in" || sub == "cash-out") return Cash(s, sub == "cash-in", a, request);
  throw std::invalid_argument("unknown subcommand: " + sub);
}

cxxopts::Options Parser() {
  cxxopts::Options parser("fr-host", "Talks to the register over its host line.");
  const char* env_port = getenv("FR_HOST_PORT");
  parser.add_options()("port", "serial line",
                       cxxopts::value<std::string>()->default_value(env_port ? env_port : "./var/run/host"))(
      "cashier", "cashier number", cxxopts::value<int>()->default_value("20"))(
      "password", "cashier password", cxxopts::value<int>()->default_value("30"))(
      "name", "cashier name on documents", cxxopts::value<std::string>()->default_value("Кассир"))(
      "json", "one JSON object per request")("trace", "frames in hex on stderr")(
      "no-retry", "send every request once and take its first answer")("line", "receipt line",
                                                                       cxxopts::value<std::vector<std::string>>())(
      "lines-json", "receipt lines from a JSON file", cxxopts::value<std::string>())(
      "cash", "paid in cash, kopecks", cxxopts::value<int64_t>()->default_value("0"))(
      "cashless", "paid electronically, kopecks", cxxopts::value<int64_t>()->default_value("0"))(
      "inn", "taxpayer number", cxxopts::value<std::string>()->default_value(""))(
      "fn", "fiscal drive number", cxxopts::value<std::string>()->default_value(""))(
      "text1", "registration text 1", cxxopts::value<std::string>())("text2", "registration text 2",
                                                                     cxxopts::value<std::string>())(
      "text3", "registration text 3", cxxopts::value<std::string>())("tax", "tax rate INDEX;TYPE;RATE;NAME",
                                                                     cxxopts::value<std::vector<std::string>>())(
      "set", "clock: seconds since 1970", cxxopts::value<std::string>())("h,help", "this help")(
      "subcommand", "", cxxopts::value<std::string>())("args", "", cxxopts::value<std::vector<std::string>>());
  parser.parse_positional({"subcommand", "args"});
  parser.positional_help("SUBCOMMAND [ARGS]");
  return parser;
}

// fd < 0: open the port named on the command line.
int Run(std::unique_ptr<host::Port> port, int argc, char** argv, std::ostream& out, std::ostream& err) {
  cxxopts::Options parser = Parser();
  try {
    const cxxopts::ParseResult p = parser.parse(argc, argv);
    if (p.count("help") || !p.count("subcommand")) {
      (p.count("help") ? out : err) << parser.help() << kUsage << "\n";
      return p.count("help") ? 0 : 1;
    }
    Options o;
    o.login.cashier = static_cast<uint8_t>(Number(std::to_string(p["cashier"].as<int>()), 1, 20, "cashier"));
    o.login.password = p["password"].as<int>();
    o.name = util::Utf8ToCp866(p["name"].as<std::string>());
    o.json = p.count("json") > 0;
    o.trace = p.count("trace") > 0;
    o.retry = p.count("no-retry") == 0;
    const std::vector<std::string> args =
        p.count("args") ? p["args"].as<std::vector<std::string>>() : std::vector<std::string>();
    const bool given = port != nullptr;
    host::HostLine line(std::move(port));
    if (!given) {
      const host::Status opened = line.Open(p["port"].as<std::string>());
      if (!opened.ok()) {
        err << "fr-host: " << opened.ToString() << "\n";
        return 1;
      }
    }
    host::Client client(&line, o.retry ? host::RetryPolicy() : host::RetryPolicy::None());
    if (o.trace)
      client.set_trace([&err](bool outgoing, const std::string& bytes) {
        err << (outgoing ? "-> " : "<- ") << HexSpaced(bytes) << "\n";
      });
    host::Session session(&client, o.login, o.name);
    host::Document request;
    Printer printer(o, request, out);
    session.set_observer([&printer](const host::Answer& a) { printer(a); });
    const bool ok = Dispatch(session, p["subcommand"].as<std::string>(), args, p, &request);
    return ok && printer.ok() ? 0 : 1;
  } catch (const std::exception& e) {
    err << "fr-host: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace

int RunHostTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
  return Run(nullptr, argc, argv, out, err);
}

int RunHostToolOn(std::unique_ptr<host::Port> port, int argc, char** argv, std::ostream& out, std::ostream& err) {
  return Run(std::move(port), argc, argv, out, err);
}

}  // namespace hosttool
