#include "storage/fiscal_archive.h"

#include <cstring>
#include <ctime>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/document_factory.h"
#include "documents/receipt_doc.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "storage/archive_format.h"
#include "storage/eeprom.h"
#include "storage/identity_format.h"
#include "storage/sd_card.h"
#include "util/coding.h"
#include "util/crc.h"
#include "workers/counters_format.h"

using namespace archive;

namespace {

uint32_t Field32(const DocDescriptor& d, size_t offset) { return util::DecodeFixed32(d.bytes + offset); }
uint16_t Field16(const DocDescriptor& d, size_t offset) { return util::DecodeFixed16(d.bytes + offset); }
uint64_t Field64(const DocDescriptor& d, size_t offset) { return util::DecodeFixed64(d.bytes + offset); }

// Wrapping sums of stored amounts: the counters never trap.
int64_t Add(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

}  // namespace

FiscalArchive::FiscalArchive(platform::Env* env, std::string path)
    : env_(env), path_(std::move(path)) {}

FiscalArchive::~FiscalArchive() { close(); }

void FiscalArchive::close() {
  if (file_) file_->Close();
  file_.reset();
}

bool FiscalArchive::open() {
  if (file_) return true;
  file_ = env_->OpenFile(path_, "r+");
  return file_ != nullptr;
}

bool FiscalArchive::readAt(uint64_t offset, void* buf, size_t n) {
  return open() && file_->Seek(offset) && file_->Read(buf, n) == n;
}

bool FiscalArchive::writeAt(uint64_t offset, const void* buf, size_t n) {
  return open() && file_->Seek(offset) && file_->Write(buf, n) == n && file_->Flush();
}

bool FiscalArchive::readSlot(uint64_t offset, DocDescriptor* d) {
  if (offset < kIndexOffset || (offset - kIndexOffset) % kDescriptorSize != 0 ||
      (offset - kIndexOffset) / kDescriptorSize > kLastDescriptorSlot) {
    return false;
  }
  return readAt(offset, d->bytes, sizeof(d->bytes));
}

bool FiscalArchive::writeSlot(uint64_t offset, const DocDescriptor& d) {
  if (offset < kIndexOffset || (offset - kIndexOffset) % kDescriptorSize != 0 ||
      (offset - kIndexOffset) / kDescriptorSize > kLastDescriptorSlot) {
    return false;
  }
  return writeAt(offset, d.bytes, sizeof(d.bytes));
}

bool FiscalArchive::readLastDescriptor(DocDescriptor* d) { return settled() && readSlot(kLastDocumentOffset, d); }

bool FiscalArchive::readLastFiscalisationDescriptor(DocDescriptor* d) {
  return settled() && readSlot(kLastFiscalisationOffset, d);
}

bool FiscalArchive::readDescriptor(uint32_t number, DocDescriptor* d) {
  if (number < 1 || number > kIndexSlots) return false;
  return settled() && readSlot(indexOffset(number), d);
}

bool FiscalArchive::readShiftCountersAt(uint64_t offset, ShiftCounters* c) {
  std::string image(counters::kShiftSize, '\0');
  return readAt(offset, &image[0], image.size()) && c->fromStored(image);
}

bool FiscalArchive::readShiftCounters(ShiftCounters* c) {
  return settled() && readShiftCountersAt(kShiftCountersOffset, c);
}

bool FiscalArchive::readRegistrationCounters(ShiftCounters* c) {
  return settled() && readShiftCountersAt(kRegistrationCountersOffset, c);
}

bool FiscalArchive::readGrossCounters(GrossCounters* c) {
  std::string image(counters::kGrossSize, '\0');
  return settled() && readAt(kGrossCountersOffset, &image[0], image.size()) && c->fromStored(image);
}

bool FiscalArchive::readSectionTotals(size_t tables, std::string* image) {
  if (tables < 1 || tables > 4) return false;
  image->assign(tables * counters::kSectionTableSize, '\0');
  return settled() && readAt(kSectionTotalsOffset, &(*image)[0], image->size());
}

bool FiscalArchive::readRegistrationCount(uint8_t* count) {
  return settled() && readAt(kRegistrationCountOffset, count, 1);
}

bool FiscalArchive::writeShiftCounters(uint64_t offset, const ShiftCounters& c) {
  ShiftCounters copy = c;
  copy.fromStored(c.image());  // block type bytes 0..3 before every write
  const std::string image = copy.image();
  return writeAt(offset, image.data(), image.size());
}

bool FiscalArchive::writeGrossCounters(const GrossCounters& c) {
  GrossCounters copy = c;
  copy.fromStored(c.image());
  const std::string image = copy.image();
  return writeAt(kGrossCountersOffset, image.data(), image.size());
}

uint32_t FiscalArchive::archiveNumber() {
  uint8_t buf[4];
  return readAt(kNumberOffset, buf, sizeof(buf)) ? util::DecodeFixed32(buf) : 0;
}

uint32_t FiscalArchive::makeArchiveNumber(platform::Env* env, int64_t t, const std::string& key) {
  env->SeedRandom(static_cast<unsigned>(t));
  const int r = env->Random();
  std::string data;
  util::PutFixed32(&data, static_cast<uint32_t>(t));
  util::PutFixed32(&data, static_cast<uint32_t>(r));
  data += key;
  const uint16_t h = util::Crc16(data);
  struct tm tm;
  if (!env->LocalTime(t, &tm)) memset(&tm, 0, sizeof(tm));
  const uint32_t year = tm.tm_year + 1900 >= 2000 ? static_cast<uint32_t>(tm.tm_year + 1900 - 2000) : 0;
  return (year << 25) + (static_cast<uint32_t>(tm.tm_mon + 1) << 21) +
         (static_cast<uint32_t>(tm.tm_mday) << 16) + h;
}

bool FiscalArchive::createFile() {
  env_->WriteLine("CREATE NEW STORAGE FILE ");
  std::unique_ptr<platform::File> f = env_->OpenFile(path_, "w");
  if (!f) return false;
  uint8_t number[4];
  util::EncodeFixed32(number, makeArchiveNumber(env_, env_->Now(), CoreIdentity::deviceKey()));
  bool ok = f->Seek(kMagicOffset) && f->Write(kMagic, 4) == 4;
  ok = ok && f->Seek(kNumberOffset) && f->Write(number, 4) == 4;
  ok = ok && f->Seek(kSecondMagicOffset) && f->Write(kMagic, 4) == 4;  // the rest stays a hole
  ok = f->Close() && ok;
  uint64_t size = 0;
  return ok && env_->FileSize(path_, &size) && size == kNewFileSize;
}

bool FiscalArchive::verifyFile() {
  std::unique_ptr<platform::File> f = env_->OpenFile(path_, "r");
  if (!f) return false;
  uint8_t head[8], tail[4];
  if (!f->Seek(0) || f->Read(head, 8) != 8 || !f->Seek(kSecondMagicOffset) || f->Read(tail, 4) != 4) {
    return false;
  }
  if (memcmp(head, kMagic, 4) != 0 || memcmp(tail, kMagic, 4) != 0 || util::DecodeFixed32(head + 4) == 0) {
    return false;
  }
  std::string image(identity::kModelDataSize, '\0');
  ModelData model;
  if (!f->Seek(kModelDataOffset) || f->Read(&image[0], image.size()) != image.size() || !model.parse(image)) {
    return false;
  }
  if (!(model == CoreIdentity::modelData()) && model.isValid()) {
    FrStatus::setFlag(FrStatus::kForeignArchive, true);
    return false;
  }
  image.assign(identity::kRegDataSize, '\0');
  RegData reg;
  if (!f->Seek(kRegDataOffset) || f->Read(&image[0], image.size()) != image.size() || !reg.parse(image)) {
    return false;
  }
  const bool same = reg == CoreIdentity::regData();
  if (!same && reg.isValid()) {
    FrStatus::setFlag(FrStatus::kArchiveUsable, false);
    return false;
  }
  FrStatus::setFlag(FrStatus::kRegistered, same);
  return true;
}

bool FiscalArchive::createOrVerify() {
  close();
  pending_ = rolling_back_ = false;
  const bool exists = env_->PathExists(path_);
  if (exists && !recover()) {
    FrStatus::setFlag(FrStatus::kArchiveUsable, false);
    return false;
  }
  close();
  const bool ok = exists ? verifyFile() : createFile();
  if (!ok || !open()) {
    FrStatus::setFlag(FrStatus::kArchiveUsable, false);
    return false;
  }
  return true;
}

int FiscalArchive::store(BaseWorkDocument* document) {
  if (document == nullptr || !document->isRegistered() || !doc::isKnownType(document->type())) {
    return rc::kNoDocumentObject;
  }
  if (pending_ && !recover()) return rc::kArchiveUnusable;
  DocDescriptor last;
  if (!open() || !readLastDescriptor(&last)) return rc::kArchiveUnusable;
  using namespace descriptor;
  const bool empty = Field32(last, kDocumentNumberOffset) == 0 && Field16(last, kLengthOffset) == 0 &&
                     Field16(last, kShiftNumberOffset) == 0 && Field64(last, kDataOffsetOffset) == 0;
  const uint32_t number = empty ? 1 : Field32(last, kDocumentNumberOffset) + 1;
  const uint64_t offset =
      empty ? kDataOffset : Field64(last, kDataOffsetOffset) + Field16(last, kLengthOffset);
  // The index ends at document 250000: the slots after it are the special ones.
  if (number == 0 || number > kIndexSlots) return rc::kArchiveUnusable;

  const uint8_t type = document->type();
  uint32_t fiscalisation = number;
  if (type != doc::kFiscalisation) {
    DocDescriptor f;
    if (!readLastFiscalisationDescriptor(&f)) return rc::kArchiveUnusable;
    fiscalisation = Field32(f, kDocumentNumberOffset);
  } else {
    // The registration list holds 50 entries; a 51st would overwrite the totals.
    uint8_t count = 0;
    if (!readRegistrationCount(&count)) return rc::kArchiveUnusable;
    if (count >= kRegistrationListSize) return rc::kArchiveUnusable;
  }

  // The reports carry the totals they print; a report without them would be
  // signed and stored wrong, so an unreadable total refuses the store.
  if (auto* z = dynamic_cast<CloseCycleDoc*>(document)) {
    ShiftCounters c;
    if (!readShiftCounters(&c)) return rc::kArchiveUnusable;
    z->setShiftCounters(c);
  } else if (auto* a = dynamic_cast<ArchiveCloseDoc*>(document)) {
    GrossCounters g;
    ShiftCounters c;
    if (!readGrossCounters(&g) || !readRegistrationCounters(&c)) return rc::kArchiveUnusable;
    a->setGrossCounters(g);
    a->setRegistrationCounters(c);
  } else if (auto* r = dynamic_cast<FiscalizationDocument*>(document)) {
    ShiftCounters c;
    if (number >= 2) {
      if (!readRegistrationCounters(&c)) return rc::kArchiveUnusable;
      r->setRegistrationCounters(c);
    }
  }

  document->setDocumentNumber(number);
  document->setFiscalisationNumber(fiscalisation);
  document->sign(CoreIdentity::deviceKey(), document->modelData().serialNumber());
  const std::string main = document->encode();
  if (!document->isComplete()) return rc::kEncodeFailed;
  // Too long for its kind: the same answer as a data block that would not fit.
  if (main.size() > document->maxSize()) return rc::kDocumentTooLarge;
  std::shared_ptr<DocDescriptor> d = document->descriptor();
  util::EncodeFixed16(d->bytes + kDataCrcOffset, util::Crc16(main));
  util::EncodeFixed16(d->bytes + kLengthOffset, static_cast<uint16_t>(main.size()));
  util::EncodeFixed64(d->bytes + kDataOffsetOffset, offset);
  util::EncodeFixed32(d->bytes + kFiscalisationOffset, fiscalisation);
  util::EncodeFixed16(d->bytes + kDescriptorCrcOffset, util::Crc16(d->bytes, kCoveredByCrc));

  const int written = writeBlock(document, main, offset, d.get());
  if (written != rc::kOk) return written;

  // The block and the index slot lie past the last document: harmless if
  // the store stops here. The header region is saved before it changes.
  if (!writeSlot(indexOffset(number), *d) || !saveHeaderState(number)) return rc::kArchiveUnusable;

  bool ok = true;
  switch (type) {
    case doc::kFiscalisation:
      ok = ok && writeSlot(kLastFiscalisationOffset, *d) && bookFiscalisation(document, number);
      break;
    case doc::kShiftOpen:
      ok = ok && writeSlot(kLastShiftOpenOffset, *d) && bookShiftOpen(*d);
      break;
    case doc::kShiftClose:
      ok = ok && writeSlot(kLastShiftCloseOffset, *d);
      break;
    case doc::kCashIn:
    case doc::kCashOut: {
      const auto* cash = dynamic_cast<const CashCtrlDocument*>(document);
      ok = ok && cash != nullptr && bookCash(cash->isCashIn(), cash->amount().mantissa());
      break;
    }
    case doc::kReceipt:
      ok = ok && bookReceipt(*document);
      break;
    default:
      break;
  }
  // Writing the last-document slot is the commit: the document exists from
  // then on. Before it, any failure puts the header back as it was.
  ok = ok && writeSlot(kLastDocumentOffset, *d) && file_->Sync();
  if (!ok) {
    rollBack();
    return rc::kArchiveUnusable;
  }
  // The document is stored whatever follows, so the answer is 0: a refusal
  // would have the host close it again under a new number. A registration
  // the EEPROM did not take keeps the record pending (and the identity error
  // raised) until a later settle writes it.
  if (type == doc::kFiscalisation && !applyRegistration(document->regData())) {
    pending_ = true;
    return rc::kOk;
  }
  if (!clearRecoveryRecord()) pending_ = true;
  return rc::kOk;
}

bool FiscalArchive::saveHeaderState(uint32_t number) {
  static_assert(kHeaderStateOffset + kHeaderStateSize == kSectionTotalsOffset + counters::kSectionTotalsSize,
                "the saved image ends with the section totals");
  static_assert(kRecoveryOffset >= kHeaderStateOffset + kHeaderStateSize &&
                    kRecoveryOffset + kRecoveryHeaderSize + kHeaderStateSize <= kSecondMagicOffset,
                "the recovery record lies in the unused part of the header region");
  std::string record(kRecoveryHeaderSize + kHeaderStateSize, '\0');
  if (!readAt(kHeaderStateOffset, &record[kRecoveryHeaderSize], kHeaderStateSize)) return false;
  memcpy(&record[0], kRecoveryMagic, 4);
  uint8_t* raw = reinterpret_cast<uint8_t*>(&record[0]);
  util::EncodeFixed32(raw + 8, number);
  util::EncodeFixed32(raw + 4, util::Crc32(raw + 8, record.size() - 8));
  // The record must be on the medium before the first header write.
  if (writeAt(kRecoveryOffset, record.data(), record.size()) && file_->Sync()) return true;
  if (!clearRecoveryRecord()) pending_ = true;
  return false;
}

bool FiscalArchive::clearRecoveryRecord() {
  const uint8_t zero[4] = {0, 0, 0, 0};
  if (!writeAt(kRecoveryOffset, zero, sizeof(zero))) return false;
  pending_ = rolling_back_ = false;
  return true;
}

bool FiscalArchive::rollBack() {
  // Reopen: a stream that failed a write may keep failing.
  close();
  pending_ = true;
  // The host hears of a failure, so the document goes even if its slot landed.
  rolling_back_ = true;
  return recover();
}

bool FiscalArchive::recover() {
  // Unreadable is not the same as absent: a record we cannot read stays.
  std::string record(kRecoveryHeaderSize + kHeaderStateSize, '\0');
  if (!readAt(kRecoveryOffset, &record[0], 4)) return false;
  if (memcmp(record.data(), kRecoveryMagic, 4) != 0) {
    pending_ = false;
    return true;
  }
  if (!readAt(kRecoveryOffset, &record[0], record.size())) return false;
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(record.data());
  if (util::Crc32(raw + 8, record.size() - 8) != util::DecodeFixed32(raw + 4)) {
    // Cut while the record was written: the header was not touched yet.
    return clearRecoveryRecord();
  }
  const uint32_t number = util::DecodeFixed32(raw + 8);
  const char* image = record.data() + kRecoveryHeaderSize;
  // The last-document slot was written whole when it equals the document's
  // index slot, which was on the medium before the record.
  DocDescriptor last, indexed;
  if (!readSlot(kLastDocumentOffset, &last)) return false;
  const bool committed = !rolling_back_ && number >= 1 && number <= kIndexSlots &&
                         Field32(last, descriptor::kDocumentNumberOffset) == number &&
                         readSlot(indexOffset(number), &indexed) &&
                         memcmp(last.bytes, indexed.bytes, sizeof(last.bytes)) == 0;
  if (committed) {
    if (last.bytes[descriptor::kTypeOffset] == doc::kFiscalisation) {
      std::string reg_image(identity::kRegDataSize, '\0');
      RegData reg;
      if (!readAt(kRegDataOffset, &reg_image[0], reg_image.size()) || !reg.parse(reg_image) ||
          !applyRegistration(reg)) {
        return false;
      }
    }
    env_->WriteLine("STORAGE RECOVERY: DOCUMENT " + std::to_string(number) + " KEPT");
  } else {
    if (!writeAt(kHeaderStateOffset, image, kHeaderStateSize) || !file_->Sync()) return false;
    env_->WriteLine("STORAGE RECOVERY: DOCUMENT " + std::to_string(number) + " ROLLED BACK");
  }
  return clearRecoveryRecord();
}

bool FiscalArchive::applyRegistration(const RegData& reg) {
  if (!eeprom::writeRegData(env_, reg)) {
    FrStatus::setFlag(FrStatus::kIdentityError, true);
    return false;
  }
  CoreIdentity::replaceRegData(reg);
  return true;
}

int FiscalArchive::writeBlock(BaseWorkDocument* document, const std::string& main, uint64_t offset,
                              DocDescriptor* d) {
  auto* receipt = dynamic_cast<ReceiptDoc*>(document);
  if (receipt == nullptr) {
    if (main.size() > kMaxDocumentBlock) return rc::kDocumentTooLarge;
    return writeAt(offset, main.data(), main.size()) ? rc::kOk : rc::kArchiveUnusable;
  }
  // A receipt continues with its tax rates, sections and lines.
  std::string block = main;
  auto append = [&block](const std::string& part) {
    if (block.size() + part.size() > kMaxReceiptBlock) return false;
    block += part;
    return true;
  };
  if (!append(receipt->taxRateElements()) || !append(receipt->sectionElements())) {
    return rc::kDocumentTooLarge;
  }
  for (std::string line = receipt->firstLine(); !line.empty(); line = receipt->nextLine()) {
    if (!append(line)) return rc::kDocumentTooLarge;
  }
  if (!writeAt(offset, block.data(), block.size())) return rc::kArchiveUnusable;
  // The length covers every part; the CRC stays that of the main data.
  util::EncodeFixed16(d->bytes + descriptor::kLengthOffset, static_cast<uint16_t>(block.size()));
  return rc::kOk;
}

bool FiscalArchive::bookCash(bool cash_in, int64_t amount) {
  for (uint64_t offset : {kShiftCountersOffset, kRegistrationCountersOffset}) {
    ShiftCounters c;
    if (!readShiftCountersAt(offset, &c)) return false;
    if (cash_in) {
      c.setCashInCount(static_cast<uint16_t>(c.cashInCount() + 1));
      c.setCashInSum(Add(c.cashInSum(), amount));
      c.setCashInDrawer(Add(c.cashInDrawer(), amount));
    } else {
      c.setCashOutCount(static_cast<uint16_t>(c.cashOutCount() + 1));
      if (amount > c.cashInDrawer()) amount = c.cashInDrawer();  // carried on to the next record
      c.setCashOutSum(Add(c.cashOutSum(), amount));
      c.setCashInDrawer(Add(c.cashInDrawer(), -amount));
    }
    if (!writeShiftCounters(offset, c)) return false;
  }
  GrossCounters g;
  if (!readGrossCounters(&g)) return false;
  if (cash_in) {
    g.setCashInCount(static_cast<uint16_t>(g.cashInCount() + 1));
    g.setCashInSum(Add(g.cashInSum(), amount));
  } else {
    g.setCashOutCount(static_cast<uint16_t>(g.cashOutCount() + 1));
    g.setCashOutSum(Add(g.cashOutSum(), amount));
  }
  return writeGrossCounters(g);
}

bool FiscalArchive::bookReceipt(const BaseWorkDocument& document) {
  const auto* receipt = dynamic_cast<const ReceiptDoc*>(&document);
  if (receipt == nullptr) return false;
  const uint8_t k = receipt->receiptType();
  if (k > 3) return false;  // only four operation blocks
  const int64_t total = receipt->total().mantissa();
  const int64_t cash = receipt->cashPayment().mantissa();
  const int64_t cashless = receipt->cashlessPayment().mantissa();
  const bool incoming = k == 0 || k == 2;

  for (uint64_t offset : {kShiftCountersOffset, kRegistrationCountersOffset}) {
    ShiftCounters c;
    if (!readShiftCountersAt(offset, &c)) return false;
    c.setReceiptCount(c.receiptCount() + 1);
    if (incoming) {
      c.setCashInDrawer(Add(c.cashInDrawer(), cash));
    } else {
      c.setCashInDrawer(Add(c.cashInDrawer(), -(cash < c.cashInDrawer() ? cash : c.cashInDrawer())));
    }
    OperationCounters block = c.block(k);
    block.setReceiptCount(block.receiptCount() + 1);
    block.setTotal(Add(block.total(), total));
    block.setCash(Add(block.cash(), cash));
    block.setCashless(Add(block.cashless(), cashless));
    for (const auto& tax : receipt->taxTotals()) {
      if (tax.first >= 1 && tax.first <= 5) {
        block.setTax(tax.first - 1, Add(block.tax(tax.first - 1), tax.second.rescaled(100).mantissa()));
      }
    }
    c.setBlock(k, block);
    if (!writeShiftCounters(offset, c)) return false;
  }

  GrossCounters g;
  if (!readGrossCounters(&g)) return false;
  g.setReceiptCount(g.receiptCount() + 1);
  OperationCounters block = g.block(k);
  block.setReceiptCount(block.receiptCount() + 1);
  block.setTotal(Add(block.total(), total));
  block.setCash(Add(block.cash(), cash));
  block.setCashless(Add(block.cashless(), cashless));
  g.setBlock(k, block);
  if (!writeGrossCounters(g)) return false;

  SectionTotals sections;
  std::string image;
  if (!readSectionTotals(4, &image) || !sections.parse(image)) return false;
  for (const auto& section : receipt->sectionTotals()) {
    if (section.first >= 1 && section.first <= 20) {
      sections.setAmount(k, section.first - 1,
                         Add(sections.amount(k, section.first - 1), section.second.rescaled(100).mantissa()));
    }
  }
  image = sections.image();
  return writeAt(kSectionTotalsOffset, image.data(), image.size());
}

bool FiscalArchive::bookFiscalisation(BaseWorkDocument* document, uint32_t number) {
  const RegData reg = document->regData();
  const ModelData model = document->modelData();
  const std::string model_image = model.image(), reg_image = reg.image();
  uint8_t count = 0;
  if (!writeAt(kModelDataOffset, model_image.data(), model_image.size()) ||
      !writeAt(kRegDataOffset, reg_image.data(), reg_image.size()) || !readRegistrationCount(&count) ||
      count >= kRegistrationListSize) {
    return false;
  }
  uint8_t entry[4];
  util::EncodeFixed32(entry, number);
  const uint8_t next = static_cast<uint8_t>(count + 1);
  if (!writeAt(kRegistrationListOffset + 4u * count, entry, 4) || !writeAt(kRegistrationCountOffset, &next, 1) ||
      !writeShiftCounters(kRegistrationCountersOffset, ShiftCounters())) {
    return false;
  }
  return true;  // the EEPROM follows once the document is committed
}

bool FiscalArchive::bookShiftOpen(const DocDescriptor& d) {
  const uint16_t shift = Field16(d, descriptor::kShiftNumberOffset);
  ShiftCounters current;
  current.setShiftNumber(shift);
  ShiftCounters since;
  GrossCounters gross;
  if (!writeShiftCounters(kShiftCountersOffset, current) || !readRegistrationCounters(&since)) return false;
  since.setShiftNumber(static_cast<uint16_t>(since.shiftNumber() + 1));
  if (!writeShiftCounters(kRegistrationCountersOffset, since) || !readGrossCounters(&gross)) return false;
  gross.setShiftNumber(shift);
  const std::string zero(4 * counters::kSectionTableSize, '\0');
  return writeGrossCounters(gross) && writeAt(kSectionTotalsOffset, zero.data(), zero.size());
}

int FiscalArchive::readDocument(uint32_t number, std::shared_ptr<BaseWorkDocument>* document) {
  using namespace descriptor;
  DocDescriptor last, fiscal, d;
  if (!readLastDescriptor(&last)) return rc::kArchiveUnusable;
  const uint32_t last_number = Field32(last, kDocumentNumberOffset);
  if (number > last_number) return rc::kNotFound;
  if (!readLastFiscalisationDescriptor(&fiscal)) return rc::kArchiveUnusable;
  if (number == last_number) {
    d = last;
  } else if (!readDescriptor(number, &d)) {
    return rc::kArchiveUnusable;
  }

  RegData reg = CoreIdentity::regData();
  const uint32_t own = Field32(d, kFiscalisationOffset);
  if (own != Field32(fiscal, kDocumentNumberOffset)) {
    // An earlier registration: its report carries the registration of the day.
    DocDescriptor f;
    std::shared_ptr<BaseWorkDocument> report;
    if (own == 0 || own > last_number || !readDescriptor(own, &f)) return rc::kArchiveUnusable;
    const int code = rebuild(f, CoreIdentity::regData(), &report);
    if (code != rc::kOk) return code;
    if (number == own) {
      *document = report;
      return rc::kOk;
    }
    reg = report->regData();
  }
  return rebuild(d, reg, document);
}

int FiscalArchive::rebuild(const DocDescriptor& d, const RegData& reg,
                           std::shared_ptr<BaseWorkDocument>* out) {
  using namespace descriptor;
  std::string block(Field16(d, kLengthOffset), '\0');
  if (!block.empty() && !readAt(Field64(d, kDataOffsetOffset), &block[0], block.size())) {
    return rc::kArchiveUnusable;
  }
  return RebuildDocument(env_, d, block, CoreIdentity::modelData(), reg, out);
}

int RebuildDocument(platform::Env* env, const DocDescriptor& d, const std::string& block, const ModelData& model,
                    const RegData& reg, std::shared_ptr<BaseWorkDocument>* out) {
  using namespace descriptor;
  Cashier cashier;
  cashier.number = d.bytes[kCashierNumberOffset];
  std::shared_ptr<BaseWorkDocument> document = makeDocument(env, d.bytes[kTypeOffset], model, reg, cashier);
  if (!document) return rc::kArchiveUnusable;
  document->setDocumentNumber(Field32(d, kDocumentNumberOffset));
  document->setShiftNumber(Field16(d, kShiftNumberOffset));
  document->setFiscalisationNumber(Field32(d, kFiscalisationOffset));
  document->setDateTime(Field32(d, kDateTimeOffset));
  document->setFiscalSign(Field32(d, kFiscalSignOffset));

  size_t p = 1;  // after the type byte
  while (p < block.size()) {
    if (p + TlvElement::kHeaderSize > block.size()) return rc::kArchiveUnusable;
    const uint8_t* head = reinterpret_cast<const uint8_t*>(block.data()) + p;
    const size_t value_length = util::DecodeFixed16(head + 2);
    if (p + TlvElement::kHeaderSize + value_length > block.size()) return rc::kArchiveUnusable;
    document->setStoredTag(
        TlvElement(util::DecodeFixed16(head), block.substr(p + TlvElement::kHeaderSize, value_length)));
    p += TlvElement::kHeaderSize + value_length;
  }
  *out = document;
  return rc::kOk;
}

void FiscalArchive::publish() {
  using namespace descriptor;
  FrStatus::setCapacity(sdcard::maxDocuments(env_));
  uint8_t count = 0;
  if (readRegistrationCount(&count)) FrStatus::setRegistrationCount(count);
  DocDescriptor last;
  const bool have_last = readLastDescriptor(&last);
  if (have_last) {
    FrStatus::setLastDocumentNumber(Field32(last, kDocumentNumberOffset));
    FrStatus::setLastDocumentTime(static_cast<int32_t>(Field32(last, kDateTimeOffset)));
  }

  DocDescriptor opened;
  if (readSlot(kLastShiftOpenOffset, &opened)) {
    const uint16_t shift = Field16(opened, kShiftNumberOffset);
    if (shift != 0) {
      FrStatus::setShiftNumber(shift);
      FrStatus::setShiftOpenDocument(Field32(opened, kDocumentNumberOffset));
      FrStatus::setShiftOpenTime(Field32(opened, kDateTimeOffset));
      DocDescriptor closed;
      if (readSlot(kLastShiftCloseOffset, &closed)) {
        const bool open_now = Field16(closed, kShiftNumberOffset) < shift;
        FrStatus::setFlag(FrStatus::kShiftOpen, open_now);
        if (open_now) {
          FrStatus::setLastShiftDocument(have_last ? Field32(last, kDocumentNumberOffset) : 0);
          FrStatus::setShiftCloseTime(0);
        } else {
          FrStatus::setLastShiftDocument(Field32(closed, kDocumentNumberOffset));
          FrStatus::setShiftCloseTime(Field32(closed, kDateTimeOffset));
        }
      }
      ShiftCounters c;
      if (readShiftCounters(&c)) {
        FrStatus::setReceiptsInShift(static_cast<uint16_t>(c.receiptCount()));
        FrStatus::setCashInDrawer(c.cashInDrawer());
      }
    }
  }
  FrStatus::setFlag(FrStatus::kArchiveClosed, have_last && last.bytes[kTypeOffset] == doc::kArchiveClose);
}
