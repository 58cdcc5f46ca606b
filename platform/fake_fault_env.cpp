#include "platform/fake_fault_env.h"

namespace platform {

class FaultEnv::FaultFile : public File {
 public:
  FaultFile(FaultEnv* env, std::string path, std::unique_ptr<File> base)
      : env_(env), path_(std::move(path)), base_(std::move(base)) {}

  bool Seek(uint64_t offset) override {
    switch (env_->Next(kSeek, path_)) {
      case Verdict::kFail: return false;
      case Verdict::kDrop: return true;
      default: return base_->Seek(offset);
    }
  }
  size_t Read(void* buf, size_t n) override {
    switch (env_->Next(kRead, path_)) {
      case Verdict::kFail: return 0;
      case Verdict::kShort: return base_->Read(buf, n / 2);
      default: return base_->Read(buf, n);
    }
  }
  size_t Write(const void* buf, size_t n) override {
    switch (env_->Next(kWrite, path_)) {
      case Verdict::kFail: return 0;
      case Verdict::kShort: return base_->Write(buf, n / 2);
      case Verdict::kCut: {
        // Half of it reaches the medium before everything stops.
        const size_t landed = base_->Write(buf, n / 2);
        base_->Flush();
        return landed;
      }
      case Verdict::kDrop: return n;  // the process is gone: nobody looks any more
      default: return base_->Write(buf, n);
    }
  }
  bool Flush() override {
    switch (env_->Next(kFlush, path_)) {
      case Verdict::kFail: return false;
      case Verdict::kDrop: return true;
      default: return base_->Flush();
    }
  }
  bool Sync() override {
    switch (env_->Next(kSync, path_)) {
      case Verdict::kFail: return false;
      case Verdict::kDrop: return true;
      default: return base_->Sync();
    }
  }
  bool Close() override { return base_->Close(); }

 private:
  FaultEnv* const env_;
  const std::string path_;
  std::unique_ptr<File> base_;
};

void FaultEnv::Arm(Op op, int nth, Fault fault, const std::string& prefix) {
  std::lock_guard<std::mutex> l(mu_);
  for (int& c : counts_) c = 0;
  armed_ = true;
  fired_ = false;
  dead_ = false;
  full_ = false;
  op_ = fault == Fault::kNoSpace || fault == Fault::kCut ? kWrite : op;
  nth_ = nth;
  fault_ = fault;
  prefix_ = prefix;
}

void FaultEnv::Disarm() {
  std::lock_guard<std::mutex> l(mu_);
  for (int& c : counts_) c = 0;
  armed_ = fired_ = dead_ = full_ = false;
}

int FaultEnv::count(Op op) {
  std::lock_guard<std::mutex> l(mu_);
  return counts_[op];
}

bool FaultEnv::fired() {
  std::lock_guard<std::mutex> l(mu_);
  return fired_;
}

FaultEnv::Verdict FaultEnv::Next(Op op, const std::string& path) {
  std::lock_guard<std::mutex> l(mu_);
  if (dead_) return op == kRead ? Verdict::kPass : Verdict::kDrop;
  if (path.compare(0, prefix_.size(), prefix_) != 0) return Verdict::kPass;
  const int seen = counts_[op]++;
  if (full_ && op == kWrite) return Verdict::kFail;
  if (!armed_ || op != op_ || seen != nth_) return Verdict::kPass;
  fired_ = true;
  switch (fault_) {
    case Fault::kFail: return Verdict::kFail;
    case Fault::kShort: return Verdict::kShort;
    case Fault::kNoSpace:
      full_ = true;
      return Verdict::kFail;
    case Fault::kCut:
      dead_ = true;
      return Verdict::kCut;
  }
  return Verdict::kPass;
}

std::unique_ptr<File> FaultEnv::OpenFile(const std::string& path, const char* mode) {
  if (Next(kOpen, path) != Verdict::kPass) return nullptr;
  std::unique_ptr<File> base = target()->OpenFile(path, mode);
  if (!base) return nullptr;
  return std::unique_ptr<File>(new FaultFile(this, path, std::move(base)));
}

bool FaultEnv::AvailableBytes(const std::string& path, uint64_t* bytes) {
  {
    std::lock_guard<std::mutex> l(mu_);
    if (full_) {
      *bytes = 0;
      return true;
    }
  }
  return target()->AvailableBytes(path, bytes);
}

}  // namespace platform
