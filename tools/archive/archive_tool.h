// fr-archive: a register's archive file read as an auditor reads it, from a
// card or a copy, never written to. Every command takes the file's PATH and
// writes its answer to `out`; the exit status is the command's.
//   verify   the archive checker's findings (the one the tests use), each
//            receipt recomputed from its lines, and with the identity
//            EEPROM's image each document's fiscal sign
//   list     one line per document
//   show     one document as the register prints its copy, or as data
//   export   every document, or those a filter keeps, as JSON or CSV
//   totals   a shift's totals or a range of shifts' as the register keeps them
#ifndef FR_TOOLS_ARCHIVE_ARCHIVE_TOOL_H_
#define FR_TOOLS_ARCHIVE_ARCHIVE_TOOL_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "documents/base_document.h"
#include "documents/descriptor_format.h"
#include "host/status.h"
#include "platform/env.h"
#include "storage/model_data.h"
#include "storage/reg_data.h"

namespace archivetool {

// A board whose diagnostic lines go nowhere: the device code's own (a stored
// tag it does not know, say) are not part of an answer.
class QuietEnv : public platform::EnvWrapper {
 public:
  explicit QuietEnv(platform::Env* target) : EnvWrapper(target) {}
  void WriteLine(const std::string&) override {}
  void WriteText(const std::string&) override {}
};

// The identity an EEPROM image holds: the raw 4096 bytes, or `fr-core -d`'s
// hexadecimal dump of them.
struct Identity {
  std::string key;
  ModelData model;
};
host::Status ParseEepromImage(const std::string& bytes, Identity* out);

// The archive file, opened for reading only.
class Card {
 public:
  // nullptr with *error when the file cannot be opened.
  static host::Status Open(platform::Env* env, const std::string& path, std::unique_ptr<Card>* card);

  const std::string& path() const { return path_; }
  uint32_t lastNumber();
  bool readDescriptor(uint32_t n, DocDescriptor* d);
  // Document n with the registration it was made under (the report of an
  // earlier registration carries its own); `model` is the identity it is
  // shown with. kNotFound past the last document, kArchiveUnusable for a
  // document that does not read.
  int readDocument(uint32_t n, const ModelData& model, std::shared_ptr<BaseWorkDocument>* out);
  ModelData headModel();
  RegData headReg();
  bool readAt(uint64_t offset, size_t n, std::string* bytes);

 private:
  Card(platform::Env* env, std::string path, std::unique_ptr<platform::File> file)
      : env_(env), path_(std::move(path)), file_(std::move(file)) {}
  int rebuild(const DocDescriptor& d, const ModelData& model, const RegData& reg,
              std::shared_ptr<BaseWorkDocument>* out);

  platform::Env* const env_;
  const std::string path_;
  std::unique_ptr<platform::File> file_;
};

// Which documents an export keeps: numbers, times (seconds since 1970, UTC)
// and a shift; zero means no bound.
struct Filter {
  uint32_t first = 0, last = 0;
  uint32_t from_time = 0, to_time = 0;
  uint16_t shift = 0;
};

// Exit statuses: 0 done (verify: a clean archive), 1 findings or a refusal,
// 2 the file could not be read at all.
int Verify(platform::Env* env, const std::string& path, const std::string& eeprom_path, std::ostream& out);
int List(platform::Env* env, const std::string& path, const Filter& filter, std::ostream& out);
int Show(platform::Env* env, const std::string& path, uint32_t number, bool json, const std::string& eeprom_path,
         std::ostream& out);
int Export(platform::Env* env, const std::string& path, const std::string& format, const Filter& filter,
           std::ostream& out);
// shift 0: the last shift; last_shift > shift: the closed shifts of the
// range shift..last_shift, summed as the register's shift range report sums
// them.
int Totals(platform::Env* env, const std::string& path, uint16_t shift, uint16_t last_shift, bool json,
           std::ostream& out);

}  // namespace archivetool

#endif  // FR_TOOLS_ARCHIVE_ARCHIVE_TOOL_H_
