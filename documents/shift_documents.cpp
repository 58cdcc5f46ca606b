#include "documents/shift_documents.h"

#include "app/codes.h"
#include "app/fr_status.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace shiftdoc {

PrintItem shiftLine(uint16_t shift_number) {
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  return PrintItem{PrintBlock::fromText(style, util::Utf8ToCp866("\nСМЕНА\t") +
                                                   std::to_string(shift_number)),
                   false};
}

int missingItem(uint16_t tag, uint16_t* missing_tag) {
  if (missing_tag != nullptr) *missing_tag = tag;
  return rc::kCloseData;
}

}  // namespace shiftdoc

namespace {

// A close reply, then the shift number.
std::string WithShift(std::string reply, uint16_t shift) {
  util::PutFixed16(&reply, shift);
  return reply;
}

std::string ShiftElement(uint16_t shift) {
  return TlvElement::fromU16(tag::kShiftNumber, shift).encode();
}

}  // namespace

// ---- CycleOpenDocument ----

CycleOpenDocument::CycleOpenDocument(platform::Env* env, const ModelData& model,
                                     const RegData& reg, const Cashier& cashier)
    : BaseWorkDocument(env, doc::kShiftOpen, model, reg, cashier) {}

std::shared_ptr<BaseDocument> CycleOpenDocument::clone() const {
  auto copy = std::make_shared<CycleOpenDocument>(env(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

std::string CycleOpenDocument::title() const { return doc::typeTitle(type()); }

PrintData CycleOpenDocument::printHeader() const {
  PrintData out = BaseWorkDocument::printHeader();
  out.push_back(shiftdoc::shiftLine(shiftNumber()));
  return out;
}

int CycleOpenDocument::setCashierName(const std::string& data) {
  const int result = BaseWorkDocument::setCashierName(data);
  if (result != rc::kOk) return result;
  // The header printed at open already names the shift being opened.
  setShiftNumber(static_cast<uint16_t>(FrStatus::shiftNumber() + 1));
  return rc::kOk;
}

int CycleOpenDocument::close(uint32_t date_time, const std::string& /*key*/,
                             const std::string& /*data*/, uint16_t* missing_tag) {
  setDateTime(date_time);
  setShiftNumber(static_cast<uint16_t>(FrStatus::shiftNumber() + 1));
  if (cashier().name.empty()) return shiftdoc::missingItem(tag::kCashierName, missing_tag);
  return rc::kOk;
}

std::string CycleOpenDocument::closeReply() const {
  return WithShift(BaseWorkDocument::closeReply(), shiftNumber());
}

std::string CycleOpenDocument::signedData() const {
  std::string s;
  util::PutFixed32(&s, regData().checkValue());
  util::PutFixed16(&s, shiftNumber());
  util::PutFixed32(&s, documentNumber());
  util::PutFixed32(&s, dateTime());
  return s;
}

void CycleOpenDocument::encodeOwn(std::string* out) const { *out += ShiftElement(shiftNumber()); }

// ---- CloseCycleDoc ----

CloseCycleDoc::CloseCycleDoc(platform::Env* env, const ModelData& model, const RegData& reg,
                             const Cashier& cashier)
    : BaseWorkDocument(env, doc::kShiftClose, model, reg, cashier) {}

std::shared_ptr<BaseDocument> CloseCycleDoc::clone() const {
  auto copy = std::make_shared<CloseCycleDoc>(env(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

std::string CloseCycleDoc::title() const { return doc::typeTitle(type()); }

PrintData CloseCycleDoc::printHeader() const {
  PrintData out = BaseWorkDocument::printHeader();
  out.push_back(shiftdoc::shiftLine(shiftNumber()));
  return out;
}

int CloseCycleDoc::close(uint32_t date_time, const std::string& /*key*/,
                         const std::string& /*data*/, uint16_t* missing_tag) {
  setDateTime(date_time);
  setShiftNumber(FrStatus::shiftNumber());
  if (cashier().name.empty()) return shiftdoc::missingItem(tag::kCashierName, missing_tag);
  return rc::kOk;
}

std::string CloseCycleDoc::closeReply() const {
  return WithShift(BaseWorkDocument::closeReply(), shiftNumber());
}

void CloseCycleDoc::setStoredTag(const TlvElement& e) {
  if (e.tag() != tag::kShiftCounters) {
    BaseWorkDocument::setStoredTag(e);
    return;
  }
  std::unique_ptr<ShiftCounters> c(new ShiftCounters());
  tlvToCounters(env(), e, c.get());
  counters_ = std::move(c);
}

std::string CloseCycleDoc::signedData() const {
  std::string s;
  util::PutFixed32(&s, regData().checkValue());
  util::PutFixed32(&s, documentNumber());
  util::PutFixed16(&s, shiftNumber());
  util::PutFixed32(&s, dateTime());
  return s;
}

std::string CloseCycleDoc::reportText() const {
  return shiftTotalsText(true, counters_.get(), regData());
}

void CloseCycleDoc::encodeOwn(std::string* out) const {
  *out += ShiftElement(shiftNumber());
  TlvElement e;
  if (countersToTlv(counters_.get(), true, &e)) *out += e.encode();
}

// ---- CashCtrlDocument ----

CashCtrlDocument::CashCtrlDocument(platform::Env* env, uint8_t type, const ModelData& model,
                                   const RegData& reg, const Cashier& cashier)
    : BaseWorkDocument(env, type == doc::kCashIn ? doc::kCashIn : doc::kCashOut, model, reg,
                       cashier) {}

bool CashCtrlDocument::isComplete() const {
  return BaseWorkDocument::isComplete() && amount_.mantissa() > 0;
}

std::shared_ptr<BaseDocument> CashCtrlDocument::clone() const {
  auto copy = std::make_shared<CashCtrlDocument>(env(), type(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

std::string CashCtrlDocument::title() const { return doc::typeTitle(type()); }

PrintData CashCtrlDocument::printHeader() const {
  PrintData out = BaseWorkDocument::printHeader();
  out.push_back(shiftdoc::shiftLine(shiftNumber()));
  return out;
}

PrintData CashCtrlDocument::printFooter(bool cut) const {
  PrintStyle style;
  style.set(PrintStyle::kDouble | PrintStyle::kMarker);
  style.setFont(0);
  PrintData out{PrintItem{
      PrintBlock::fromText(style, util::Utf8ToCp866("НАЛ.\t") + amount_.toString()), false}};
  const PrintData base = BaseWorkDocument::printFooter(cut);
  out.insert(out.end(), base.begin(), base.end());
  return out;
}

BaseDocument* CashCtrlDocument::copyTo(BaseDocument* other) const {
  if (BaseWorkDocument::copyTo(other) == nullptr) return nullptr;
  // Same type, so the same class: every object of types 5 and 6 is one.
  if (auto* cash = dynamic_cast<CashCtrlDocument*>(other)) cash->amount_ = amount_;
  return other;
}

int CashCtrlDocument::close(uint32_t date_time, const std::string& /*key*/,
                            const std::string& data, uint16_t* missing_tag) {
  setDateTime(date_time);
  if (cashier().name.empty()) return shiftdoc::missingItem(tag::kCashierName, missing_tag);
  if (data.size() != shiftdoc::kCashCloseDataSize) {
    return shiftdoc::missingItem(tag::kCashAmount, missing_tag);
  }
  const int64_t amount = static_cast<int64_t>(util::GetFixed64(data, 0));
  if (amount <= 0) return rc::kNoCash;
  if (!isCashIn() && amount > FrStatus::cashInDrawer()) return rc::kNoCash;
  if (isCashIn() && amount > shiftdoc::kMaxCashIn) return rc::kCashInTooLarge;
  amount_ = Decimal(Decimal::kMoneyScale, amount);
  return rc::kOk;
}

std::string CashCtrlDocument::closeReply() const {
  std::string out = WithShift(BaseWorkDocument::closeReply(), shiftNumber());
  util::PutFixed64(&out, static_cast<uint64_t>(FrStatus::cashInDrawer()));
  return out;
}

void CashCtrlDocument::setStoredTag(const TlvElement& e) {
  if (e.tag() != tag::kCashAmount) {
    BaseWorkDocument::setStoredTag(e);
    return;
  }
  bool ok = false;
  const int64_t v = e.asVln(&ok);
  if (ok) {
    amount_ = Decimal(Decimal::kMoneyScale, v);
  } else {
    reportUnknownTag(e);
  }
}

std::string CashCtrlDocument::signedData() const {
  std::string s;
  util::PutFixed32(&s, regData().checkValue());
  util::PutFixed16(&s, shiftNumber());
  util::PutFixed32(&s, documentNumber());
  util::PutFixed32(&s, dateTime());
  return s + amount_.toString();
}

void CashCtrlDocument::encodeOwn(std::string* out) const {
  *out += TlvElement::fromVln(tag::kCashAmount, amount_.mantissa()).encode();
  *out += ShiftElement(shiftNumber());
}
