// The fiscal receipt (document type 3): opened with a receipt type and the
// cashier, filled one line at a time, closed with the payment. Besides its
// main data the archive stores its tax rates, sections and lines, which the
// receipt hands out as stored parts and takes back through setStoredTag().
#ifndef FR_DOCUMENTS_RECEIPT_DOC_H_
#define FR_DOCUMENTS_RECEIPT_DOC_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/codes.h"
#include "documents/base_document.h"
#include "documents/receipt_operation.h"

namespace receipt {

// Receipt types: kSale to kPurchaseReturn (app/codes.h) are the four the
// totals have blocks for, the only ones that can be opened.
constexpr uint8_t kNotOpened = 15;

constexpr size_t kMaxSize = 32768;
// Lines stop this far below kMaxSize: room for the main data, tax rates
// and sections, which are not counted as lines are added.
constexpr size_t kLineReserve = 8192;
// The highest total an incoming receipt may have: 1 000 000 000.00.
constexpr int64_t kMaxIncomingTotal = 100000000000;

}  // namespace receipt

class ReceiptDoc : public BaseWorkDocument {
 public:
  ReceiptDoc(platform::Env* env, const ModelData& model, const RegData& reg,
             const Cashier& cashier);

  // The base rule and a receipt number.
  bool isComplete() const override;
  std::shared_ptr<BaseDocument> clone() const override;
  // CP866; empty for a receipt that was never opened.
  std::string title() const override;
  // The base header, then "<type> ЧЕК <n>\tСМЕНА <shift>".
  PrintData printHeader() const override;
  // Total, payments, change and taxes, each its own block, then the base footer.
  PrintData printFooter(bool cut) const override;
  // Copies the records too and points the copied lines at the copies. The
  // change and the section totals stay behind.
  BaseDocument* copyTo(BaseDocument* other) const override;

  // data: receipt type (1), then the length-prefixed cashier name. 42 for no
  // data or an unknown type, 16 without the cashier right, else the name's
  // result (0 or 39).
  int setCashierName(const std::string& data) override;
  // Only receipt lines (11059): 7, 34, 19, 22, 43, 44, 45, 46. A refused line
  // changes neither the lines nor the totals.
  int addData(const TlvElement& e) override;
  // The same, with the line's printed form in *print on success.
  int addLine(const TlvElement& e, PrintData* print);
  // data: cash (8) then cashless (8), signed kopecks; both 0 pays the total
  // in cash. 37 with *missing_tag, 42, 47, 48 or 40; the key is not used.
  int close(uint32_t date_time, const std::string& key, const std::string& data,
            uint16_t* missing_tag) override;
  // The base reply, shift number (2), receipt number (2), total (8), change (8).
  std::string closeReply() const override;
  // Type, receipt type, receipt number (2), number of lines (2), total (8).
  std::string statusBytes() const override;
  // Main data, tax rates, sections, then lines; lines are not booked again.
  void setStoredTag(const TlvElement& e) override;
  size_t maxSize() const override { return receipt::kMaxSize; }
  // encode() and the registration check value (4).
  std::string signedData() const override;

  // Stored parts, written by the archive after the main data in this order.
  std::string taxRateElements() const;
  std::string sectionElements() const;
  // The encoded lines one at a time: firstLine() gives line 0, each
  // nextLine() the following one, empty after the last.
  std::string firstLine() const;
  std::string nextLine() const;

  // Short forms for the reports: cashier and numbers, then the totals.
  PrintData journalHead() const;
  PrintData journalTotals() const;

  // Sales and returns of purchases bring cash into the drawer.
  bool isIncoming() const;
  uint8_t receiptType() const { return receipt_type_; }
  uint16_t receiptNumber() const { return receipt_number_; }
  const Decimal& total() const { return total_; }
  // The cash kept: what was handed over less the change.
  const Decimal& cashPayment() const { return cash_; }
  const Decimal& cashlessPayment() const { return cashless_; }
  const Decimal& change() const { return change_; }
  const std::vector<ReceiptOperation>& lines() const { return lines_; }
  const std::map<uint8_t, Decimal>& taxTotals() const { return tax_totals_; }
  const std::map<uint8_t, Decimal>& sectionTotals() const { return section_totals_; }
  size_t encodedSize() const { return encoded_size_; }

 protected:
  void encodeOwn(std::string* out) const override;

 private:
  std::string typeText() const;
  PrintBlock taxLines(PrintBlock block) const;
  // The cached record of that number, loaded on first use; null when the
  // number or its record is not valid.
  const TaxRate* resolveTax(uint8_t number);
  const Section* resolveSection(uint8_t number);
  const Discount* resolveDiscount(uint8_t number);
  // Reads the inner elements of a host line into *line.
  int parseLine(const std::vector<TlvElement>& inner, ReceiptOperation* line);
  int checkPayment();

  uint8_t receipt_type_ = receipt::kNotOpened;
  uint16_t receipt_number_ = 0;
  Decimal total_;
  Decimal cash_;
  Decimal cashless_;
  Decimal change_;
  std::vector<ReceiptOperation> lines_;
  // Owned records the lines point into; the pointers stay put while the maps grow.
  std::map<uint8_t, std::unique_ptr<Section>> sections_;
  std::map<uint8_t, std::unique_ptr<TaxRate>> tax_rates_;
  std::map<uint8_t, std::unique_ptr<Discount>> discounts_;
  std::map<uint8_t, Decimal> tax_totals_;
  std::map<uint8_t, Decimal> section_totals_;
  size_t encoded_size_ = 0;
  // Only the stored-part walk moves it; not part of the document.
  mutable int32_t line_cursor_ = -1;
};

#endif  // FR_DOCUMENTS_RECEIPT_DOC_H_
