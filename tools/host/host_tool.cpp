#include "tools/host/host_tool.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <cxxopts.hpp>
#include <nlohmann/json.hpp>

#include "app/codes.h"
#include "documents/tlv_element.h"
#include "documents/tlv_tags.h"
#include "tools/sim/host_client.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace host {
namespace {

using nlohmann::json;

// Documents can take a while to print and store.
constexpr int kReplyTimeoutMs = 15000;

std::string U8(uint8_t v) { return std::string(1, static_cast<char>(v)); }
std::string U16(uint16_t v) { std::string s; util::PutFixed16(&s, v); return s; }
std::string U32(uint32_t v) { std::string s; util::PutFixed32(&s, v); return s; }
std::string U64(uint64_t v) { std::string s; util::PutFixed64(&s, v); return s; }

std::string Hex(const std::string& bytes) { return util::HexUpper(bytes); }

std::string HexSpaced(const std::string& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    if (!s.empty()) s += ' ';
    s += kDigits[c >> 4];
    s += kDigits[c & 15];
  }
  return s;
}

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

// A quantity such as "1.500" as places and mantissa.
std::string Fvln(const std::string& text) {
  const size_t dot = text.find('.');
  std::string digits = text;
  uint8_t places = 0;
  if (dot != std::string::npos) {
    places = static_cast<uint8_t>(text.size() - dot - 1);
    digits = text.substr(0, dot) + text.substr(dot + 1);
  }
  if (places > TlvElement::kMaxFvlnPlaces) throw std::invalid_argument("bad quantity: " + text);
  const int64_t mantissa = Number(digits, 0, INT64_MAX, "quantity");
  return U8(places) + TlvElement::fromVln(0, mantissa).value();
}

struct SaleLine {
  std::string name, quantity;
  int64_t price = 0, tax = 0, section = 0, discount = 0;
};

std::string LineElement(const SaleLine& l) {
  std::vector<TlvElement> parts = {
      TlvElement::fromString(tag::kLineName, util::Utf8ToCp866(l.name)),
      TlvElement::fromVln(tag::kPrice, l.price),
      TlvElement::fromString(tag::kQuantity, Fvln(l.quantity)),
      TlvElement::fromByte(tag::kLineTaxNumber, static_cast<uint8_t>(l.tax)),
      TlvElement::fromByte(tag::kSectionNumber, static_cast<uint8_t>(l.section))};
  if (l.discount != 0)
    parts.push_back(TlvElement::fromByte(tag::kDiscountNumber, static_cast<uint8_t>(l.discount)));
  return TlvElement::fromList(tag::kReceiptLine, parts).encode();
}

SaleLine ParseLine(const std::string& text) {
  std::vector<std::string> f;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ';');) f.push_back(part);
  if (f.size() != 5 && f.size() != 6)
    throw std::invalid_argument("a line is name;price;qty;tax;section[;discount]: " + text);
  SaleLine l;
  l.name = f[0];
  l.price = Number(f[1], 0, INT64_MAX, "price");
  l.quantity = f[2];
  l.tax = Number(f[3], 0, 255, "tax");
  l.section = Number(f[4], 0, 255, "section");
  if (f.size() == 6) l.discount = Number(f[5], 0, 255, "discount");
  return l;
}

std::vector<SaleLine> LinesFromJson(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("cannot read " + path);
  const json doc = json::parse(in);
  std::vector<SaleLine> lines;
  for (const json& j : doc) {
    SaleLine l;
    l.name = j.at("name").get<std::string>();
    l.price = j.at("price").get<int64_t>();
    const json& q = j.at("quantity");
    l.quantity = q.is_string() ? q.get<std::string>() : std::to_string(q.get<int64_t>());
    l.tax = j.at("tax").get<int64_t>();
    l.section = j.at("section").get<int64_t>();
    l.discount = j.value("discount", int64_t{0});
    lines.push_back(l);
  }
  return lines;
}

