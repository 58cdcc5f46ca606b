// fr-archive's commands on a damaged archive: each input patches the small
// archive (fuzz/small_archive.h), then verify (with an EEPROM image), list,
// export, totals and show run on it. Besides not crashing, an export must
// still be well-formed: JSON that parses, CSV with its header and one line
// per document it lists.
#include <sstream>

#include <nlohmann/json.hpp>

#include "fuzz/small_archive.h"
#include "tools/archive/archive_tool.h"

namespace {

constexpr const char* kEeprom = "/eeprom.img";

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "archive_export_fuzz: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  smallarchive::Archive& a = smallarchive::Get();
  static const bool eeprom_written = [&a] {
    std::string image(eeprom::kSize, '\xFF');
    const std::string model = CoreIdentity::modelData().image();
    image.replace(eeprom::kModelDataOffset, model.size(), model);
    image.replace(eeprom::kKeyOffset, eeprom::kKeySize, smallarchive::kKey);
    return a.env.WriteFile(kEeprom, image);
  }();
  Check(eeprom_written, "cannot write the EEPROM image");
  const uint32_t pick = smallarchive::ApplyPatches(a, data, size);
  archivetool::QuietEnv env(&a.env);
  const std::string path = smallarchive::kPath;

  std::ostringstream out;
  archivetool::Verify(&env, path, kEeprom, out);
  archivetool::Filter filter;
  if (pick & 1) filter.first = pick % 7;
  if (pick & 2) filter.shift = static_cast<uint16_t>(pick % 3);
  archivetool::List(&env, path, filter, out);

  std::ostringstream json_out;
  Check(archivetool::Export(&env, path, "json", filter, json_out) == 0, "a JSON export failed");
  Check(nlohmann::json::accept(json_out.str()), "the JSON export does not parse");
  std::ostringstream csv_out;
  Check(archivetool::Export(&env, path, "csv", filter, csv_out) == 0, "a CSV export failed");
  const std::string csv = csv_out.str();
  Check(csv.compare(0, 7, "number,") == 0 && csv.back() == '\n', "the CSV export lacks its header");
  Check(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')) ==
            1 + static_cast<size_t>(nlohmann::json::parse(json_out.str()).size()),
        "the CSV and JSON exports list different documents");

  archivetool::Totals(&env, path, 0, 0, pick & 4, out);
  archivetool::Totals(&env, path, 1, static_cast<uint16_t>(1 + pick % 3), true, out);
  for (uint32_t n : {1u, 3u, 1u + pick % 6}) archivetool::Show(&env, path, n, n & 1, kEeprom, out);

  a.Restore();
  a.env.ClearLines();
  return 0;
}
