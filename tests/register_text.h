// What the end-to-end tests of a register's day share: byte and text
// builders, and the register they set up (key, identity, tables).
#ifndef FR_TESTS_REGISTER_TEXT_H_
#define FR_TESTS_REGISTER_TEXT_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tools/sim/rig.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace regtest {

// ---- bytes and texts -------------------------------------------------------

inline std::string U8(uint8_t v) { return std::string(1, static_cast<char>(v)); }
inline std::string U16(uint16_t v) { std::string s; util::PutFixed16(&s, v); return s; }
inline std::string U32(uint32_t v) { std::string s; util::PutFixed32(&s, v); return s; }
inline std::string U64(uint64_t v) { std::string s; util::PutFixed64(&s, v); return s; }
inline std::string Cp(const std::string& utf8) { return util::Utf8ToCp866(utf8); }
inline std::string Tlv(uint16_t tag, const std::string& value) {
  return U16(tag) + U16(static_cast<uint16_t>(value.size())) + value;
}
// Signed 64-bit with the high zero bytes dropped (negatives keep all 8).
inline std::string Vln(int64_t v) {
  std::string s = U64(static_cast<uint64_t>(v));
  while (v >= 0 && s.size() > 1 && s.back() == '\0') s.pop_back();
  return s;
}
inline std::string Money(int64_t kopecks) {
  char text[32];
  snprintf(text, sizeof text, "%lld.%02lld", static_cast<long long>(kopecks / 100),
           static_cast<long long>(kopecks % 100));
  return text;
}
inline std::string LocalTime(uint32_t t) {
  const time_t when = t;
  struct tm tm = {};
  localtime_r(&when, &tm);
  char text[32];
  strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &tm);
  return text;
}
// Printed widths count CP866 bytes, one a character.
inline size_t Width(const std::string& utf8) { return Cp(utf8).size(); }
// A two-column line: the right text ends in the last column.
inline std::string Col(const std::string& left, const std::string& right, size_t w = 44) {
  const size_t used = Width(left) + Width(right);
  return left + std::string(used < w ? w - used : 0, ' ') + right;
}
inline std::string Centre(const std::string& text, size_t w = 44) {
  return std::string((w - Width(text)) / 2, ' ') + text;
}

// ---- the register the tests set up -----------------------------------------

inline const std::string kKey("\x5A\x00\xC3\x11" "fiscal-key!!", 16);
inline const std::string kSerial = "4200012345";
inline const std::string kInn = "7701234567";
inline const std::string kFn = "9999078900012345";  // all 16 bytes: its text gains a NUL
inline const std::string kCashier = Cp("Петрова");
inline const char* const kHeader[3] = {"ООО РОМАШКА", "г. Москва", "Магазин 7"};
inline const char* const kTaxNames[5] = {"НДС 20%", "НДС 10%", "НАЛОГ 3", "НАЛОГ 4", "НАЛОГ 5"};

inline std::string Prefix() { return U8(20) + U32(30); }  // the service cashier: all rights
inline std::string Named() { return U8(static_cast<uint8_t>(kCashier.size())) + kCashier; }

// Section 1 is named, section 2 is not; discount 1 is 10 %.
inline std::string SectionsFile() {
  std::string file;
  for (int n = 1; n <= 20; ++n) {
    std::string rec = U8(static_cast<uint8_t>(n)) + (n == 1 ? Cp("Бакалея") : "");
    rec.resize(128, '\0');
    file += rec;
  }
  return file;
}
inline std::string DiscountsFile() {
  std::string file;
  for (int n = 1; n <= 20; ++n) {
    std::string rec = U8(static_cast<uint8_t>(n)) + U32(n == 1 ? 1 : 0) + U64(n == 1 ? 1000 : 0);
    rec.resize(141, '\0');
    file += rec;
  }
  return file;
}
inline std::string TaxRate(int index, uint8_t type, uint16_t rate, const char* name) {
  return Tlv(static_cast<uint16_t>(13105 + index),
             Tlv(13102, U8(type)) + Tlv(13103, U16(rate)) + Tlv(13104, Cp(name)));
}

// ---- long runs ---------------------------------------------------------------

// A size or seed from the environment, or `fallback` when unset.
inline long EnvNumber(const char* name, long fallback) {
  const char* text = getenv(name);
  return text != nullptr && *text != '\0' ? atol(text) : fallback;
}

// Starts a prepared rig's device with the register's section and discount
// tables, a large card and no pauses, so that long runs fit many documents.
inline bool StartWithoutPauses(sim::Rig* rig) {
  return rig->Prepare() && rig->sandbox().WriteFile("/nv/SECTIONS", SectionsFile()) &&
         rig->sandbox().WriteFile("/nv/DISCOUNTS", DiscountsFile()) &&
         rig->sandbox().SetFreeBytes(int64_t{1} << 30) && rig->sandbox().SetNoPauses(true) && rig->Start() &&
         rig->WaitReady();
}

}  // namespace regtest

#endif  // FR_TESTS_REGISTER_TEXT_H_
