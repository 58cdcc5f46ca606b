// The cashier, discount and section tables: in-memory records, their byte
// images (storage/table_format.h) and the process-wide holders that keep the
// files under /nv/ and memory in step.
//
// Every operation that touches a file takes the board as its first argument,
// holds its table's mutex for its whole duration (files included), opens the
// file for that one operation and returns a success flag. No operation holds
// two table mutexes. A failed operation leaves its holder unchanged, except
// that a discount save whose write fails has already dropped the cached entry.
#ifndef FR_STORAGE_TABLES_H_
#define FR_STORAGE_TABLES_H_

#include <cstdint>
#include <string>

#include "documents/decimal.h"
#include "documents/tlv_element.h"
#include "platform/env.h"
#include "storage/table_format.h"

struct Cashier {
  uint8_t number = 0;
  uint16_t rights = 0;  // tables::kRight* bits
  int32_t password = 0;
  std::string name;     // CP866

  // Number 1..20, password and rights not 0, name not empty.
  bool isValid() const;
};

struct Discount {
  uint8_t number = 0;
  int32_t type = tables::kEmptyDiscountType;
  int64_t value = 0;  // hundredths of a per cent or of the currency unit
  std::string name;   // CP866

  // Type at most 1 and value at least 1; the number is not looked at.
  bool isValid() const;
};

struct Section {
  uint8_t number = 0;
  std::string name;  // CP866

  bool isValid() const;
  // Names from outside are cut to what a record holds (126 bytes).
  void setName(const std::string& cp866);
};

namespace tables {

// Record images. A parse fills *out whenever the size is right and succeeds
// when the number is 1..20 as well.
std::string cashierImage(const Cashier& c);  // name cut to 255 bytes
bool parseCashierImage(const std::string& image, Cashier* out);
std::string discountImage(const Discount& d);  // name cut to 127 bytes
bool parseDiscountImage(const std::string& image, Discount* out);
std::string sectionImage(const Section& s);  // name cut to 126 bytes
bool parseSectionImage(const std::string& image, Section* out);

// Start-up, once per table, in the order cashiers, sections, discounts.
// A missing file is created with 20 empty slots (slot 20 of the cashier file
// holds the service cashier); an existing one is left as it is.
bool initCashiers(platform::Env* env);
bool initSections(platform::Env* env);
bool initDiscounts(platform::Env* env);

// The record in the file, bypassing the cache; out->number is `number`
// whatever the record says. *out is set only on success.
bool readCashier(platform::Env* env, uint8_t number, Cashier* out);
// Writes the slot, then caches the cashier as the file now holds it.
bool saveCashier(platform::Env* env, const Cashier& c);
// The login of every host request: the cached record, else the file's (which
// is then cached). Succeeds when the password matches and the cashier is
// valid; *out is set only on success.
bool checkCashier(platform::Env* env, uint8_t number, int32_t password, Cashier* out);
bool isServiceCashier(const Cashier& c);

// Fails only for a number outside 1..20; an empty slot gives an invalid
// discount (type 2) carrying the number.
bool getDiscount(uint8_t number, Discount* out);
bool saveDiscount(platform::Env* env, const Discount& d);
// The amount taken off `base`: a fixed sum as is (scale 100, not capped at
// the base), a percentage at the base's scale; zero when either is not above 0.
Decimal discountAmount(const Discount& d, const Decimal& base);
// CP866 text for the receipt: the name, else "СКИДКА" (and " 10.00%" for a
// percentage); empty for an invalid discount.
std::string discountPrintName(const Discount& d);

// Fails for a number outside 1..20 or before the sections are initialised.
bool getSection(uint8_t number, Section* out);
bool saveSection(platform::Env* env, const Section& s);
// Tag 11300 holding 11301 (number) and, when not empty, 11302 (name); an
// empty element (tag 0) for a number outside 1..20.
TlvElement sectionToTlv(const Section& s);
// Needs tag 11300 and at least one inner element, else fails with *s
// untouched; then *s is rebuilt from the inner tags, and the call succeeds
// when the number is 1..20.
bool sectionFromTlv(const TlvElement& e, Section* s);

}  // namespace tables

#endif  // FR_STORAGE_TABLES_H_
