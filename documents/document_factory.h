// Makes an empty document of a type, with the identity and cashier it is
// made under. Unknown types give an empty pointer.
#ifndef FR_DOCUMENTS_DOCUMENT_FACTORY_H_
#define FR_DOCUMENTS_DOCUMENT_FACTORY_H_

#include <memory>

#include "documents/base_document.h"

std::shared_ptr<BaseWorkDocument> makeDocument(platform::Env* env, uint8_t type, const ModelData& model,
                                               const RegData& reg, const Cashier& cashier);

#endif  // FR_DOCUMENTS_DOCUMENT_FACTORY_H_
