#include "documents/base_document.h"

#include <cstdio>
#include <ctime>

#include "app/codes.h"
#include "app/fr_status.h"
#include "printer/shared_blocks.h"
#include "storage/signature.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace doc {

std::string typeTitle(uint8_t type) {
  switch (type) {
    case kFiscalisation:
      return util::Utf8ToCp866(kFiscalisationTitle);
    case kShiftClose:
      return util::Utf8ToCp866(kShiftCloseTitle);
    case kArchiveClose:
      return util::Utf8ToCp866(kArchiveCloseTitle);
    case kCashIn:
      return util::Utf8ToCp866(kCashInTitle);
    case kCashOut:
      return util::Utf8ToCp866(kCashOutTitle);
    case kShiftOpen:
      return util::Utf8ToCp866(kShiftOpenTitle);
    default:
      return std::string();
  }
}

}  // namespace doc

BaseDocument::BaseDocument(platform::Env* env, uint8_t type, const ModelData& model,
                           const RegData& reg, const Cashier& cashier)
    : env_(env), type_(type), model_data_(model), reg_data_(reg), cashier_(cashier) {}

bool BaseDocument::isComplete() const {
  return doc::isKnownType(type_) && fiscal_sign_ != 0 && cashier_.isValid();
}

PrintStyle BaseDocument::normalStyle() {
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  return style;
}

std::string BaseDocument::formatTime(uint32_t t) const {
  struct tm tm = {};
  if (env_ == nullptr || !env_->LocalTime(static_cast<int64_t>(t), &tm)) return std::string();
  char buf[64];
  const size_t n = strftime(buf, sizeof(buf), "%d.%m.%Y %H:%M:%S", &tm);
  return std::string(buf, n);  // 0 when it did not fit: contents undefined
}

void BaseDocument::reportUnknownTag(const TlvElement& e) const {
  if (env_ == nullptr) return;
  env_->WriteLine(std::string("setStoredTag") + " UNKNOWN TAG " + std::to_string(e.tag()) + " " +
                  std::to_string(e.value().size()) + " " + util::HexUpper(e.value()));
}

PrintData BaseDocument::printHeader() const {
  PrintData out = registrationHeader(reg_data_);
  PrintStyle title_style;
  title_style.set(PrintStyle::kCentre | PrintStyle::kBold);
  title_style.setFont(1);
  out.push_back(PrintItem{PrintBlock::fromText(title_style, title()), false});
  out.push_back(PrintItem{
      PrintBlock::fromText(normalStyle(), util::Utf8ToCp866("КАССИР\t") + cashier_.name), false});
  return out;
}

BaseDocument* BaseDocument::copyTo(BaseDocument* other) const {
  if (other == nullptr || other->type_ != type_) return nullptr;
  other->model_data_ = model_data_;
  other->reg_data_ = reg_data_;
  other->shift_number_ = shift_number_;
  other->date_time_ = date_time_;
  other->fiscal_sign_ = fiscal_sign_;
  other->cashier_ = cashier_;
  return other;
}

bool BaseWorkDocument::isComplete() const {
  return BaseDocument::isComplete() && modelData().isValid() && regData().isValid() &&
         document_number_ != 0 && fiscalisation_number_ != 0;
}

bool BaseWorkDocument::verifySign(const std::string& key, const std::string& serial) const {
  uint32_t computed = 0;
  return signature::documentSign(modelData(), regData(), key, serial, signedData(), &computed) &&
         computed == fiscalSign();
}

bool BaseWorkDocument::sign(const std::string& key, const std::string& serial) {
  uint32_t computed = 0;
  if (!signature::documentSign(modelData(), regData(), key, serial, signedData(), &computed)) {
    return false;
  }
  setFiscalSign(computed);
  return true;
}

PrintData BaseWorkDocument::printFooter(bool cut) const {
  PrintData out = taxpayerLines(regData(), false);
  PrintBlock lines(normalStyle());
  lines.addText(util::Utf8ToCp866("ДАТА\t") + formatTime(dateTime()));
  lines.addText(util::Utf8ToCp866("ФД ") + std::to_string(document_number_) + "\t" +
                modelData().modelName() + " " + modelData().serialNumber());
  out.push_back(PrintItem{lines, false});

  PrintStyle sign_style;
  sign_style.set(PrintStyle::kCentre | PrintStyle::kBold | PrintStyle::kDouble);
  sign_style.setFont(0);
  char digits[16];
  snprintf(digits, sizeof(digits), "%010u", static_cast<unsigned>(fiscalSign()));
  out.push_back(
      PrintItem{PrintBlock::fromText(sign_style, util::Utf8ToCp866("ФП ") + digits), cut});
  return out;
}