std::string Time(uint32_t t) {
  const time_t when = t;
  struct tm tm = {};
  localtime_r(&when, &tm);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// Fields of the replies simple enough to decode; empty when the data is not
// of the expected size.
json Decode(uint8_t command, const std::string& d) {
  json f = json::object();
  auto u16 = [&](size_t at) { return util::GetFixed16(d, at); };
  auto u32 = [&](size_t at) { return util::GetFixed32(d, at); };
  auto i64 = [&](size_t at) { return static_cast<int64_t>(util::GetFixed64(d, at)); };
  switch (command) {
    case cmd::kVersion:
      if (d.size() == 3)
        f["version"] = std::to_string(uint8_t(d[0])) + "." + std::to_string(uint8_t(d[1])) + "." +
                       std::to_string(uint8_t(d[2]));
      break;
    case cmd::kDeviceStatus:
      if (d.size() == 31) {
        f["serial"] = d.substr(0, 10);
        f["flags"] = u16(10);
        f["registrations"] = uint8_t(d[12]);
        f["registration_limit"] = uint8_t(d[13]);
        f["shift"] = u16(14);
        f["last_document"] = u32(16);
        f["last_time"] = u32(20);
        f["receipts"] = u16(24);
        f["capacity"] = u32(27);
      }
      break;
    case cmd::kShiftStatus:
      if (d.size() == 29) {
        f["shift_open"] = d[0] != 0;
        f["shift"] = u16(1);
        f["receipts"] = u16(3);
        f["open_document"] = u32(5);
        f["open_time"] = u32(9);
        f["shift_last_document"] = u32(13);
        f["close_time"] = u32(17);
        f["drawer"] = i64(21);
      }
      break;
    case cmd::kReadClock:
    case cmd::kSetClock:
      if (d.size() == 4) f["time"] = u32(0);
      break;
    case cmd::kCloseRegistration: case cmd::kCloseShiftOpen: case cmd::kCloseShiftClose:
    case cmd::kCloseReceipt: case cmd::kCloseArchiveClose: case cmd::kCloseCashIn:
    case cmd::kCloseCashOut:
      if (d.size() < 12) break;
      f["number"] = u32(0);
      f["sign"] = u32(4);
      f["time"] = u32(8);
      if (d.size() >= 14) f["shift"] = u16(12);
      if (command == cmd::kCloseReceipt && d.size() >= 32) {
        f["receipt"] = u16(14);
        f["total"] = i64(16);
        f["change"] = i64(24);
      }
      if ((command == cmd::kCloseCashIn || command == cmd::kCloseCashOut) && d.size() >= 22)
        f["drawer"] = i64(14);
      break;
    default:
      break;
  }
  return f;
}

struct Options {
  uint8_t cashier = 20;
  int32_t password = 30;
  std::string name;
  bool json = false, trace = false;
};

class Session {
 public:
  Session(int fd, const Options& o, std::ostream& out, std::ostream& err)
      : client_(fd), o_(o), out_(out), err_(err) {}

  std::string Prefix() const { return U8(o_.cashier) + U32(static_cast<uint32_t>(o_.password)); }
  std::string Named() const {
    const std::string cp = util::Utf8ToCp866(o_.name);
    return U8(static_cast<uint8_t>(cp.size())) + cp.substr(0, 255);
  }

  // Sends one request and prints its reply; true when it answered 0.
  bool Call(uint8_t command, const std::string& data) {
    const uint32_t id = ++id_;
    const std::string frame = sim::HostClient::EncodeFrame(command, id, data);
    if (o_.trace) err_ << "-> " << HexSpaced(frame) << "\n";
    sim::Reply r;
    bool got = client_.Send(frame);
    // A reply to an earlier, abandoned request may still be in the line.
    while (got && (got = client_.ReadReply(&r, kReplyTimeoutMs))) {
      if (o_.trace) err_ << "<- " << HexSpaced(r.raw) << "\n";
      if (!r.has_id || r.id == id) break;
    }
    if (!got) {
      ok_ = false;
      if (o_.json)
        out_ << json{{"command", command}, {"error", "no reply"}}.dump() << "\n";
      else
        out_ << "command " << int(command) << ": no reply\n";
      return false;
    }
    Print(command, r);
    if (r.code != 0) ok_ = false;
    return r.code == 0;
  }

  // Runs `steps` of an open document; after a failure past the opening, the
  // document is cancelled so that the register is free for the next one.
  bool Document(uint8_t open, const std::string& open_data,
                const std::vector<std::pair<uint8_t, std::string>>& steps) {
    if (!Call(open, open_data)) return false;
    for (const auto& step : steps) {
      if (!Call(step.first, step.second)) {
        Call(cmd::kCancelDocument, "");
        return false;
      }
    }
    return true;
  }

  bool ok() const { return ok_; }

 private:
  void Print(uint8_t command, const sim::Reply& r) {
    const json fields = Decode(command, r.data);
    if (o_.json) {
      json j = {{"command", command}, {"code", r.code}, {"meaning", ResultMeaning(r.code)},
                {"data", Hex(r.data)}};
      if (command == cmd::kCloseReceipt && r.code == rc::kCloseData && r.data.size() == 2)
        j["missing_tag"] = util::GetFixed16(r.data, 0);
      for (auto it = fields.begin(); it != fields.end(); ++it) j[it.key()] = it.value();
      out_ << j.dump() << "\n";
      return;
    }
    out_ << "command " << int(command) << ": " << r.code << " " << ResultMeaning(r.code) << "\n";
    if (fields.empty()) {
      if (!r.data.empty()) out_ << "  data: " << HexSpaced(r.data) << "\n";
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
      if (is_time && it->get<uint32_t>() != 0) out_ << " (" << Time(it->get<uint32_t>()) << ")";
      out_ << "\n";
    }
  }

  sim::HostClient client_;
  Options o_;
  std::ostream& out_;
  std::ostream& err_;
  uint32_t id_ = static_cast<uint32_t>(getpid()) << 8;
  bool ok_ = true;
};

const std::map<std::string, uint8_t> kReceiptTypes = {
    {"sell", 0}, {"buy", 1}, {"return-sale", 2}, {"return-buy", 3}};

const char* kUsage =
    "subcommands: status, shift-status, version, model, key, reg-field TAG, set-serial DIGITS,\n"
    "  register --inn --fn [--text1 --text2 --text3 --tax I;TYPE;RATE;NAME], open-shift,\n"
    "  close-shift, sell|buy|return-sale|return-buy --line N;PRICE;QTY;TAX;SECTION[;DISC]|\n"
    "  --lines-json FILE [--cash K --cashless K], cash-in AMOUNT, cash-out AMOUNT, cancel,\n"
    "  doc-state, report KIND [ARGS], copy N, tape [N], table-read KIND N,\n"
    "  table-write KIND HEX, clock [--set T], printer-setting N [VALUE], print TEXT, raw HEX, cut";

std::string Arg(const std::vector<std::string>& a, size_t i, const char* what) {
  if (i >= a.size()) throw std::invalid_argument(std::string("missing ") + what);
  return a[i];
}

// Runs the subcommand; false when any request was refused or unanswered.
bool Dispatch(Session& s, const std::string& sub, const std::vector<std::string>& a,
              const cxxopts::ParseResult& p) {
  const std::string P = s.Prefix();
  if (sub == "status") return s.Call(cmd::kDeviceStatus, "");
  if (sub == "shift-status") return s.Call(cmd::kShiftStatus, "");
  if (sub == "version") return s.Call(cmd::kVersion, "");
  if (sub == "model") return s.Call(cmd::kModelData, "");
  if (sub == "key") return s.Call(cmd::kDeviceKey, "");
  if (sub == "cancel") return s.Call(cmd::kCancelDocument, "");
  if (sub == "doc-state") return s.Call(cmd::kDocumentState, "");
  if (sub == "cut") return s.Call(cmd::kFeedAndCut, "");
  if (sub == "reg-field")
    return s.Call(cmd::kRegistrationField, U16(Number(Arg(a, 0, "tag"), 0, 65535, "tag")));
  if (sub == "set-serial") {
    const std::string digits = Arg(a, 0, "serial number");
    if (digits.size() != 10 || digits.find_first_not_of("0123456789") != std::string::npos)
      throw std::invalid_argument("a serial number is 10 digits");
    return s.Call(cmd::kSetSerialNumber, P + digits);
  }
  if (sub == "register") {
    std::string inn = p["inn"].as<std::string>(), fn = p["fn"].as<std::string>();
    if (inn.empty() || inn.size() > 12 || fn.empty() || fn.size() > 16)
      throw std::invalid_argument("register needs --inn (up to 12) and --fn (up to 16)");
    inn.resize(12, '\0');
    fn.resize(16, '\0');
    std::vector<std::pair<uint8_t, std::string>> steps;
    const std::pair<const char*, uint16_t> texts[] = {
        {"text1", tag::kFirstRegText}, {"text2", tag::kSecondRegText}, {"text3", tag::kThirdRegText}};
    for (const auto& t : texts)
      if (p.count(t.first))
        steps.emplace_back(cmd::kAddDocumentData,
                           TlvElement::fromString(t.second, util::Utf8ToCp866(p[t.first].as<std::string>())).encode());
    if (p.count("tax")) {
      for (const std::string& t : p["tax"].as<std::vector<std::string>>()) {
        std::vector<std::string> f;
        std::stringstream in(t);
        for (std::string part; std::getline(in, part, ';');) f.push_back(part);
        if (f.size() != 4) throw std::invalid_argument("a tax rate is INDEX;TYPE;RATE;NAME: " + t);
        const int index = static_cast<int>(Number(f[0], 0, 4, "tax index"));
        steps.emplace_back(
            cmd::kAddDocumentData,
            TlvElement::fromList(tag::kTaxRateFirst + index,
                                 {TlvElement::fromByte(tag::kTaxRateType, Number(f[1], 0, 255, "tax type")),
                                  TlvElement::fromU16(tag::kTaxRateWord, Number(f[2], 0, 65535, "rate")),
                                  TlvElement::fromString(tag::kTaxName, util::Utf8ToCp866(f[3]))})
                .encode());
      }
    }
    steps.emplace_back(cmd::kCloseRegistration, inn + fn);
    return s.Document(cmd::kOpenRegistration, P + s.Named(), steps);
  }
  if (sub == "open-shift")
    return s.Document(cmd::kOpenShiftOpen, P + s.Named(), {{cmd::kCloseShiftOpen, ""}});
  if (sub == "close-shift")
    return s.Document(cmd::kOpenShiftClose, P + s.Named(), {{cmd::kCloseShiftClose, ""}});
  if (kReceiptTypes.count(sub)) {
    std::vector<SaleLine> lines;
    if (p.count("line"))
      for (const std::string& l : p["line"].as<std::vector<std::string>>()) lines.push_back(ParseLine(l));
    if (p.count("lines-json")) {
      const auto more = LinesFromJson(p["lines-json"].as<std::string>());
      lines.insert(lines.end(), more.begin(), more.end());
    }
    if (lines.empty()) throw std::invalid_argument(sub + " needs --line or --lines-json");
    std::vector<std::pair<uint8_t, std::string>> steps;
    for (const SaleLine& l : lines) steps.emplace_back(cmd::kAddDocumentData, LineElement(l));
    steps.emplace_back(cmd::kCloseReceipt,
                       U64(p["cash"].as<int64_t>()) + U64(p["cashless"].as<int64_t>()));
    return s.Document(cmd::kOpenReceipt, P + U8(kReceiptTypes.at(sub)) + s.Named(), steps);
  }
  if (sub == "cash-in" || sub == "cash-out") {
    const bool in = sub == "cash-in";
    const int64_t amount = Number(Arg(a, 0, "amount"), 0, INT64_MAX, "amount");
    return s.Document(in ? cmd::kOpenCashIn : cmd::kOpenCashOut, P + s.Named(),
                      {{in ? cmd::kCloseCashIn : cmd::kCloseCashOut, U64(amount)}});
  }
  if (sub == "report") {
    const int64_t kind = Number(Arg(a, 0, "report kind"), 1, 6, "report kind");
    std::string data = P + U8(static_cast<uint8_t>(kind));
    if (kind == 5)
      data += U32(Number(Arg(a, 1, "from time"), 0, UINT32_MAX, "time")) +
              U32(Number(Arg(a, 2, "to time"), 0, UINT32_MAX, "time"));
    if (kind == 6)
      data += U16(Number(Arg(a, 1, "first shift"), 0, 65535, "shift")) +
              U16(Number(Arg(a, 2, "last shift"), 0, 65535, "shift"));
    return s.Call(cmd::kPrintReport, data);
  }
  if (sub == "copy")
    return s.Call(cmd::kPrintCopy, P + U32(Number(Arg(a, 0, "document number"), 0, UINT32_MAX, "number")));
  if (sub == "tape")
    return s.Call(cmd::kControlTape,
                  P + (a.empty() ? "" : U32(Number(a[0], 0, UINT32_MAX, "document number"))));
  if (sub == "table-read")
    return s.Call(cmd::kReadTableRecord, P + U8(Number(Arg(a, 0, "table"), 1, 3, "table")) +
                                             U8(Number(Arg(a, 1, "record number"), 0, 255, "record")));
  if (sub == "table-write")
    return s.Call(cmd::kWriteTableRecord,
                  P + U8(Number(Arg(a, 0, "table"), 1, 3, "table")) + FromHex(Arg(a, 1, "record image")));
  if (sub == "clock") {
    if (!p.count("set")) return s.Call(cmd::kReadClock, "");
    return s.Call(cmd::kSetClock, P + U32(Number(p["set"].as<std::string>(), 0, UINT32_MAX, "time")));
  }
  if (sub == "printer-setting") {
    const uint8_t n = Number(Arg(a, 0, "setting"), 0, 255, "setting");
    if (a.size() < 2) return s.Call(cmd::kReadPrinterSetting, P + U8(n));
    return s.Call(cmd::kWritePrinterSetting, P + U8(n) + U8(Number(a[1], 0, 255, "value")));
  }
  if (sub == "print")
    return s.Call(cmd::kPrintText, std::string(4, '\0') + util::Utf8ToCp866(Arg(a, 0, "text")));
  if (sub == "raw") return s.Call(cmd::kPrintRaw, FromHex(Arg(a, 0, "bytes")));
  throw std::invalid_argument("unknown subcommand: " + sub);
}

bool OpenPort(const std::string& path, int* fd, std::ostream& err) {
  *fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (*fd < 0) {
    err << "fr-host: cannot open " << path << "\n";
    return false;
  }
  struct termios t;
  if (tcgetattr(*fd, &t) == 0) {
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(*fd, TCSANOW, &t);
  }
  return true;
}

// fd < 0: open the port named on the command line.
int Run(int fd, int argc, char** argv, std::ostream& out, std::ostream& err) {
  cxxopts::Options parser("fr-host", "Talks to the register over its host line.");
  const char* env_port = getenv("FR_HOST_PORT");
  parser.add_options()
      ("port", "serial line", cxxopts::value<std::string>()->default_value(env_port ? env_port : "./var/run/host"))
      ("cashier", "cashier number", cxxopts::value<int>()->default_value("20"))
      ("password", "cashier password", cxxopts::value<int>()->default_value("30"))
      ("name", "cashier name on documents", cxxopts::value<std::string>()->default_value("Кассир"))
      ("json", "one JSON object per request")
      ("trace", "frames in hex on stderr")
      ("line", "receipt line", cxxopts::value<std::vector<std::string>>())
      ("lines-json", "receipt lines from a JSON file", cxxopts::value<std::string>())
      ("cash", "paid in cash, kopecks", cxxopts::value<int64_t>()->default_value("0"))
      ("cashless", "paid electronically, kopecks", cxxopts::value<int64_t>()->default_value("0"))
      ("inn", "taxpayer number", cxxopts::value<std::string>()->default_value(""))
      ("fn", "fiscal drive number", cxxopts::value<std::string>()->default_value(""))
      ("text1", "registration text 1", cxxopts::value<std::string>())
      ("text2", "registration text 2", cxxopts::value<std::string>())
      ("text3", "registration text 3", cxxopts::value<std::string>())
      ("tax", "tax rate INDEX;TYPE;RATE;NAME", cxxopts::value<std::vector<std::string>>())
      ("set", "clock: seconds since 1970", cxxopts::value<std::string>())
      ("h,help", "this help")
      ("subcommand", "", cxxopts::value<std::string>())
      ("args", "", cxxopts::value<std::vector<std::string>>());
  parser.parse_positional({"subcommand", "args"});
  parser.positional_help("SUBCOMMAND [ARGS]");
  try {
    const cxxopts::ParseResult p = parser.parse(argc, argv);
    if (p.count("help") || !p.count("subcommand")) {
      (p.count("help") ? out : err) << parser.help() << kUsage << "\n";
      return p.count("help") ? 0 : 1;
    }
    Options o;
    o.cashier = static_cast<uint8_t>(Number(std::to_string(p["cashier"].as<int>()), 1, 20, "cashier"));
    o.password = p["password"].as<int>();
    o.name = p["name"].as<std::string>();
    o.json = p.count("json") > 0;
    o.trace = p.count("trace") > 0;
    const std::vector<std::string> args =
        p.count("args") ? p["args"].as<std::vector<std::string>>() : std::vector<std::string>();
    bool owned = false;
    if (fd < 0) {
      if (!OpenPort(p["port"].as<std::string>(), &fd, err)) return 1;
      owned = true;
    }
    Session s(fd, o, out, err);
    bool ok = false;
    try {
      ok = Dispatch(s, p["subcommand"].as<std::string>(), args, p) && s.ok();
    } catch (...) {
      if (owned) close(fd);
      throw;
    }
    if (owned) close(fd);
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    err << "fr-host: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace

std::string ResultMeaning(int code) {
  static const std::map<int, const char*> kMeanings = {
      {0, "success"}, {3, "no document object"}, {4, "document not serialisable"},
      {5, "archive not usable"}, {6, "archive capacity low"}, {7, "document too large"},
      {8, "the command produced no result"}, {9, "CRC mismatch"}, {10, "unknown command"},
      {11, "bad frame length or body not in one piece"}, {12, "no frame start could be read"},
      {13, "no factory serial number"}, {15, "no SD card"}, {16, "right missing"},
      {17, "not found"}, {18, "cashier refused"}, {19, "cashier prefix or record number missing"},
      {20, "out of range"}, {21, "not saved"}, {22, "bad data"},
      {23, "clock not later than the last document"}, {24, "serial number already set"},
      {25, "identity failure or no key"}, {26, "shift open"}, {27, "no shift open"},
      {28, "a document is open"}, {29, "no document open"}, {30, "wrong document type"},
      {31, "archive closed"}, {32, "archive of another device"}, {33, "registration limit"},
      {34, "element not taken"}, {35, "bad registration data"}, {36, "check value failed"},
      {37, "item missing at close"}, {38, "not registered"}, {39, "cashier text short"},
      {40, "not enough cash"}, {41, "cash in too large"}, {42, "bad receipt type"},
      {43, "section"}, {44, "discount"}, {45, "tax rate"}, {46, "bad line"}, {47, "underpaid"},
      {48, "overpaid"}, {50, "3000 receipts in the shift"}, {51, "shift older than 24 hours"},
      {52, "cash in the drawer"}, {53, "printer does not answer"}, {54, "paper out"}};
  const auto it = kMeanings.find(code);
  return it == kMeanings.end() ? "unknown result code" : it->second;
}

int RunHostTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
  return Run(-1, argc, argv, out, err);
}

int RunHostToolOnFd(int fd, int argc, char** argv, std::ostream& out, std::ostream& err) {
  return Run(fd, argc, argv, out, err);
}

}  // namespace host
