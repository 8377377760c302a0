// The floor of the launcher's extraction: a bare program that writes the files of the
// benchmark's set from memory, 16 KiB per write(2), each write finished before the next as the
// launcher's are, then sets each file's last-write time. It builds the bytes first, then times
// the writing alone and prints the seconds it took.
//
//   qmrbench_floor --out DIR [--seed N] [--small-files N]      (DIR must not exist yet)
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bench/bench_set.h"

int main(int argc, char** argv) {
  qmrbench::Options options;
  if (!qmrbench::ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: qmrbench_floor --out DIR [--seed N] [--small-files N]\n");
    return 2;
  }
  const std::vector<qmrbench::SetFile> files = qmrbench::SetFiles(options.seed, {}, options.small_files);
  std::vector<std::unique_ptr<std::uint8_t[]>> bytes;
  for (const qmrbench::SetFile& file : files) {
    bytes.emplace_back(new std::uint8_t[file.size + 8]);
    qmrbench::FillFile(file, bytes.back().get());
  }
  const auto start = std::chrono::steady_clock::now();
  if (mkdir(options.out.c_str(), 0755) != 0) {
    std::perror(options.out.c_str());
    return 1;
  }
  try {
    for (std::size_t i = 0; i < files.size(); ++i) qmrbench::WriteSetFile(options.out, files[i], bytes[i].get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qmrbench_floor: %s\n", e.what());
    return 1;
  }
  std::printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
