#include "app/identity.h"

#include <mutex>

namespace CoreIdentity {
namespace {

struct Holders {
  std::mutex mu;
  ModelData model;  // guarded by mu
  RegData reg;      // guarded by mu
  std::string key;  // guarded by mu
};

Holders& holders() {
  static Holders* const h = new Holders;  // lives until the process is killed
  return *h;
}

}  // namespace

void replaceModelData(const ModelData& model) {
  std::lock_guard<std::mutex> lock(holders().mu);
  holders().model = model;
}

void replaceRegData(const RegData& reg) {
  std::lock_guard<std::mutex> lock(holders().mu);
  holders().reg = reg;
}

ModelData modelData() {
  std::lock_guard<std::mutex> lock(holders().mu);
  return holders().model;
}

RegData regData() {
  std::lock_guard<std::mutex> lock(holders().mu);
  return holders().reg;
}

void storeDeviceKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(holders().mu);
  holders().key = key;
}

std::string deviceKey() {
  std::lock_guard<std::mutex> lock(holders().mu);
  return holders().key;
}

}  // namespace CoreIdentity
