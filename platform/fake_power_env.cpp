#include "platform/fake_power_env.h"

#include <unistd.h>

#include <random>

namespace platform {

class PowerLossEnv::TrackedFile : public File {
 public:
  TrackedFile(PowerLossEnv* env, std::string path, std::unique_ptr<File> base)
      : env_(env), path_(std::move(path)), base_(std::move(base)) {}

  bool Seek(uint64_t offset) override {
    if (!env_->Powered()) return true;  // the process is gone: nobody looks any more
    pos_ = offset;
    return base_->Seek(offset);
  }
  size_t Read(void* buf, size_t n) override {
    if (!env_->Powered()) return 0;
    const size_t got = base_->Read(buf, n);
    pos_ += got;
    return got;
  }
  size_t Write(const void* buf, size_t n) override {
    if (!env_->Powered()) return n;
    // What this write replaces, as the card holds it with every earlier
    // write in place.
    base_->Flush();
    Undo undo{pos_, std::string(), n};
    if (std::unique_ptr<File> old = env_->target()->OpenFile(path_, "r"); old != nullptr && old->Seek(pos_)) {
      undo.old.resize(n);
      undo.old.resize(old->Read(&undo.old[0], n));
    }
    const size_t wrote = base_->Write(buf, n);
    pos_ += wrote;
    env_->Wrote(path_, undo);
    return wrote;
  }
  bool Flush() override { return !env_->Powered() || base_->Flush(); }
  bool Sync() override {
    if (!env_->Powered()) return true;
    if (!base_->Sync()) return false;
    env_->Synced(path_);
    return true;
  }
  bool Close() override { return base_->Close(); }

 private:
  PowerLossEnv* const env_;
  const std::string path_;
  std::unique_ptr<File> base_;
  uint64_t pos_ = 0;
};

void PowerLossEnv::CutAfter(int ops) {
  std::lock_guard<std::mutex> l(mu_);
  ops_ = 0;
  cut_after_ = ops;
  cut_ = false;
}

bool PowerLossEnv::cut() {
  std::lock_guard<std::mutex> l(mu_);
  return cut_;
}

int PowerLossEnv::ops() {
  std::lock_guard<std::mutex> l(mu_);
  return ops_;
}

bool PowerLossEnv::Powered() {
  std::lock_guard<std::mutex> l(mu_);
  if (cut_ || (cut_after_ >= 0 && ops_ >= cut_after_)) {
    cut_ = true;
    return false;
  }
  ++ops_;
  return true;
}

std::unique_ptr<File> PowerLossEnv::OpenFile(const std::string& path, const char* mode) {
  if (!Tracked(path)) return target()->OpenFile(path, mode);
  if (!Powered()) return nullptr;
  const bool truncates = mode[0] == 'w';
  std::unique_ptr<File> f = target()->OpenFile(path, mode);
  if (f == nullptr) return nullptr;
  std::lock_guard<std::mutex> l(mu_);
  auto it = files_.find(path);
  if (it == files_.end() || truncates) {
    // What is there when the board first sees the file is on the card.
    Track& t = files_[path];
    uint64_t size = 0;
    t.synced_size = !truncates && target()->FileSize(path, &size) ? size : 0;
    t.unsynced.clear();
  }
  return std::make_unique<TrackedFile>(this, path, std::move(f));
}

void PowerLossEnv::Wrote(const std::string& path, Undo undo) {
  std::lock_guard<std::mutex> l(mu_);
  files_[path].unsynced.push_back(std::move(undo));
}

void PowerLossEnv::Synced(const std::string& path) {
  std::lock_guard<std::mutex> l(mu_);
  Track& t = files_[path];
  uint64_t size = 0;
  if (target()->FileSize(path, &size)) t.synced_size = size;
  t.unsynced.clear();
}

void PowerLossEnv::LoseUnsynced(uint32_t seed) {
  std::lock_guard<std::mutex> l(mu_);
  std::mt19937 rnd(seed);
  for (auto& [path, t] : files_) {
    size_t kept = seed == 0 ? 0 : rnd() % (t.unsynced.size() + 1);
    size_t landed = 0;  // bytes of the first lost write that made it all the same
    if (kept < t.unsynced.size() && seed != 0) landed = rnd() % (t.unsynced[kept].size + 1);
    if (std::unique_ptr<File> f = target()->OpenFile(path, "r+"); f != nullptr) {
      for (size_t i = t.unsynced.size(); i-- > kept;) {
        const Undo& u = t.unsynced[i];
        const size_t from = i == kept ? std::min(landed, u.old.size()) : 0;
        if (from < u.old.size() && f->Seek(u.offset + from)) f->Write(u.old.data() + from, u.old.size() - from);
      }
      f->Close();
    }
    uint64_t size = 0;
    if (target()->FileSize(path, &size) && size > t.synced_size) {
      if (truncate(target()->Resolve(path).c_str(), static_cast<off_t>(t.synced_size)) != 0) abort();
    }
    t.unsynced.clear();
  }
  cut_after_ = -1;
  cut_ = false;
  ops_ = 0;
}

}  // namespace platform
