#include "host/names.h"

#include "app/codes.h"
#include "documents/base_document.h"

namespace host {

namespace {

constexpr Named kDocumentTypeNames[] = {
    {doc::kFiscalisation, "registration"}, {doc::kShiftClose, "shift-close"}, {doc::kReceipt, "receipt"},
    {doc::kArchiveClose, "archive-close"}, {doc::kCashIn, "cash-in"},         {doc::kCashOut, "cash-out"},
    {doc::kShiftOpen, "shift-open"},
};

constexpr Named kReceiptTypeNames[] = {
    {receipt::kSale, "sale"},
    {receipt::kPurchase, "purchase"},
    {receipt::kSaleReturn, "return-sale"},
    {receipt::kPurchaseReturn, "return-purchase"},
};

constexpr Named kReportKindNames[] = {
    {report::kXReport, "x"},
    {report::kSectionXReport, "x-sections"},
    {report::kRegistrationTotals, "registration"},
    {report::kGrossTotals, "gross"},
    {report::kPeriod, "period"},
    {report::kShiftRange, "shifts"},
    {kControlTape, "control-tape"},
};

constexpr Named kTotalsRecordNames[] = {
    {cmd::kShiftTotals, "shift"},
    {cmd::kRegistrationTotals, "registration"},
    {cmd::kGrandTotals, "gross"},
    {cmd::kSectionTotals, "sections"},
};

}  // namespace

const NameTable kDocumentTypes(kDocumentTypeNames);
const NameTable kReceiptTypes(kReceiptTypeNames);
const NameTable kReportKinds(kReportKindNames);
const NameTable kTotalsRecords(kTotalsRecordNames);

const char* NameTable::Name(uint8_t code) const {
  for (const Named& n : *this) {
    if (n.code == code) return n.name;
  }
  return nullptr;
}

bool NameTable::Code(const std::string& name, uint8_t* code) const {
  for (const Named& n : *this) {
    if (name == n.name) {
      *code = n.code;
      return true;
    }
  }
  return false;
}

std::string NameTable::List() const {
  std::string out;
  for (const Named& n : *this) out += (out.empty() ? "" : ", ") + std::string(n.name);
  return out;
}

}  // namespace host
