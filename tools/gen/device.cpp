#include "tools/gen/device.h"

#include "app/codes.h"
#include "app/fr_status.h"
#include "documents/tlv_element.h"
#include "documents/tlv_tags.h"
#include "storage/tables.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace gen {

namespace host {

std::string Prefix(uint8_t cashier, int32_t password) {
  std::string data(1, static_cast<char>(cashier));
  util::PutFixed32(&data, static_cast<uint32_t>(password));
  return data;
}

std::string Name(const std::string& cp866) { return std::string(1, static_cast<char>(cp866.size())) + cp866; }

std::string Amount(int64_t kopecks) {
  std::string data;
  util::PutFixed64(&data, static_cast<uint64_t>(kopecks));
  return data;
}

std::string Payment(int64_t cash, int64_t cashless) { return Amount(cash) + Amount(cashless); }

std::string LineElement(const Line& line) {
  uint32_t scale = 1;
  for (uint8_t i = 0; i < line.places; ++i) scale *= 10;
  std::vector<TlvElement> inner = {
      TlvElement::fromString(tag::kLineName, line.name), TlvElement::fromVln(tag::kPrice, line.price),
      TlvElement::fromFvln(tag::kQuantity, Decimal(scale, line.quantity)),
      TlvElement::fromByte(tag::kLineTaxNumber, line.tax), TlvElement::fromByte(tag::kSectionNumber, line.section)};
  if (line.discount != 0) inner.push_back(TlvElement::fromByte(tag::kDiscountNumber, line.discount));
  return TlvElement::fromList(tag::kReceiptLine, inner).encode();
}

}  // namespace host

namespace {

std::string Cp(const char* utf8) { return util::Utf8ToCp866(utf8); }

// The service cashier keeps the factory password; the clerks have 1111 and 2222.
int32_t PasswordOf(uint8_t cashier) {
  return cashier == host::kServiceCashier ? host::kServicePassword : 1111 * cashier;
}

TlvElement TaxRateElement(int index, uint8_t type, uint16_t rate, const char* name) {
  return TlvElement::fromList(
      static_cast<uint16_t>(tag::kTaxRateFirst + index),
      {TlvElement::fromByte(tag::kTaxRateType, type), TlvElement::fromU16(tag::kTaxRateWord, rate),
       TlvElement::fromString(tag::kTaxName, Cp(name))});
}

}  // namespace

std::string ClerkName(uint8_t n) { return Cp(n == 2 ? "Смирнова" : "Иванова"); }

std::vector<host::Line> TenLines() {
  auto item = [](const char* utf8, int64_t price, uint8_t tax, uint8_t section, uint8_t places = 0,
                 int64_t quantity = 1, uint8_t discount = 0) {
    host::Line l;
    l.name = Cp(utf8);
    l.price = price;
    l.tax = tax;
    l.section = section;
    l.places = places;
    l.quantity = quantity;
    l.discount = discount;
    return l;
  };
  return {item("Хлеб Бородинский", 5490, 2, 3),        item("Молоко 3,2% 1 л", 8990, 2, 2, 0, 2),
          item("Сыр Российский", 65000, 2, 2, 3, 350), item("Масло сливочное 180 г", 18990, 2, 2),
          item("Сахар 1 кг", 6500, 2, 1, 0, 1, 1),     item("Чай черный 100 пак.", 25990, 1, 1),
          item("Кофе молотый 250 г", 38900, 1, 1),     item("Яблоки", 12900, 2, 1, 3, 1240),
          item("Шоколад молочный", 8990, 1, 1, 0, 3),  item("Пакет", 500, 1, 1)};
}

Device::Device(std::string dir, int64_t start_time, PrinterMode mode)
    : sandbox_(dir), env_(new BoardEnv(dir, start_time)), mode_(mode) {}

Device::~Device() {
  // The core's printer line goes before the line it is open on.
  core_.reset();
  printer_.Stop();
}

bool Device::Prepare() {
  if (!sandbox_.Create() || !sandbox_.WriteBlankEeprom() || !sandbox_.InsertCard()) {
    error_ = "cannot lay out a board in " + sandbox_.dir();
    return false;
  }
  if (!printer_.Open(sandbox_.Path("/dev/ttyS0"))) {
    error_ = "cannot open a printer line";
    return false;
  }
  if (mode_ == PrinterMode::kThread && !printer_.Start()) {
    error_ = "cannot start the printer";
    return false;
  }
  return true;
}

void Device::StartUp() {
  core_.reset();
  core_.reset(new CoreWorker(env_.get()));
  core_->initialise();
  if (mode_ == PrinterMode::kPump) printer_.Pump();
}

int Device::Call(uint8_t command, const std::string& data, std::string* reply) {
  CoreTransaction t;
  t.command = command;
  t.id = next_id_++;
  t.data = data;
  const CoreApiResult r = core_->dispatch(t);
  ++calls_;
  if (mode_ == PrinterMode::kPump) printer_.Pump(0);
  if (reply != nullptr) *reply = r.data;
  return r.code;
}

