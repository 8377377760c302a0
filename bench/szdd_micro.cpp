// Micro-benchmarks of the SZDD codec in memory: the expander into a sink that only counts,
// and the compressor. The inputs are the first 8 MiB of the files named by QMR_BENCH_TEXT and
// QMR_BENCH_BINARY: scripts/bench passes its own text and binary inputs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
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

}  // namespace

// The four benchmarks, by the names the harness's table shows, over inputs read once.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const Bytes text = Input("QMR_BENCH_TEXT"), binary = Input("QMR_BENCH_BINARY");
  if (text.empty() || binary.empty()) {
    std::fprintf(stderr, "qmrbench_micro: QMR_BENCH_TEXT and QMR_BENCH_BINARY must name the inputs\n");
    return 2;
  }
  benchmark::RegisterBenchmark("BM_ExpandText", Expand, std::cref(text))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ExpandBinary", Expand, std::cref(binary))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_CompressText", Compress, std::cref(text))->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_CompressBinary", Compress, std::cref(binary))->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
