// The floor of the launcher's extraction: a bare program that writes the files of the
// benchmark's set from memory, 16 KiB per write(2), each write finished before the next as the
// launcher's are, then sets each file's last-write time. It builds the bytes first, then times
// the writing alone and prints the seconds it took.
//
//   qmrbench_floor --out DIR [--seed N] [--small-files N]      (DIR must not exist yet)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_set.h"
#include "format/layout.h"
#include "platform/posix/retry.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::uint64_t seed = qmrbench::kDefaultSeed;
  int small_files = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--out") == 0) out = argv[i + 1];
    else if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--small-files") == 0)
      small_files = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
  }
  if (out.empty()) {
    std::fprintf(stderr, "usage: qmrbench_floor --out DIR [--seed N] [--small-files N]\n");
    return 2;
  }
  const std::vector<qmrbench::SetFile> files = qmrbench::SetFiles(seed, {}, small_files);
  std::vector<std::unique_ptr<std::uint8_t[]>> bytes;
  for (const qmrbench::SetFile& file : files) {
    bytes.emplace_back(new std::uint8_t[file.size + 8]);
    qmrbench::FillFile(file, bytes.back().get());
  }
  const double start = Now();
  if (mkdir(out.c_str(), 0755) != 0) {
    std::perror(out.c_str());
    return 1;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string path = out + "/" + files[i].name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      std::perror(path.c_str());
      return 1;
    }
    const std::uint8_t* data = bytes[i].get();
    for (std::uint64_t done = 0; done < files[i].size;) {
      const std::size_t chunk = static_cast<std::size_t>(
          std::min<std::uint64_t>(files[i].size - done, payload::kCopyChunkSize));
      if (!posix::WriteFull(fd, data + done, chunk)) {
        std::perror(path.c_str());
        return 1;
      }
      done += chunk;
    }
    if (!qmrbench::SetLastWrite(fd, files[i].last_write) || close(fd) != 0) {
      std::perror(path.c_str());
      return 1;
    }
  }
  std::printf("%.6f\n", Now() - start);
  return 0;
}
