// The fiscal document base classes. BaseDocument holds what every document
// carries; BaseWorkDocument adds the archive's numbers and the operations
// through which the workers fill and close a document and the archive
// numbers, signs, encodes, describes and re-reads it. Every concrete
// document derives from BaseWorkDocument. Main thread only; no locks held.
#ifndef FR_DOCUMENTS_BASE_DOCUMENT_H_
#define FR_DOCUMENTS_BASE_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "documents/descriptor_format.h"
#include "documents/tlv_element.h"
#include "platform/env.h"
#include "printer/print_layout.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"
#include "storage/tables.h"

namespace doc {

// Document types: the first byte of every stored document.
constexpr uint8_t kFiscalisation = 1;
constexpr uint8_t kShiftClose = 2;
constexpr uint8_t kReceipt = 3;
constexpr uint8_t kArchiveClose = 4;
constexpr uint8_t kCashIn = 5;
constexpr uint8_t kCashOut = 6;
constexpr uint8_t kShiftOpen = 7;

inline bool isKnownType(uint8_t type) { return type >= kFiscalisation && type <= kShiftOpen; }

// Titles in UTF-8; documents hand them out as CP866. The receipt's title
// depends on its receipt type and lives with the receipt.
constexpr const char* kFiscalisationTitle = "Отчет о фискализации/перерегистрации";
constexpr const char* kShiftCloseTitle = "Z-Отчет";
constexpr const char* kArchiveCloseTitle = "Отчет о закрытии архива";
constexpr const char* kCashInTitle = "Внесение";
constexpr const char* kCashOutTitle = "Выплата";
constexpr const char* kShiftOpenTitle = "Открытие смены";

// The CP866 title of a document type; empty for the receipt and unknown types.
std::string typeTitle(uint8_t type);


constexpr size_t kMaxSize = 4096;
constexpr size_t kMaxEncodedCashierName = 256;

}  // namespace doc

class BaseDocument {
 public:
  // All numbers start at 0. `env` gives local time and the diagnostic line;
  // a null env prints no time and drops the line.
  BaseDocument(platform::Env* env, uint8_t type, const ModelData& model, const RegData& reg,
               const Cashier& cashier);
  virtual ~BaseDocument() = default;

  // Type known, fiscal sign not 0 and cashier valid.
  virtual bool isComplete() const;
  // An empty object of the same class with this one copied into it.
  virtual std::shared_ptr<BaseDocument> clone() const = 0;
  // The sign needs the signed data, which only work documents define: both
  // are implemented by BaseWorkDocument.
  virtual bool verifySign(const std::string& key, const std::string& serial) const = 0;
  virtual bool sign(const std::string& key, const std::string& serial) = 0;
  // CP866.
  virtual std::string title() const = 0;
  // Registration header, the title, then the cashier line.
  virtual PrintData printHeader() const;
  // Needs the document number: implemented by BaseWorkDocument.
  virtual PrintData printFooter(bool cut) const = 0;
  // Copies the fields into `other` and returns it when it has the same type;
  // otherwise returns nullptr with `other` untouched. Classes add their own
  // fields after a non-null result.
  virtual BaseDocument* copyTo(BaseDocument* other) const;

  uint8_t type() const { return type_; }  // fixed at construction
  const ModelData& modelData() const { return model_data_; }
  void setModelData(const ModelData& model) { model_data_ = model; }
  const RegData& regData() const { return reg_data_; }
  void setRegData(const RegData& reg) { reg_data_ = reg; }
  // The archive number inside the registration copy (tag 11041).
  void setArchiveNumber(uint32_t number) { reg_data_.setArchiveNumber(number); }
  uint16_t shiftNumber() const { return shift_number_; }
  void setShiftNumber(uint16_t number) { shift_number_ = number; }
  uint32_t dateTime() const { return date_time_; }
  void setDateTime(uint32_t t) { date_time_ = t; }
  uint32_t fiscalSign() const { return fiscal_sign_; }
  void setFiscalSign(uint32_t sign) { fiscal_sign_ = sign; }
  const Cashier& cashier() const { return cashier_; }
  void setCashier(const Cashier& cashier) { cashier_ = cashier; }

