// fr-archive-gen DIR [--documents N] [--seed S]
// Makes a sandbox board in DIR with an archive of N documents (250000, a
// full index, by default); fr-core runs on it with FR_ROOT=DIR, fr-emu
// opens it as a virtual register.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/gen/archive_gen.h"

namespace {

int Usage() {
  fprintf(stderr, "usage: fr-archive-gen DIR [--documents N] [--seed S]\n");
  return 2;
}

bool ParseNumber(const char* text, uint32_t* value) {
  char* end = nullptr;
  const unsigned long v = strtoul(text, &end, 10);
  if (end == text || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  gen::BoardOptions options;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--documents" || arg == "--seed") && i + 1 < argc) {
      uint32_t* target = arg == "--documents" ? &options.documents : &options.seed;
      if (!ParseNumber(argv[++i], target)) return Usage();
    } else if (!arg.empty() && arg[0] != '-' && dir.empty()) {
      dir = arg;
    } else {
      return Usage();
    }
  }
  if (dir.empty()) return Usage();
  options.progress = [](uint32_t n) {
    fprintf(stderr, "  %u documents\r", n);
    fflush(stderr);
  };
  gen::BoardSummary s;
  const host::Status made = gen::MakeBoard(dir, options, &s);
  if (!made.ok()) {
    fprintf(stderr, "fr-archive-gen: %s\n", made.ToString().c_str());
    return 1;
  }
  printf("%u documents (%u shifts, %u receipts, %u cash in/out) in %s\n", s.documents, s.shifts, s.receipts,
         s.cash_documents, gen::ArchivePath(dir).c_str());
  printf("archive %.1f MB, documents from %lld to %lld (UTC seconds), made in %.1f s\n",
         static_cast<double>(s.archive_bytes) / 1e6, static_cast<long long>(s.first_time),
         static_cast<long long>(s.last_time), s.seconds);
  return 0;
}
