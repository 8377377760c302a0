// The benchmark's installation set: file sizes, names, times and bytes from one seed.
#include "bench/bench_set.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "format/filetime.h"
#include "format/layout.h"
#include "pack/builder.h"
#include "platform/posix/retry.h"

namespace qmrbench {

namespace {

// SplitMix64: small, fast and good enough to make bytes no compressor can shrink.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
};

constexpr char kSetupInfo[] = "[Setup]\r\nTitle=Quillmoor\r\n\r\n[Account]\r\nPOP3Server=\r\nSMTPServer=\r\n";
constexpr char kSetupProgram[] = "#!/bin/sh\n# The benchmark's setup program: does nothing.\nexit 0\n";
// 2001-02-03 04:05:06 UTC, then a second per file.
constexpr std::uint64_t kFirstTime = 126254943060000000ull;

SetFile Compressed(const std::string& name, const std::vector<std::uint8_t>& bytes, char missing) {
  std::vector<std::uint8_t> contents = pack::Compress(bytes, static_cast<std::uint8_t>(missing));
  return SetFile{name, 0, contents.size(), 0, std::move(contents)};
}

// Sizes spread evenly on a logarithmic scale between the smallest and the largest, the two
// extremes included, scaled so that they add up to the data total exactly.
std::vector<std::uint64_t> DataSizes(Random& random) {
  std::vector<double> sizes(kDataFiles);
  sizes[0] = static_cast<double>(kLargestFile);
  sizes[1] = static_cast<double>(kSmallestFile);
  const double low = std::log2(static_cast<double>(kSmallestFile));
  const double high = std::log2(static_cast<double>(kLargestFile));
  double middle = 0;
  for (int i = 2; i < kDataFiles; ++i) {
    sizes[i] = std::exp2(low + (high - low) * random.Uniform());
    middle += sizes[i];
  }
  const double wanted = static_cast<double>(kDataTotal - kLargestFile - kSmallestFile);
  std::vector<std::uint64_t> out(kDataFiles);
  std::uint64_t sum = 0;
  for (int i = 0; i < kDataFiles; ++i) {
    double size = i < 2 ? sizes[i] : sizes[i] * wanted / middle;
    size = std::clamp(size, static_cast<double>(kSmallestFile), static_cast<double>(kLargestFile));
    out[i] = static_cast<std::uint64_t>(size);
    sum += out[i];
  }
  // What rounding and clamping left over goes to the largest file of the middle that can take it.
  const auto room = [&](std::size_t i) { return sum < kDataTotal ? kLargestFile - out[i] : out[i] - kSmallestFile; };
  const std::uint64_t missing = sum < kDataTotal ? kDataTotal - sum : sum - kDataTotal;
  std::size_t pick = 0;
  for (std::size_t i = 2; i < out.size(); ++i)
    if (room(i) >= missing && (pick == 0 || out[i] > out[pick])) pick = i;
  if (pick == 0) throw std::runtime_error("no file can take the remainder of the set's sizes");
  out[pick] = sum < kDataTotal ? out[pick] + missing : out[pick] - missing;
  // The order of the entries is shuffled, so that large and small files alternate.
  for (std::size_t i = out.size() - 1; i > 0; --i) std::swap(out[i], out[random.Next() % (i + 1)]);
  return out;
}

}  // namespace

std::vector<SetFile> SetFiles(std::uint64_t seed, const std::vector<std::uint8_t>& setup_program, int small_files) {
  Random random{seed};
  std::vector<SetFile> files;
  files.push_back(Compressed("qmrsetup.in_", {std::begin(kSetupInfo), std::end(kSetupInfo) - 1}, 'f'));
  const std::vector<std::uint8_t> script(std::begin(kSetupProgram), std::end(kSetupProgram) - 1);
  files.push_back(Compressed("qmrsetup.ex_", setup_program.empty() ? script : setup_program, 'e'));
  std::vector<std::uint64_t> sizes;
  if (small_files == 0) {
    sizes = DataSizes(random);
  } else {
    for (int i = 0; i < small_files; ++i)
      sizes.push_back(kSmallFileMin + random.Next() % (kSmallFileMax - kSmallFileMin + 1));
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, small_files == 0 ? "qmrdata%02zu.bin" : "s%04zu.bin", i + 1);
    files.push_back(SetFile{name, 0, sizes[i], random.Next(), {}});
  }
  for (std::size_t i = 0; i < files.size(); ++i) files[i].last_write = kFirstTime + i * 10000000ull;
  return files;
}

void FillFile(const SetFile& file, std::uint8_t* out) {
  if (!file.generated()) {
    std::memcpy(out, file.contents.data(), file.contents.size());
    return;
  }
  Random random{file.seed};
  for (std::uint64_t i = 0; i < file.size; i += 8) {
    const std::uint64_t word = random.Next();
    std::memcpy(out + i, &word, std::min<std::uint64_t>(8, file.size - i));
  }
}

std::vector<int> VolumeOfFiles(const std::vector<SetFile>& files) {
  const std::uint64_t total = SetTotal(files);
  std::vector<int> volumes;
  std::uint64_t before = 0;
  for (const SetFile& file : files) {
    // A file goes to the volume in whose third of the bytes it starts; a set of empty files
    // stays on the first.
    const std::uint64_t volume = total == 0 ? 0 : before * kVolumes / total;
    volumes.push_back(static_cast<int>(std::min<std::uint64_t>(volume, kVolumes - 1)));
    before += file.size;
  }
  return volumes;
}

std::uint64_t SetTotal(const std::vector<SetFile>& files) {
  return std::accumulate(files.begin(), files.end(), std::uint64_t{0},
                         [](std::uint64_t total, const SetFile& file) { return total + file.size; });
}

void WriteSetFile(const std::string& directory, const SetFile& file, const std::uint8_t* bytes) {
  const std::string path = directory + "/" + file.name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  int error = fd < 0 ? errno : 0;  // the first failure's, the one told
  for (std::uint64_t done = 0; error == 0 && done < file.size;) {
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(file.size - done, payload::kCopyChunkSize));
    if (!posix::WriteFull(fd, bytes + done, chunk)) error = errno;
    done += chunk;
  }
  const payload::UnixTime unix = payload::UnixFromFileTime(file.last_write);
  timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(unix.seconds);
  times[1].tv_nsec = static_cast<long>(unix.nanoseconds);
  if (error == 0 && futimens(fd, times) != 0) error = errno;
  if (fd >= 0 && close(fd) != 0 && error == 0) error = errno;
  if (error != 0) throw std::runtime_error(path + ": " + std::strerror(error));
}

bool ParseOptions(int argc, char** argv, Options* options) {
  std::string seed, small_files;
  const std::map<std::string, std::string*> values = {
      {"--out", &options->out}, {"--stub", &options->stub}, {"--setup", &options->setup},
      {"--seed", &seed},        {"--small-files", &small_files}};
  for (int i = 1; i < argc; i += 2) {
    const auto value = values.find(argv[i]);
    if (value == values.end() || i + 1 == argc) return false;
    *value->second = argv[i + 1];
  }
  if (!seed.empty()) options->seed = std::strtoull(seed.c_str(), nullptr, 10);
  if (!small_files.empty()) options->small_files = static_cast<int>(std::strtol(small_files.c_str(), nullptr, 10));
  return !options->out.empty();
}

}  // namespace qmrbench
