// Micro-benchmarks of the SZDD codec in memory: the expander into a sink that only counts,
// and the compressor. The inputs are the files named by QMR_BENCH_TEXT and QMR_BENCH_BINARY
// (their first 8 MiB; scripts/bench passes its own inputs), or, without them, 4 MiB of C-like
// text and of PE-like records made here from a fixed seed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "szdd/szdd.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFileInputLimit = 8u << 20;
constexpr std::size_t kMadeInputSize = 4u << 20;

Bytes MadeText() {
  static const char* const kWords[] = {"int ", "return ", "(void)", "{\n", "}\n", "    ", "HANDLE ", "0x20",
                                       "; ", "struct ", "#define ", "unsigned ", "\n", "const ", "char *",
                                       "/* position */", "length", "++", "if (", ") ", "WINAPI ", "DWORD "};
  std::mt19937 rng(1);
  Bytes out;
  while (out.size() < kMadeInputSize) {
    const char* word = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), word, word + std::strlen(word));
    if (rng() % 4 == 0) out.push_back(static_cast<std::uint8_t>('a' + rng() % 26));
  }
  out.resize(kMadeInputSize);
  return out;
}

Bytes MadeBinary() {
  std::mt19937 rng(2);
  Bytes out;
  while (out.size() < kMadeInputSize) {
    switch (rng() % 4) {
      case 0:
        for (int i = 0; i < 48; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 1:
        for (std::uint32_t i = 0, base = rng(); i < 24; ++i)
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>((base + 8 * i) >> (8 * b)));
        break;
      case 2: {
        // An instruction-like sequence repeated with small changes.
        static const std::uint8_t kCode[] = {0x48, 0x8B, 0x45, 0xF8, 0x48, 0x89, 0xC7, 0xE8, 0x00, 0x00, 0x00, 0x00};
        for (int i = 0; i < 6; ++i) {
          out.insert(out.end(), std::begin(kCode), std::end(kCode));
          out.back() = static_cast<std::uint8_t>(rng());
        }
        break;
      }
      default:
        out.insert(out.end(), rng() % 200, 0);
    }
  }
  out.resize(kMadeInputSize);
  return out;
}

Bytes Input(const char* variable, Bytes (*make)()) {
  if (const char* path = std::getenv(variable); path != nullptr && *path != '\0') {
    std::ifstream in(path, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), {});
    if (!data.empty()) {
      data.resize(std::min(data.size(), kFileInputLimit));
      return data;
    }
  }
  return make();
}

class CountingSink : public szdd::Sink {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    count_ += size;
    return true;
  }
  std::size_t count() const { return count_; }

 private:
  std::size_t count_ = 0;
};

void Expand(benchmark::State& state, const Bytes& input) {
  const Bytes packed = szdd::CompressBuffer(input.data(), input.size());
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop idiom
    szdd::MemorySource source(packed.data(), packed.size());
    CountingSink sink;
    const szdd::ExpandResult result = szdd::Expand(source, sink);
    if (result.status != szdd::Status::kOk || sink.count() != input.size()) state.SkipWithError("expansion failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void Compress(benchmark::State& state, const Bytes& input) {
  std::size_t size = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the benchmark loop idiom
    const Bytes packed = szdd::CompressBuffer(input.data(), input.size());
    size = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(input.size());
}

}  // namespace

// The four benchmarks, by the names the harness's table shows, over inputs read once.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const Bytes text = Input("QMR_BENCH_TEXT", MadeText), binary = Input("QMR_BENCH_BINARY", MadeBinary);
  benchmark::RegisterBenchmark("BM_ExpandText", Expand, std::cref(text))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ExpandBinary", Expand, std::cref(binary))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_CompressText", Compress, std::cref(text))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_CompressBinary", Compress, std::cref(binary))->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