BaseDocument* BaseWorkDocument::copyTo(BaseDocument* other) const {
  if (BaseDocument::copyTo(other) == nullptr) return nullptr;
  if (auto* work = dynamic_cast<BaseWorkDocument*>(other)) {
    work->document_number_ = document_number_;
    work->fiscalisation_number_ = fiscalisation_number_;
  }
  return other;
}

bool BaseWorkDocument::isRegistered() const {
  return doc::isKnownType(type()) && modelData().isValid() && regData().isValid();
}

int BaseWorkDocument::setCashierName(const std::string& data) {
  // Empty data lacks even the length byte: the shortest possible text.
  if (data.empty()) return rc::kTlvShort;
  const size_t n = static_cast<uint8_t>(data[0]);
  if (data.size() - 1 < n) return rc::kTlvShort;
  if (n > 0) mutableCashier()->name = data.substr(1, n);
  setShiftNumber(FrStatus::shiftNumber());
  return rc::kOk;
}

int BaseWorkDocument::addData(const TlvElement& e) {
  if (e.tag() != tag::kCashierName) return rc::kUnknownTag;
  mutableCashier()->name = e.value();
  return rc::kOk;
}

std::string BaseWorkDocument::closeReply() const {
  std::string out;
  util::PutFixed32(&out, document_number_);
  util::PutFixed32(&out, fiscalSign());
  util::PutFixed32(&out, dateTime());
  return out;
}

std::string BaseWorkDocument::statusBytes() const { return std::string(1, static_cast<char>(type())); }

void BaseWorkDocument::setStoredTag(const TlvElement& e) {
  bool ok = false;
  switch (e.tag()) {
    case tag::kDateTime: {
      // Some stores wrote the time as 8 bytes; the low 32 bits are the time.
      const uint64_t t = e.asU32OrU64(&ok);
      if (ok) setDateTime(static_cast<uint32_t>(t));
      break;
    }
    case tag::kCashierName:
      mutableCashier()->name = e.value();
      ok = true;
      break;
    case tag::kShiftNumber: {
      const uint16_t v = e.asU16(&ok);
      if (ok) setShiftNumber(v);
      break;
    }
    case tag::kDocumentNumber: {
      const uint32_t v = e.asU32(&ok);
      if (ok) document_number_ = v;
      break;
    }
    case tag::kFiscalSign: {
      const uint32_t v = e.asU32(&ok);
      if (ok) setFiscalSign(v);
      break;
    }
    case tag::kFiscalisationNumber: {
      const uint32_t v = e.asU32(&ok);
      if (ok) fiscalisation_number_ = v;
      break;
    }
    default:
      break;
  }
  if (!ok) reportUnknownTag(e);
}

std::shared_ptr<DocDescriptor> BaseWorkDocument::descriptor() const {
  auto d = std::make_shared<DocDescriptor>();
  d->bytes[descriptor::kTypeOffset] = type();
  util::EncodeFixed32(d->bytes + descriptor::kDocumentNumberOffset, document_number_);
  util::EncodeFixed32(d->bytes + descriptor::kDateTimeOffset, dateTime());
  util::EncodeFixed16(d->bytes + descriptor::kShiftNumberOffset, shiftNumber());
  util::EncodeFixed32(d->bytes + descriptor::kFiscalSignOffset, fiscalSign());
  d->bytes[descriptor::kCashierNumberOffset] = cashier().number;
  return d;
}

std::string BaseWorkDocument::encode() const {
  std::string out(1, static_cast<char>(type()));
  out += TlvElement::fromU32(tag::kDocumentNumber, document_number_).encode();
  out += TlvElement::fromU32(tag::kFiscalisationNumber, fiscalisation_number_).encode();
  out += TlvElement::fromString(tag::kCashierName,
                                cashier().name.substr(0, doc::kMaxEncodedCashierName))
             .encode();
  out += TlvElement::fromU32(tag::kDateTime, dateTime()).encode();
  out += TlvElement::fromU32(tag::kFiscalSign, fiscalSign()).encode();
  encodeOwn(&out);
  return out;
}
