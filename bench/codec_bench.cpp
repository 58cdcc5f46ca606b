// The byte coding under every frame and document: CRC-16 (frames, stored
// data and descriptors), CRC-32 (fiscal signs, check values, identifiers)
// and TLV elements (every document and the host's receipt lines).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "documents/tlv_element.h"
#include "documents/tlv_tags.h"
#include "tools/gen/device.h"
#include "util/cp866.h"
#include "util/crc.h"

namespace {

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

// 10: a request head; 64: a descriptor; 300: a stored receipt; 1029: the
// longest request frame; 4096: the longest document; 32768: the longest receipt.
void Sizes(benchmark::internal::Benchmark* b) {
  for (int n : {10, 64, 300, 1029, 4096, 32768}) b->Arg(n);
}

void BM_Crc16(benchmark::State& state) {
  const std::string data = Bytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(util::Crc16(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Apply(Sizes);

void BM_Crc32(benchmark::State& state) {
  const std::string data = Bytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(util::Crc32(data));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Apply(Sizes);

gen::host::Line SampleLine() {
  gen::host::Line line;
  line.name = util::Utf8ToCp866("Сыр Российский");
  line.price = 65000;
  line.places = 3;
  line.quantity = 350;
  line.tax = 2;
  line.section = 2;
  line.discount = 1;
  return line;
}

// A receipt line as the host sends it: six elements inside a list.
void BM_TlvEncodeLine(benchmark::State& state) {
  const gen::host::Line line = SampleLine();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string encoded = gen::host::LineElement(line);
    bytes = encoded.size();
    benchmark::DoNotOptimize(encoded.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["bytes_per_line"] = static_cast<double>(bytes);
}
BENCHMARK(BM_TlvEncodeLine);

// What the receipt does with it: the element, then its inner list.
void BM_TlvDecodeLine(benchmark::State& state) {
  const std::string encoded = gen::host::LineElement(SampleLine());
  size_t inner = 0;
  for (auto _ : state) {
    TlvElement e;
    if (!TlvElement::decode(encoded, &e)) {
      state.SkipWithError("line does not decode");
      return;
    }
    const std::vector<TlvElement> list = e.asList();
    inner = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
  state.counters["inner_elements"] = static_cast<double>(inner);
}
BENCHMARK(BM_TlvDecodeLine);

// Ten such lines back to back, as a stored receipt keeps them.
void BM_TlvDecodeList(benchmark::State& state) {
  std::string encoded;
  for (int i = 0; i < 10; ++i) encoded += gen::host::LineElement(SampleLine());
  size_t n = 0;
  for (auto _ : state) {
    bool complete = false;
    const std::vector<TlvElement> list = TlvElement::decodeList(encoded, &complete);
    n = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}
BENCHMARK(BM_TlvDecodeList);

}  // namespace

BENCHMARK_MAIN();
