// The fiscal archive: every document the register makes, stored once and
// for ever in one file on the SD card, with a fixed-position index of
// descriptors, the running totals and the identity copies of the last
// fiscalisation. Main thread only.
#ifndef FR_STORAGE_FISCAL_ARCHIVE_H_
#define FR_STORAGE_FISCAL_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "documents/base_document.h"
#include "platform/env.h"
#include "workers/counters.h"

class FiscalArchive {
 public:
  // REQUIRES: env outlives the archive. Nothing is opened here.
  FiscalArchive(platform::Env* env, std::string path);
  ~FiscalArchive();

  FiscalArchive(const FiscalArchive&) = delete;
  FiscalArchive& operator=(const FiscalArchive&) = delete;

  // Start-up: a missing file is created, an existing one first recovered
  // (see recover) and verified against the device's identity (status bits
  // 0x04 and 0x02 follow); then opened.
  bool createOrVerify();
  // Finishes a store that was cut short: a document that became the last
  // one is kept, anything else it wrote to the header region is rolled back
  // from the recovery record. False when a pending record cannot be settled.
  bool recover();
  bool open();
  void close();

  // Numbers, signs, encodes and writes the document and books its totals.
  // 0, 3 (not storable), 4 (not serialisable), 5 (storage), 7 (too large).
  // All or nothing: when it fails the archive is as it was before.
  int store(BaseWorkDocument* document);
  // 0 with the rebuilt document, 5 or 17.
  int readDocument(uint32_t number, std::shared_ptr<BaseWorkDocument>* document);

  bool readLastDescriptor(DocDescriptor* d);
  bool readLastFiscalisationDescriptor(DocDescriptor* d);
  bool readDescriptor(uint32_t number, DocDescriptor* d);  // 1..250000

  bool readShiftCounters(ShiftCounters* c);
  bool readRegistrationCounters(ShiftCounters* c);
  bool readGrossCounters(GrossCounters* c);
  // The first `tables` (1..4) tables of the section totals.
  bool readSectionTotals(size_t tables, std::string* image);
  bool readRegistrationCount(uint8_t* count);

  // Start-up: capacity, registration count, last document and shift state
  // into the device status.
  void publish();

  uint32_t archiveNumber();
  // Made from the clock, the random generator and the key.
  static uint32_t makeArchiveNumber(platform::Env* env, int64_t t, const std::string& key);

 private:
  bool readAt(uint64_t offset, void* buf, size_t n);
  bool writeAt(uint64_t offset, const void* buf, size_t n);
  bool readSlot(uint64_t offset, DocDescriptor* d);
  bool writeSlot(uint64_t offset, const DocDescriptor& d);
  bool writeShiftCounters(uint64_t offset, const ShiftCounters& c);
  bool readShiftCountersAt(uint64_t offset, ShiftCounters* c);
  bool writeGrossCounters(const GrossCounters& c);
  int writeBlock(BaseWorkDocument* document, const std::string& main, uint64_t offset,
                 DocDescriptor* d);
  bool bookCash(bool cash_in, int64_t amount);
  bool bookReceipt(const BaseWorkDocument& receipt);
  bool bookFiscalisation(BaseWorkDocument* document, uint32_t number);
  bool bookShiftOpen(const DocDescriptor& d);
  // False while a store that failed half-way cannot be rolled back: the
  // header region may be half written, so nothing is read from it.
  bool settled() { return !pending_ || recover(); }
  // The recovery record around the header writes of one store.
  bool saveHeaderState(uint32_t number);
  bool clearRecoveryRecord();
  bool rollBack();
  // The EEPROM and the identity holder follow a stored fiscalisation.
  bool applyRegistration(const RegData& reg);
  // A document of the descriptor's kind, read back from its data block.
  int rebuild(const DocDescriptor& d, const RegData& reg, std::shared_ptr<BaseWorkDocument>* out);
  bool createFile();
  bool verifyFile();

  platform::Env* const env_;
  const std::string path_;
  std::unique_ptr<platform::File> file_;
  // A recovery record may still be pending in the file: settle it first.
  bool pending_ = false;
  // The pending store was refused: settle it by rolling back, whatever landed.
  bool rolling_back_ = false;
};

// The document a descriptor and its data block (`block`, the descriptor's
// length of bytes from its data offset) describe, as stored: of the
// descriptor's kind, with `model` and `reg` as its identity. kArchiveUnusable
// when the block does not read as one. Shared with the readers of a card.
int RebuildDocument(platform::Env* env, const DocDescriptor& d, const std::string& block, const ModelData& model,
                    const RegData& reg, std::shared_ptr<BaseWorkDocument>* out);

#endif  // FR_STORAGE_FISCAL_ARCHIVE_H_