 protected:
  platform::Env* env() const { return env_; }
  Cashier* mutableCashier() { return &cashier_; }
  // Font code 1 with the marker bit: the plain two-column lines.
  static PrintStyle normalStyle();
  // "%d.%m.%Y %H:%M:%S" in local time; empty when the board cannot convert it.
  std::string formatTime(uint32_t t) const;
  // "setStoredTag UNKNOWN TAG <tag> <length> <hex value>".
  void reportUnknownTag(const TlvElement& e) const;

 private:
  platform::Env* env_;
  uint8_t type_;
  ModelData model_data_;
  RegData reg_data_;
  uint16_t shift_number_ = 0;
  uint32_t date_time_ = 0;
  uint32_t fiscal_sign_ = 0;
  Cashier cashier_;
};

class BaseWorkDocument : public BaseDocument {
 public:
  using BaseDocument::BaseDocument;

  // The base rule, model and registration valid, both numbers not 0.
  bool isComplete() const override;
  // False when the identity records do not verify with the key, or the
  // recomputed sign differs from the stored one.
  bool verifySign(const std::string& key, const std::string& serial) const override;
  // False, sign unchanged, when the identity records do not verify.
  bool sign(const std::string& key, const std::string& serial) override;
  // Taxpayer lines, the date and document line, then the sign line with `cut`.
  PrintData printFooter(bool cut) const override;
  // The base copy, then the numbers when `other` is a work document too.
  BaseDocument* copyTo(BaseDocument* other) const override;

  // Type known, model and registration valid.
  virtual bool isRegistered() const;
  // Byte 0 is the length n, the name bytes 1..n (n = 0 keeps the name); the
  // shift number becomes the current one. 39 when fewer than n bytes follow
  // or there is no length byte at all; nothing changes then.
  virtual int setCashierName(const std::string& data);
  // Only 11021 (replaces the cashier name); anything else gives 34.
  virtual int addData(const TlvElement& e);
  // Sets the date-time, checks the class's data; 37 with *missing_tag set
  // when an item is missing.
  virtual int close(uint32_t date_time, const std::string& key, const std::string& data,
                    uint16_t* missing_tag) = 0;
  // Document number, fiscal sign, date-time (4 each).
  virtual std::string closeReply() const;
  // The type byte.
  virtual std::string statusBytes() const;
  // Reads back 11012 (4 or 8 bytes), 11021, 11038, 11040, 11077, 12117;
  // any other element, or one of the wrong length, is skipped with a
  // diagnostic line.
  virtual void setStoredTag(const TlvElement& e);
  // Zeroed, with the document's part filled.
  virtual std::shared_ptr<DocDescriptor> descriptor() const;
  // Type byte, the base elements, then encodeOwn(). The archive refuses an
  // encoding longer than maxSize(); the base part alone stays far below it.
  virtual std::string encode() const;
  virtual size_t maxSize() const { return doc::kMaxSize; }
  // The bytes the fiscal sign covers.
  virtual std::string signedData() const = 0;

  uint32_t documentNumber() const { return document_number_; }
  void setDocumentNumber(uint32_t number) { document_number_ = number; }
  uint32_t fiscalisationNumber() const { return fiscalisation_number_; }
  void setFiscalisationNumber(uint32_t number) { fiscalisation_number_ = number; }

 protected:
  // Appends the class's own encoded elements.
  virtual void encodeOwn(std::string* /*out*/) const {}

 private:
  uint32_t document_number_ = 0;
  uint32_t fiscalisation_number_ = 0;
};

#endif  // FR_DOCUMENTS_BASE_DOCUMENT_H_
