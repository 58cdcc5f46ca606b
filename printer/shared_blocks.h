// The two blocks at the head of documents and reports, from the current
// registration. Both are empty when the registration is not valid.
#ifndef FR_PRINTER_SHARED_BLOCKS_H_
#define FR_PRINTER_SHARED_BLOCKS_H_

#include "printer/print_layout.h"
#include "storage/reg_data.h"

// The three registration texts, centred (font code 1), without cut.
PrintData registrationHeader(const RegData& reg);
// "ИНН\t<taxpayer number>" and "ФН\t<FN number>", left (marker, font code 1).
PrintData taxpayerLines(const RegData& reg, bool cut);

#endif  // FR_PRINTER_SHARED_BLOCKS_H_
