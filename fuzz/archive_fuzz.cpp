// Reads from a damaged archive: each input patches the small archive's
// index, fixed tail records and data blocks (fuzz/small_archive.h), every
// read operation runs, and the saved bytes are put back.
#include "fuzz/small_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  smallarchive::Archive& a = smallarchive::Get();
  const uint32_t pick = smallarchive::ApplyPatches(a, data, size);

  DocDescriptor d;
  a.archive->readLastDescriptor(&d);
  a.archive->readLastFiscalisationDescriptor(&d);
  for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 1u + pick % archive::kIndexSlots}) {
    a.archive->readDescriptor(n, &d);
    std::shared_ptr<BaseWorkDocument> doc;
    if (a.archive->readDocument(n, &doc) == rc::kOk && doc) {
      doc->encode();
      doc->printHeader();
      doc->printFooter(false);
    }
  }
  ShiftCounters shift;
  a.archive->readShiftCounters(&shift);
  a.archive->readRegistrationCounters(&shift);
  GrossCounters gross;
  a.archive->readGrossCounters(&gross);
  std::string image;
  for (size_t tables = 1; tables <= 4; ++tables) a.archive->readSectionTotals(tables, &image);
  uint8_t count = 0;
  a.archive->readRegistrationCount(&count);
  a.archive->archiveNumber();

  a.Restore();
  a.env.ClearLines();
  return 0;
}
