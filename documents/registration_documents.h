// The registration documents: the fiscalisation (or re-registration) report,
// type 1, which builds the new registration inside its RegData copy, and the
// archive close report, type 4.
#ifndef FR_DOCUMENTS_REGISTRATION_DOCUMENTS_H_
#define FR_DOCUMENTS_REGISTRATION_DOCUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "documents/base_document.h"
#include "workers/counters.h"

namespace regdoc {

// Close data that names the taxpayer: ИНН (12) then ФН number (16).
constexpr size_t kCloseDataSize = 28;
constexpr size_t kMaxTextSize = 255;

// A raw ИНН or ФН number field: the first 10 bytes digits, the rest digits
// or NUL.
bool isNumberField(const std::string& field);

}  // namespace regdoc

class FiscalizationDocument : public BaseWorkDocument {
 public:
  FiscalizationDocument(platform::Env* env, const ModelData& model, const RegData& reg,
                        const Cashier& cashier);

  std::shared_ptr<BaseDocument> clone() const override;
  // The registration variant: only the model must verify; a registration
  // that is not valid yet gets its check value before the sign is made.
  bool sign(const std::string& key, const std::string& serial) override;
  std::string title() const override;
  // Empty: the header needs the new registration, see headerText().
  PrintData printHeader() const override;
  // Registration texts (1..255 bytes) and tax rates; 35 when they do not
  // fit or parse. Anything else goes to the base.
  int addData(const TlvElement& e) override;
  // 28-byte data sets ИНН and ФН number first. Then 37 with the first
  // missing item of 11021, 11018, 11037, 11048, 11187, 11009, 13105; 36 when
  // the check value cannot be made. On success the registration time is the
  // document's time and the check value is fresh.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  // Registration fields and 11158 besides the base; 11012 is also the
  // registration time.
  void setStoredTag(const TlvElement& e) override;
  // Registration check value, shift number as 4 bytes, time.
  std::string signedData() const override;

  // The counters since the last registration, attached for a re-registration.
  void setRegistrationCounters(const ShiftCounters& c) { counters_.reset(new ShiftCounters(c)); }
  const ShiftCounters* registrationCounters() const { return counters_.get(); }
  // The base header (registration texts, title, cashier) as printer text.
  std::string headerText() const;
  // The since-registration totals block; empty without counters.
  std::string reportText() const;
  // Check value from the model's serial number and `key`. False, nothing
  // changed, when the key is not 16 bytes, the model is not valid or the
  // value comes out 0 (a registration with it would not be valid).
  bool recomputeCheckValue(const std::string& key);

 protected:
  void encodeOwn(std::string* out) const override;

 private:
  // One registration field from a stored element; false when it does not fit.
  bool readRegField(const TlvElement& e);

  std::unique_ptr<ShiftCounters> counters_;
};

class ArchiveCloseDoc : public BaseWorkDocument {
 public:
  ArchiveCloseDoc(platform::Env* env, const ModelData& model, const RegData& reg,
                  const Cashier& cashier);

  std::shared_ptr<BaseDocument> clone() const override;
  std::string title() const override;
  // 37 (11021) without a cashier name; the shift is the current one.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  // 11157 and 11158 rebuild the counters; the rest goes to the base.
  void setStoredTag(const TlvElement& e) override;
  // Registration check value, document number, time.
  std::string signedData() const override;

  void setRegistrationCounters(const ShiftCounters& c) { counters_.reset(new ShiftCounters(c)); }
  const ShiftCounters* registrationCounters() const { return counters_.get(); }
  void setGrossCounters(const GrossCounters& c) { gross_.reset(new GrossCounters(c)); }
  const GrossCounters* grossCounters() const { return gross_.get(); }
  // The since-registration totals block, then the gross totals block; each
  // empty when its record is absent.
  std::string reportText() const;

 protected:
  void encodeOwn(std::string* out) const override;

 private:
  std::unique_ptr<ShiftCounters> counters_;
  std::unique_ptr<GrossCounters> gross_;
};

#endif  // FR_DOCUMENTS_REGISTRATION_DOCUMENTS_H_
