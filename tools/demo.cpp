// make demo: a virtual register on this PC. Starts fr-core on a sandbox
// board, asks it who and how it is over the host line, prints the decoded
// answers and stops it.
#include <cstdio>
#include <string>

#include "tools/sim/rig.h"
#include "util/coding.h"

namespace {

const char* ResultText(int code) {
  switch (code) {
    case 0: return "ok";
    case 8: return "no result";
    case 10: return "command not supported yet";
    case 13: return "factory serial number not set";
    case 25: return "no device key";
    case 38: return "not registered";
    default: return "error";
  }
}

void Show(const char* what, const sim::Reply& r) {
  printf("  %-22s code %3d (%s)", what, r.code, ResultText(r.code));
  if (!r.data.empty()) printf(", data %s", util::HexUpper(r.data).c_str());
  printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "var/demo";
  sim::Rig rig(FR_CORE_PATH, dir);
  if (!rig.Prepare() || !rig.Start() || !rig.WaitReady()) {
    fprintf(stderr, "demo: the virtual register did not start (see %s/log/)\n", dir.c_str());
    return 1;
  }
  printf("virtual register running on the sandbox board %s\n", dir.c_str());
  printf("host line: %s/dev/ttyGS0, printer line: %s/dev/ttyS0\n", dir.c_str(), dir.c_str());

  sim::Reply r;
  bool ok = true;
  if ((ok = rig.host().Request(51, 1, "", &r)) && r.code == 0 && r.data.size() == 3) {
    printf("  %-22s %d.%d.%d\n", "version", r.data[0], r.data[1], r.data[2]);
  }
  if (ok && (ok = rig.host().Request(48, 2, "", &r))) Show("device status (48)", r);
  if (ok && (ok = rig.host().Request(16, 3, "", &r))) Show("shift status (16)", r);
  if (ok && (ok = rig.host().Request(49, 4, "", &r))) Show("model data (49)", r);
  if (ok && (ok = rig.host().Request(50, 5, "", &r))) Show("device key (50)", r);
  rig.Stop();
  if (!ok) {
    fprintf(stderr, "demo: the register stopped answering\n");
    return 1;
  }
  printf("register stopped; its diagnostic lines are in %s/log/stdout.log\n", dir.c_str());
  return 0;
}
