// The shift documents: shift open (type 7), shift close or Z report (type 2)
// and cash in / cash out (types 5 and 6). Each prints the shift line after
// the base header and carries its shift number as element 11038.
#ifndef FR_DOCUMENTS_SHIFT_DOCUMENTS_H_
#define FR_DOCUMENTS_SHIFT_DOCUMENTS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "documents/base_document.h"
#include "documents/decimal.h"
#include "workers/counters.h"

namespace shiftdoc {

// The highest cash in: 1 000 000 000.00.
constexpr int64_t kMaxCashIn = 100000000000;
constexpr size_t kCashCloseDataSize = 8;

// "\nСМЕНА\t<n>" as one line in the normal style.
PrintItem shiftLine(uint16_t shift_number);
// A close that misses an item: *missing_tag (may be null) := tag; 37.
int missingItem(uint16_t tag, uint16_t* missing_tag);

}  // namespace shiftdoc

class CycleOpenDocument : public BaseWorkDocument {
 public:
  CycleOpenDocument(platform::Env* env, const ModelData& model, const RegData& reg,
                    const Cashier& cashier);

  std::shared_ptr<BaseDocument> clone() const override;
  std::string title() const override;
  PrintData printHeader() const override;
  // The base rule, then the shift number is the one about to open.
  int setCashierName(const std::string& data) override;
  // 37 (11021) without a cashier name; the shift is the current one + 1.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  // The base reply and the shift number (2).
  std::string closeReply() const override;
  // Registration check value, shift, document number, time.
  std::string signedData() const override;

 protected:
  void encodeOwn(std::string* out) const override;
};

class CloseCycleDoc : public BaseWorkDocument {
 public:
  CloseCycleDoc(platform::Env* env, const ModelData& model, const RegData& reg,
                const Cashier& cashier);

  std::shared_ptr<BaseDocument> clone() const override;
  std::string title() const override;
  PrintData printHeader() const override;
  // 37 (11021) without a cashier name; the shift is the current one.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  std::string closeReply() const override;
  // 11194 rebuilds the shift counters; the rest goes to the base.
  void setStoredTag(const TlvElement& e) override;
  // Registration check value, document number, shift, time.
  std::string signedData() const override;

  // The current shift's counters, attached by the archive before encoding.
  void setShiftCounters(const ShiftCounters& c) { counters_.reset(new ShiftCounters(c)); }
  const ShiftCounters* shiftCounters() const { return counters_.get(); }
  // The shift totals block; empty without counters.
  std::string reportText() const;

 protected:
  void encodeOwn(std::string* out) const override;

 private:
  std::unique_ptr<ShiftCounters> counters_;
};

class CashCtrlDocument : public BaseWorkDocument {
 public:
  // doc::kCashIn makes a cash in; any other type a cash out (type 6).
  CashCtrlDocument(platform::Env* env, uint8_t type, const ModelData& model, const RegData& reg,
                   const Cashier& cashier);

  // The base rule and an amount above 0.
  bool isComplete() const override;
  std::shared_ptr<BaseDocument> clone() const override;
  std::string title() const override;
  PrintData printHeader() const override;
  // The amount line, then the base footer.
  PrintData printFooter(bool cut) const override;
  // Copies the amount as well.
  BaseDocument* copyTo(BaseDocument* other) const override;
  // data: the amount, 8 bytes of signed kopecks. 37 (11021 or 11031), 40
  // for an amount not above 0 or a cash out above the drawer, 41 for a cash
  // in above kMaxCashIn. The amount is kept only on success.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  // The base reply, the shift number (2) and the cash in the drawer now (8).
  std::string closeReply() const override;
  // 11031 is the amount; the rest goes to the base.
  void setStoredTag(const TlvElement& e) override;
  // Registration check value, shift, document number, time, printed amount.
  std::string signedData() const override;

  bool isCashIn() const { return type() == doc::kCashIn; }
  const Decimal& amount() const { return amount_; }

 protected:
  void encodeOwn(std::string* out) const override;

 private:
  Decimal amount_;
};

#endif  // FR_DOCUMENTS_SHIFT_DOCUMENTS_H_
