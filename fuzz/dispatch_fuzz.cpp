// Host commands straight into CoreWorker::dispatch. The register (EEPROM,
// tables, card and archive) is brought up once; each input is a short
// sequence of commands: code (1), payload length (2, LE), payload. State
// carries over between inputs, as it does between host requests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/core_worker.h"
#include "app/fr_status.h"
#include "platform/fake_env.h"
#include "storage/eeprom_format.h"
#include "storage/sd_card.h"

namespace {

struct Register {
  platform::FakeEnv env;
  CoreWorker* worker = nullptr;

  Register() {
    bool ok = env.WriteFile(eeprom::kPath, std::string(eeprom::kSize, '\xFF')) &&
              env.CreateDirectory("/nv") && env.CreateDirectory("/dev") &&
              env.WriteFile(sdcard::kDevice, "") && env.CreateDirectory("/mnt");
    if (!ok) abort();  // a half-built sandbox would fuzz nothing useful
    worker = new CoreWorker(&env);  // never destroyed: lives as long as the process
    worker->initialise();
    env.ClearLines();
  }
};

Register& Get() {
  static Register* r = new Register();
  return *r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Register& reg = Get();
  size_t pos = 0;
  for (int i = 0; i < 16 && pos + 3 <= size; ++i) {
    CoreTransaction t;
    t.command = data[pos];
    size_t length = data[pos + 1] | (data[pos + 2] << 8);
    pos += 3;
    if (length > size - pos) length = size - pos;
    t.data.assign(reinterpret_cast<const char*>(data + pos), length);
    pos += length;
    t.id = static_cast<uint32_t>(i + 1);
    CoreApiResult r = reg.worker->dispatch(t);
    // Every command is answered: the result code must be filled in.
    if (r.code == CoreApiResult::kNotFilled) abort();
  }
  reg.env.ClearLines();
  return 0;
}