bool Device::Expect(uint8_t command, const std::string& data, std::string* reply) {
  const int code = Call(command, data, reply);
  if (code != rc::kOk && error_.empty()) {
    error_ = "command " + std::to_string(command) + " answered " + std::to_string(code) + " after document " +
             std::to_string(FrStatus::lastDocumentNumber());
  }
  return code == rc::kOk;
}

bool Device::SetUp() {
  // Tables as the shop's own program would have written them.
  bool ok = tables::saveCashier(env_.get(), Cashier{1, Profile::kClerkRights, PasswordOf(1), ClerkName(1)}) &&
            tables::saveCashier(env_.get(), Cashier{2, Profile::kClerkRights, PasswordOf(2), ClerkName(2)});
  const char* const sections[] = {"Бакалея", "Молочные продукты", "Хлеб"};
  for (uint8_t n = 1; ok && n <= 3; ++n) {
    Section s;
    s.number = n;
    s.setName(Cp(sections[n - 1]));
    ok = tables::saveSection(env_.get(), s);
  }
  Discount d;
  d.number = 1;
  d.type = 0;     // a percentage
  d.value = 500;  // 5.00 %
  d.name = Cp("СКИДКА 5%");
  ok = ok && tables::saveDiscount(env_.get(), d);
  if (!ok) {
    error_ = "cannot write the tables";
    return false;
  }

  const std::string admin = host::Prefix();
  if (!Expect(cmd::kSetSerialNumber, admin + Profile::kSerial)) return false;
  if (!Expect(cmd::kOpenRegistration, admin + host::Name(Cp("Администратор")))) return false;
  const std::vector<TlvElement> elements = {TlvElement::fromString(tag::kFirstRegText, Cp("ООО \"Ромашка\"")),
                                            TlvElement::fromString(tag::kSecondRegText, Cp("ул. Лесная, 1")),
                                            TlvElement::fromString(tag::kThirdRegText, Cp("Москва")),
                                            TaxRateElement(0, 1, 2000, "НДС 20%"),
                                            TaxRateElement(1, 1, 1000, "НДС 10%")};
  for (const TlvElement& e : elements) {
    if (!Expect(cmd::kAddDocumentData, e.encode())) return false;
  }
  std::string inn = Profile::kInn;
  inn.resize(12, '\0');
  return Expect(cmd::kCloseRegistration, inn + Profile::kFn);
}

bool Device::Document(uint8_t open, const std::string& open_data, uint8_t close, const std::string& close_data,
                      uint8_t cashier) {
  return Expect(open, host::Prefix(cashier, PasswordOf(cashier)) + open_data) && Expect(close, close_data);
}

bool Device::OpenShift(uint8_t cashier) {
  return Document(cmd::kOpenShiftOpen, host::Name(ClerkName(cashier)), cmd::kCloseShiftOpen, "", cashier);
}

bool Device::CloseShift(uint8_t cashier) {
  return Document(cmd::kOpenShiftClose, host::Name(ClerkName(cashier)), cmd::kCloseShiftClose, "", cashier);
}

bool Device::CashIn(int64_t kopecks, uint8_t cashier) {
  return Document(cmd::kOpenCashIn, host::Name(ClerkName(cashier)), cmd::kCloseCashIn, host::Amount(kopecks), cashier);
}

bool Device::CashOut(int64_t kopecks, uint8_t cashier) {
  return Document(cmd::kOpenCashOut, host::Name(ClerkName(cashier)), cmd::kCloseCashOut, host::Amount(kopecks),
                  cashier);
}

bool Device::OpenReceipt(uint8_t type, uint8_t cashier) {
  return Expect(cmd::kOpenReceipt, host::Prefix(cashier, PasswordOf(cashier)) +
                                       std::string(1, static_cast<char>(type)) + host::Name(ClerkName(cashier)));
}

bool Device::AddLine(const host::Line& line) { return Expect(cmd::kAddDocumentData, host::LineElement(line)); }

int64_t Device::OpenTotal() {
  // Type, receipt type, receipt number (2), lines (2), total (8).
  constexpr size_t kTotalOffset = 6;
  std::string state;
  if (!Expect(cmd::kDocumentState, "", &state) || state.size() < kTotalOffset + 8) return -1;
  return static_cast<int64_t>(util::GetFixed64(state, kTotalOffset));
}

bool Device::CloseReceipt(int64_t cash, int64_t cashless) {
  return Expect(cmd::kCloseReceipt, host::Payment(cash, cashless));
}

bool Device::Receipt(uint8_t type, const std::vector<host::Line>& lines, int64_t cash, int64_t cashless,
                     uint8_t cashier) {
  if (!OpenReceipt(type, cashier)) return false;
  for (const host::Line& line : lines) {
    if (!AddLine(line)) return false;
  }
  return CloseReceipt(cash, cashless);
}

bool Device::Report(uint8_t kind, const std::string& args, uint8_t cashier) {
  return Expect(cmd::kPrintReport,
                host::Prefix(cashier, PasswordOf(cashier)) + std::string(1, static_cast<char>(kind)) + args);
}

}  // namespace gen
