#include "printer/printer_settings.h"

#include <memory>

#include "printer/print_layout.h"

namespace printer {

void loadWidthSetting(platform::Env* env) {
  if (!env->PathExists(kSettingsPath)) return;
  std::unique_ptr<platform::File> f = env->OpenFile(kSettingsPath, "r+");
  uint8_t byte = 0;
  if (f && f->Seek(0) && f->Read(&byte, 1) == 1) setWidthSetting(byte);
}

bool saveWidthSetting(platform::Env* env, uint8_t setting) {
  std::unique_ptr<platform::File> f =
      env->OpenFile(kSettingsPath, env->PathExists(kSettingsPath) ? "r+" : "w+");
  if (!f || !f->Seek(0)) return false;
  bool ok = f->Write(&setting, 1) == 1;
  ok = f->Flush() && ok;
  ok = f->Close() && ok;
  // Applied only once stored: a width that a restart would lose is refused.
  if (ok) setWidthSetting(setting);
  return ok;
}

}  // namespace printer
