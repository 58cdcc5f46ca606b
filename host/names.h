#ifndef FR_HOST_NAMES_H_
#define FR_HOST_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// The names programs use for the register's codes: one table per
// vocabulary, the same spelling in every program, answer, file and page.
struct Named {
  uint8_t code;
  const char* name;
};

class NameTable {
 public:
  template <size_t N>
  constexpr explicit NameTable(const Named (&entries)[N]) : entries_(entries), size_(N) {}

  // nullptr for a code the table does not name.
  const char* Name(uint8_t code) const;
  // False, leaving *code alone, for a name the table does not hold.
  bool Code(const std::string& name, uint8_t* code) const;
  // The names for people: "sale, purchase, return-sale, return-purchase".
  std::string List() const;
  const Named* begin() const { return entries_; }
  const Named* end() const { return entries_ + size_; }

 private:
  const Named* entries_;
  size_t size_;
};

// Document types (doc::k*): "registration", "shift-close", "receipt",
// "archive-close", "cash-in", "cash-out", "shift-open".
extern const NameTable kDocumentTypes;
// Receipt types (receipt::k*): "sale", "purchase", "return-sale",
// "return-purchase".
extern const NameTable kReceiptTypes;
// Reports (report::k*, and kControlTape for the control tape's copy).
extern const NameTable kReportKinds;
constexpr uint8_t kControlTape = 0;
// Totals records, by the command that reads them (54 to 57): "shift",
// "registration", "gross", "sections".
extern const NameTable kTotalsRecords;

inline const char* ReceiptTypeName(uint8_t type) { return kReceiptTypes.Name(type); }
inline const char* DocumentTypeName(uint8_t type) { return kDocumentTypes.Name(type); }

}  // namespace host

#endif  // FR_HOST_NAMES_H_
