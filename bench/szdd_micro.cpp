// Micro-benchmarks of the SZDD codec in memory: the expander into a sink that only counts,
// and the compressor. The inputs are the first 8 MiB of the files named by QMR_BENCH_TEXT and
// QMR_BENCH_BINARY: scripts/bench passes its own text and binary inputs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "szdd/szdd.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFileInputLimit = 8u << 20;

// The first 8 MiB of the file the environment variable names; empty when it names none.
Bytes Input(const char* variable) {
  const char* path = std::getenv(variable);
  std::ifstream in(path == nullptr ? "" : path, std::ios::binary);
  Bytes data((std::istreambuf_iterator<char>(in)), {});
  data.resize(std::min(data.size(), kFileInputLimit));
  return data;
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

// The inputs, read once by main before the benchmarks run.
Bytes g_text;
Bytes g_binary;

void BM_ExpandText(benchmark::State& state) { Expand(state, g_text); }
void BM_ExpandBinary(benchmark::State& state) { Expand(state, g_binary); }
void BM_CompressText(benchmark::State& state) { Compress(state, g_text); }
void BM_CompressBinary(benchmark::State& state) { Compress(state, g_binary); }

}  // namespace

// The four benchmarks, by the names the harness's table shows.
BENCHMARK(BM_ExpandText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpandBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressBinary)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  g_text = Input("QMR_BENCH_TEXT");
  g_binary = Input("QMR_BENCH_BINARY");
  if (g_text.empty() || g_binary.empty()) {
    std::fprintf(stderr, "qmrbench_micro: QMR_BENCH_TEXT and QMR_BENCH_BINARY must name the inputs\n");
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
