#include "documents/document_factory.h"

#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"

std::shared_ptr<BaseWorkDocument> makeDocument(platform::Env* env, uint8_t type, const ModelData& model,
                                               const RegData& reg, const Cashier& cashier) {
  switch (type) {
    case doc::kFiscalisation:
      return std::make_shared<FiscalizationDocument>(env, model, reg, cashier);
    case doc::kShiftClose:
      return std::make_shared<CloseCycleDoc>(env, model, reg, cashier);
    case doc::kReceipt:
      return std::make_shared<ReceiptDoc>(env, model, reg, cashier);
    case doc::kArchiveClose:
      return std::make_shared<ArchiveCloseDoc>(env, model, reg, cashier);
    case doc::kCashIn:
    case doc::kCashOut:
      return std::make_shared<CashCtrlDocument>(env, type, model, reg, cashier);
    case doc::kShiftOpen:
      return std::make_shared<CycleOpenDocument>(env, model, reg, cashier);
    default:
      return nullptr;
  }
}
