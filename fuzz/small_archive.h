// A small valid archive (fiscalisation, shift open, cash in, cash out) on a
// fake board, built once per fuzz process, whose index, fixed tail records
// and data blocks each input patches; Restore puts the saved bytes back.
// Shared by the fuzz targets that read archives.
#ifndef FR_FUZZ_SMALL_ARCHIVE_H_
#define FR_FUZZ_SMALL_ARCHIVE_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/codes.h"
#include "app/fr_status.h"
#include "app/identity.h"
#include "documents/registration_documents.h"
#include "documents/shift_documents.h"
#include "platform/fake_env.h"
#include "storage/archive_format.h"
#include "storage/eeprom_format.h"
#include "storage/fiscal_archive.h"
#include "storage/identity_test_util.h"
#include "storage/reg_data.h"
#include "storage/tax_rate.h"
#include "util/coding.h"

namespace smallarchive {

inline const std::string kKey = std::string("archive-fuzz-key", 16);
constexpr const char* kPath = "/mnt/sd/V0XD24TX";

// The valid archive must exist before damaging it; say which step failed.
inline void RequireAt(bool ok, int line) {
  if (!ok) {
    fprintf(stderr, "small archive: set-up failed at line %d\n", line);
    abort();
  }
}
#define Require(ok) RequireAt((ok), __LINE__)

struct Region {
  uint64_t offset;
  std::string saved;
};

struct Archive {
  platform::FakeEnv env;
  std::unique_ptr<FiscalArchive> archive;
  int fd = -1;
  Region regions[3];

  Archive() {
    FrStatus::reset();
    Require(env.CreateDirectory("/mnt") && env.CreateDirectory("/mnt/sd"));
    Require(env.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')));
    CoreIdentity::storeDeviceKey(kKey);
    CoreIdentity::replaceModelData(identitytest::SignedModel("0123456789", kKey));
    CoreIdentity::replaceRegData(RegData());
    archive.reset(new FiscalArchive(&env, kPath));
    Require(archive->createOrVerify());

    TaxRate vat;
    vat.setRateWord(0x4000 | 2000);
    vat.setName("VAT 20");
    const RegData reg = identitytest::SignedReg("0123456789", kKey, 1700000000, "7701234567", {vat.image()});
    Cashier clerk;
    clerk.number = 3;
    clerk.rights = 0x03FF;
    clerk.password = 1;
    clerk.name = "clerk";
    const std::string name = std::string("\x05") + "clerk";
    const uint32_t now = static_cast<uint32_t>(env.Now());
    uint16_t missing = 0;

    FiscalizationDocument fisc(&env, CoreIdentity::modelData(), reg, clerk);
    Require(fisc.setCashierName(name) == rc::kOk);
    Require(fisc.close(now, kKey, "", &missing) == rc::kOk);
    Require(archive->store(&fisc) == rc::kOk);

    CycleOpenDocument open(&env, CoreIdentity::modelData(), CoreIdentity::regData(), clerk);
    open.setCashierName(name);
    Require(open.close(now, kKey, "", &missing) == rc::kOk);
    Require(archive->store(&open) == rc::kOk);
    FrStatus::setShiftNumber(open.shiftNumber());

    FrStatus::setCashInDrawer(100000);  // so the cash out has cash to take
    for (uint8_t type : {doc::kCashIn, uint8_t{6}}) {
      CashCtrlDocument cash(&env, type, CoreIdentity::modelData(), CoreIdentity::regData(), clerk);
      cash.setCashierName(name);
      std::string amount;
      util::PutFixed64(&amount, 5000);
      Require(cash.close(now, kKey, amount, &missing) == rc::kOk);
      Require(archive->store(&cash) == rc::kOk);
    }

    fd = ::open(env.Resolve(kPath).c_str(), O_RDWR);
    Require(fd >= 0);
    uint64_t size = 0;
    Require(env.FileSize(kPath, &size) && size > archive::kDataOffset);
    Save(0, 0, archive::kIndexOffset + 8 * archive::kDescriptorSize);
    Save(1, archive::kLastShiftOpenOffset, archive::kSectionTotalsOffset + 640 -
                                               archive::kLastShiftOpenOffset);
    Save(2, archive::kSecondMagicOffset, size - archive::kSecondMagicOffset);
    env.ClearLines();
  }

  void Save(int i, uint64_t offset, uint64_t size) {
    regions[i].offset = offset;
    regions[i].saved.resize(size);
    Require(pread(fd, &regions[i].saved[0], size, offset) == static_cast<ssize_t>(size));
  }
  void Patch(int i, size_t at, const std::string& bytes) {
    const Region& r = regions[i];
    at %= r.saved.size();
    const size_t n = bytes.size() < r.saved.size() - at ? bytes.size() : r.saved.size() - at;
    Require(pwrite(fd, bytes.data(), n, r.offset + at) == static_cast<ssize_t>(n));
  }
  void Restore() {
    for (const Region& r : regions) Patch(&r - regions, 0, r.saved);
  }
};

inline Archive& Get() {
  static Archive* a = new Archive();  // never destroyed: the file stays open
  return *a;
}

// Applies an input's patches: region (1), offset (3, LE), length (1), bytes;
// up to eight. Returns a number drawn from the offsets.
inline uint32_t ApplyPatches(Archive& a, const uint8_t* data, size_t size) {
  size_t pos = 0;
  uint32_t pick = 1;
  for (int i = 0; i < 8 && pos + 5 <= size; ++i) {
    const int region = data[pos] % 3;
    const size_t at = data[pos + 1] | (data[pos + 2] << 8) | (data[pos + 3] << 16);
    size_t n = data[pos + 4];
    pos += 5;
    if (n > size - pos) n = size - pos;
    a.Patch(region, at, std::string(reinterpret_cast<const char*>(data + pos), n));
    pick = pick * 31 + static_cast<uint32_t>(at);
    pos += n;
  }
  return pick;
}

}  // namespace smallarchive

#endif  // FR_FUZZ_SMALL_ARCHIVE_H_

