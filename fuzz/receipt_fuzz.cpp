// A receipt driven by the input: opened with input-derived opening data,
// filled with input-derived lines, closed with input payment bytes, then
// encoded and rebuilt from its stored parts. Also feeds decoded elements to
// ReceiptOperation::setStorageTag directly.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/fr_status.h"
#include "documents/receipt_doc.h"
#include "documents/receipt_operation.h"
#include "documents/tlv_element.h"
#include "platform/fake_env.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"
#include "storage/tables.h"
#include "storage/tax_rate.h"

namespace {

struct Fixture {
  platform::FakeEnv env;
  ModelData model;
  RegData reg;

  Fixture() {
    // Tables live under /nv; a failed set-up would make every run meaningless.
    if (!env.CreateDirectory("/nv") || !tables::initSections(&env) ||
        !tables::initDiscounts(&env)) {
      abort();
    }
    Section s;
    s.number = 3;
    s.setName("Grocery");
    tables::saveSection(&env, s);
    tables::saveDiscount(&env, Discount{1, tables::kPercentDiscount, 500, ""});
    tables::saveDiscount(&env, Discount{2, 0, 1000, "fixed"});
    TaxRate vat;
    vat.setType(TaxRate::kIncluded);
    vat.setRate(2000);
    vat.setName("VAT 20");
    reg.setTaxRateImage(0, vat.image());
    TaxRate none;
    none.setType(TaxRate::kNoTax);
    none.setRate(0);
    none.setName("NO VAT");
    reg.setTaxRateImage(1, none.image());
    reg.setCheckValue(0xA1B2C3D4);
  }
};

Fixture& Get() {
  static Fixture* f = new Fixture();  // never destroyed: outlives every run
  return *f;
}

// Reads the input front to back, so seeds can be written by hand; running
// out of bytes gives zeros and empty strings.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t remaining() const { return size_ - pos_; }
  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  uint64_t U64() { return U32() | (static_cast<uint64_t>(U32()) << 32); }
  std::string Bytes(size_t n) {
    n = n < remaining() ? n : remaining();
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  std::string Rest() { return Bytes(remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A line element: either the bytes as the inner list of a receipt line, or
// the bytes decoded as a whole element (any tag).
TlvElement LineFrom(Input* in) {
  const bool wrap = (in->U8() & 1) == 0;
  const std::string bytes = in->Bytes(in->U16());
  if (wrap) return TlvElement(tag::kReceiptLine, bytes);
  TlvElement e;
  if (!TlvElement::decode(bytes, &e)) e = TlvElement(tag::kReceiptLine, bytes);
  return e;
}

void Exercise(const ReceiptDoc& doc) {
  doc.title();
  doc.isComplete();
  doc.printHeader();
  doc.printFooter(true);
  doc.journalHead();
  doc.journalTotals();
  doc.closeReply();
  doc.statusBytes();
  doc.signedData();
  doc.isIncoming();
  for (const ReceiptOperation& line : doc.lines()) {
    line.printedForm();
    line.toTlv().encode();
    line.cost().toString();
    line.amount().toString();
    line.taxAmount().toString();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fx = Get();
  fx.env.ClearLines();  // captured diagnostics would otherwise pile up
  FrStatus::reset();
  Input in(data, size);
  // Layout: shift (2), receipts in shift (2), cash in drawer (8), rights (2),
  // opening data (len 1 + bytes), line count (1) and lines (mode 1, len 2 +
  // bytes), an addData flag (1) and line, time (4), payment (len 1 + bytes),
  // then stored elements up to the end.
  FrStatus::setShiftNumber(in.U16());
  FrStatus::setReceiptsInShift(in.U16());
  FrStatus::setCashInDrawer(static_cast<int64_t>(in.U64()));

  Cashier cashier{7, in.U16(), 1234, "Cashier"};
  ReceiptDoc doc(&fx.env, fx.model, fx.reg, cashier);
  doc.setCashierName(in.Bytes(in.U8()));

  const int lines = in.U8() % 9;
  for (int i = 0; i < lines && in.remaining() > 0; ++i) {
    PrintData print;
    doc.addLine(LineFrom(&in), &print);
  }
  if (in.U8() & 1) doc.addData(LineFrom(&in));

  uint16_t missing = 0;
  const uint32_t when = in.U32();
  const std::string pay = in.Bytes(in.U8());
  doc.close(when, std::string(16, 'k'), pay, &missing);
  Exercise(doc);

  // Rebuild from the stored parts, in the order the archive writes them.
  ReceiptDoc copy(&fx.env, fx.model, fx.reg, cashier);
  std::string parts = doc.encode() + doc.taxRateElements() + doc.sectionElements();
  for (std::string line = doc.firstLine(); !line.empty(); line = doc.nextLine()) parts += line;
  for (const TlvElement& e : TlvElement::decodeList(parts)) copy.setStoredTag(e);
  Exercise(copy);
  std::shared_ptr<BaseDocument> cloned = doc.clone();
  if (cloned) doc.copyTo(cloned.get());

  // Stored elements from the input, into a fresh document and a bare line.
  const std::string rest = in.Rest();
  ReceiptDoc stored(&fx.env, fx.model, fx.reg, cashier);
  ReceiptOperation op;
  for (const TlvElement& e : TlvElement::decodeList(rest)) {
    stored.setStoredTag(e);
    uint8_t section = 0;
    op.setStorageTag(&fx.env, e, &section);
    for (const TlvElement& inner : e.asList()) op.setStorageTag(&fx.env, inner, &section);
  }
  Exercise(stored);
  // The bare line has no resolved section, so only what needs none.
  op.amount();
  op.taxAmount();
  op.isValid();
  fx.env.ClearLines();
  return 0;
}
