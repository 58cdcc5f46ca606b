#include "documents/registration_documents.h"

#include "app/codes.h"
#include "app/fr_status.h"
#include "documents/shift_documents.h"
#include "printer/render.h"
#include "storage/eeprom_format.h"
#include "storage/signature.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace regdoc {

bool isNumberField(const std::string& field) {
  constexpr size_t kDigitsRequired = 10;
  if (field.size() < kDigitsRequired) return false;
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c >= '0' && c <= '9') continue;
    if (c == '\0' && i >= kDigitsRequired) continue;
    return false;
  }
  return true;
}

}  // namespace regdoc

namespace {

// The registration texts in their RegData order.
int TextIndex(uint16_t t) {
  switch (t) {
    case tag::kFirstRegText:
      return 0;
    case tag::kSecondRegText:
      return 1;
    case tag::kThirdRegText:
      return 2;
    default:
      return -1;
  }
}

bool IsTaxRateTag(uint16_t t) {
  return t >= tag::kTaxRateFirst && t < tag::kTaxRateFirst + TaxRate::kCount;
}

// Texts are exported in their read form: a full field comes with one extra
// NUL, which must go again for the text to fit back.
std::string WithoutTrailingNuls(const std::string& s) {
  const size_t end = s.find_last_not_of('\0');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

}  // namespace

// ---- FiscalizationDocument ----

FiscalizationDocument::FiscalizationDocument(platform::Env* env, const ModelData& model,
                                             const RegData& reg, const Cashier& cashier)
    : BaseWorkDocument(env, doc::kFiscalisation, model, reg, cashier) {}

std::shared_ptr<BaseDocument> FiscalizationDocument::clone() const {
  auto copy = std::make_shared<FiscalizationDocument>(env(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

bool FiscalizationDocument::sign(const std::string& key, const std::string& serial) {
  if (!signature::verifyModelData(modelData(), key)) return false;
  RegData reg = regData();
  // The signed data carries the check value, so it must be in place first.
  if (!reg.isValid()) {
    reg.setCheckValue(reg.computeCheckValue(serial, key));
    setRegData(reg);
  }
  uint32_t computed = 0;
  if (!signature::fiscalisationSign(modelData(), &reg, key, serial, signedData(), &computed)) {
    return false;
  }
  setFiscalSign(computed);
  return true;
}

std::string FiscalizationDocument::title() const { return doc::typeTitle(type()); }

PrintData FiscalizationDocument::printHeader() const { return PrintData(); }

int FiscalizationDocument::addData(const TlvElement& e) {
  const int text = TextIndex(e.tag());
  if (text >= 0) {
    if (e.value().empty() || e.value().size() > regdoc::kMaxTextSize) {
      return rc::kBadRegistrationData;
    }
    RegData reg = regData();
    reg.setText(text, e.value());
    setRegData(reg);
    return rc::kOk;
  }
  if (IsTaxRateTag(e.tag())) {
    TaxRate rate;
    size_t index = 0;
    if (!TaxRate::fromTlv(e, &rate, &index, nullptr)) return rc::kBadRegistrationData;
    RegData reg = regData();
    reg.setTaxRateImage(index, rate.image());
    setRegData(reg);
    return rc::kOk;
  }
  return BaseWorkDocument::addData(e);
}

int FiscalizationDocument::close(uint32_t date_time, const std::string& key,
                                 const std::string& data, uint16_t* missing_tag) {
  setDateTime(date_time);
  RegData reg = regData();
  if (data.size() == regdoc::kCloseDataSize) {
    reg.setInn(data.substr(0, identity::kInnSize));
    reg.setFnNumber(data.substr(identity::kInnSize, identity::kFnSize));
    setRegData(reg);
  }
  const std::string image = reg.image();
  uint16_t missing = 0;
  if (cashier().name.empty()) {
    missing = tag::kCashierName;
  } else if (!regdoc::isNumberField(image.substr(identity::kInnOffset, identity::kInnSize))) {
    missing = tag::kInn;
  } else if (!regdoc::isNumberField(image.substr(identity::kFnOffset, identity::kFnSize))) {
    missing = tag::kFnNumber;
  } else if (reg.text(0).empty()) {
    missing = tag::kFirstRegText;
  } else if (reg.text(1).empty()) {
    missing = tag::kSecondRegText;
  } else if (reg.text(2).empty()) {
    missing = tag::kThirdRegText;
  } else if (!hasUsableTaxes(reg)) {
    missing = tag::kTaxRateFirst;
  }
  if (missing != 0) return shiftdoc::missingItem(missing, missing_tag);

  // Committed only with its check value, so a refused close keeps the old time.
  const RegData before = regData();
  reg.setRegistrationTime(static_cast<int32_t>(date_time));
  setRegData(reg);
  if (!recomputeCheckValue(key)) {
    setRegData(before);
    return rc::kCheckValueFailed;
  }
  return rc::kOk;
}

bool FiscalizationDocument::readRegField(const TlvElement& e) {
  RegData reg = regData();
  bool ok = false;
  const std::string text = WithoutTrailingNuls(e.value());
  const int index = TextIndex(e.tag());
  if (index >= 0) {
    ok = text.size() <= identity::kTextSize;
    reg.setText(index, text);
  } else if (e.tag() == tag::kInn) {
    ok = text.size() <= identity::kInnSize;
    reg.setInn(text);
  } else if (e.tag() == tag::kFnNumber) {
    ok = text.size() <= identity::kFnSize;
    reg.setFnNumber(text);
  } else if (e.tag() == tag::kArchiveNumber) {
    const uint32_t v = e.asU32(&ok);
    if (ok) reg.setArchiveNumber(v);
  } else if (e.tag() == tag::kDateTime) {
    // Some stores wrote the time as 8 bytes; the low 32 bits are the time.
    const uint32_t t = static_cast<uint32_t>(e.asU32OrU64(&ok));
    if (ok) {
      setDateTime(t);
      reg.setRegistrationTime(static_cast<int32_t>(t));
    }
  } else if (IsTaxRateTag(e.tag())) {
    TaxRate rate;
    size_t i = 0;
    ok = TaxRate::fromTlv(e, &rate, &i, nullptr);
    if (ok) reg.setTaxRateImage(i, rate.image());
  }
  if (ok) setRegData(reg);
  return ok;
}

void FiscalizationDocument::setStoredTag(const TlvElement& e) {
  const uint16_t t = e.tag();
  if (t == tag::kRegistrationCounters) {
    std::unique_ptr<ShiftCounters> c(new ShiftCounters());
    tlvToCounters(env(), e, c.get());
    counters_ = std::move(c);
  } else if (TextIndex(t) >= 0 || IsTaxRateTag(t) || t == tag::kInn || t == tag::kFnNumber ||
             t == tag::kArchiveNumber || t == tag::kDateTime) {
    if (!readRegField(e)) reportUnknownTag(e);
  } else {
    BaseWorkDocument::setStoredTag(e);
  }
}

std::string FiscalizationDocument::signedData() const {
  std::string s;
  util::PutFixed32(&s, regData().checkValue());
  util::PutFixed32(&s, shiftNumber());
  util::PutFixed32(&s, dateTime());
  return s;
}

std::string FiscalizationDocument::headerText() const {
  return printer::render(BaseDocument::printHeader());
}

std::string FiscalizationDocument::reportText() const {
  return shiftTotalsText(false, counters_.get(), regData());
}

bool FiscalizationDocument::recomputeCheckValue(const std::string& key) {
  if (key.size() != eeprom::kKeySize || !modelData().isValid()) return false;
  RegData reg = regData();
  const uint32_t value = reg.computeCheckValue(modelData().serialNumber(), key);
  if (value == 0) return false;
  reg.setCheckValue(value);
  setRegData(reg);
  return true;
}

void FiscalizationDocument::encodeOwn(std::string* out) const {
  for (const TlvElement& e : regData().asTlvList()) *out += e.encode();
  TlvElement e;
  if (countersToTlv(counters_.get(), false, &e)) *out += e.encode();
}

// ---- ArchiveCloseDoc ----

ArchiveCloseDoc::ArchiveCloseDoc(platform::Env* env, const ModelData& model, const RegData& reg,
                                 const Cashier& cashier)
    : BaseWorkDocument(env, doc::kArchiveClose, model, reg, cashier) {}

std::shared_ptr<BaseDocument> ArchiveCloseDoc::clone() const {
  auto copy = std::make_shared<ArchiveCloseDoc>(env(), ModelData(), RegData(), Cashier());
  copyTo(copy.get());
  return copy;
}

std::string ArchiveCloseDoc::title() const { return doc::typeTitle(type()); }

int ArchiveCloseDoc::close(uint32_t date_time, const std::string& /*key*/,
                           const std::string& /*data*/, uint16_t* missing_tag) {
  setDateTime(date_time);
  setShiftNumber(FrStatus::shiftNumber());
  if (cashier().name.empty()) return shiftdoc::missingItem(tag::kCashierName, missing_tag);
  return rc::kOk;
}

void ArchiveCloseDoc::setStoredTag(const TlvElement& e) {
  if (e.tag() == tag::kRegistrationCounters) {
    std::unique_ptr<ShiftCounters> c(new ShiftCounters());
    tlvToCounters(env(), e, c.get());
    counters_ = std::move(c);
  } else if (e.tag() == tag::kGrossCounters) {
    std::unique_ptr<GrossCounters> g(new GrossCounters());
    tlvToCounters(env(), e, g.get());
    gross_ = std::move(g);
  } else {
    BaseWorkDocument::setStoredTag(e);
  }
}

std::string ArchiveCloseDoc::signedData() const {
  std::string s;
  util::PutFixed32(&s, regData().checkValue());
  util::PutFixed32(&s, documentNumber());
  util::PutFixed32(&s, dateTime());
  return s;
}

std::string ArchiveCloseDoc::reportText() const {
  return shiftTotalsText(false, counters_.get(), regData()) + grossTotalsText(gross_.get());
}

void ArchiveCloseDoc::encodeOwn(std::string* out) const {
  *out += TlvElement::fromU16(tag::kShiftNumber, shiftNumber()).encode();
  TlvElement e;
  if (countersToTlv(counters_.get(), false, &e)) *out += e.encode();
  if (countersToTlv(gross_.get(), &e)) *out += e.encode();
}
