// Writes the benchmark's installation set: the launcher stub stamped and followed by volume 1,
// Disk2 and Disk3 beside it, the presets file, and the same files plainly in a directory of
// their own (what `cp -r` copies). --setup puts another setup program in the set (the Windows
// one timed under Wine) in place of a script that does nothing; the data files stay the same.
// --small-files N makes the set of N small files instead (bench_set.h).
//
//   qmrbench_set --stub PATH --out DIR [--seed N] [--setup PROGRAM] [--small-files N]
//   DIR/set/qmrsfx (or the stub's own name), DIR/set/Disk2, DIR/set/Disk3, DIR/set/qmrpresets.ini
//   DIR/files/<every file of the set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_set.h"
#include "format/layout.h"
#include "pack/stub.h"
#include "platform/posix/retry.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

class File {
 public:
  File(const fs::path& path, mode_t mode) : path_(path) {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd_ < 0) Fail();
  }
  ~File() {
    if (fd_ >= 0) close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  void Write(const void* data, std::size_t size) {
    if (!posix::WriteFull(fd_, data, size)) Fail();
  }
  void SetLastWrite(std::uint64_t filetime) {
    if (!qmrbench::SetLastWrite(fd_, filetime)) Fail();
  }
  void Close() {
    if (close(fd_) != 0) Fail();
    fd_ = -1;
  }

 private:
  [[noreturn]] void Fail() const { throw std::runtime_error(path_.string() + ": " + std::strerror(errno)); }

  fs::path path_;
  int fd_ = -1;
};

void Append32(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An entry's header: the name's length with its NUL, the name, the time and the data size.
Bytes EntryHeader(const qmrbench::SetFile& file) {
  Bytes out;
  out.push_back(static_cast<std::uint8_t>(file.name.size() + 1));
  out.insert(out.end(), file.name.begin(), file.name.end());
  out.push_back(0);
  Append32(&out, static_cast<std::uint32_t>(file.last_write));
  Append32(&out, static_cast<std::uint32_t>(file.last_write >> 32));
  Append32(&out, static_cast<std::uint32_t>(file.size));
  return out;
}

int Usage() {
  std::fprintf(stderr, "usage: qmrbench_set --stub PATH --out DIR [--seed N] [--setup PROGRAM] [--small-files N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path stub_path, out, setup_path;
  std::uint64_t seed = qmrbench::kDefaultSeed;
  int small_files = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--stub") {
      stub_path = argv[i + 1];
    } else if (flag == "--out") {
      out = argv[i + 1];
    } else if (flag == "--setup") {
      setup_path = argv[i + 1];
    } else if (flag == "--seed") {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (flag == "--small-files") {
      small_files = static_cast<int>(std::strtol(argv[i + 1], nullptr, 10));
    } else {
      return Usage();
    }
  }
  if (stub_path.empty() || out.empty() || argc % 2 == 0) return Usage();
  try {
    Bytes setup_program;
    if (!setup_path.empty()) {
      std::ifstream setup_in(setup_path, std::ios::binary);
      setup_program.assign(std::istreambuf_iterator<char>(setup_in), {});
      if (setup_program.empty()) throw std::runtime_error(setup_path.string() + ": cannot be read");
    }
    const std::vector<qmrbench::SetFile> files = qmrbench::SetFiles(seed, setup_program, small_files);
    const std::vector<int> volume_of = qmrbench::VolumeOfFiles(files);
    const std::uint64_t total = qmrbench::SetTotal(files);
    if (total > 0x7FFFFFFFu) throw std::runtime_error("the set is too large for its 32-bit total");

    fs::remove_all(out / "set");
    fs::remove_all(out / "files");
    fs::create_directories(out / "set");
    fs::create_directories(out / "files");

    std::ifstream stub_in(stub_path, std::ios::binary);
    Bytes stub((std::istreambuf_iterator<char>(stub_in)), {});
    if (stub.empty()) throw std::runtime_error(stub_path.string() + ": cannot be read");
    std::string error;
    if (!pack::StampStub(&stub, static_cast<std::uint32_t>(stub.size()), "1.13a", &error))
      throw std::runtime_error(stub_path.string() + ": " + error);

    std::vector<std::unique_ptr<File>> volumes;
    for (int v = 0; v < qmrbench::kVolumes; ++v) {
      const fs::path path = v == 0 ? out / "set" / stub_path.filename() : out / "set" / ("Disk" + std::to_string(v + 1));
      volumes.push_back(std::make_unique<File>(path, 0755));
      if (v == 0) volumes[0]->Write(stub.data(), stub.size());
      Bytes set_total;
      Append32(&set_total, static_cast<std::uint32_t>(total));
      volumes.back()->Write(set_total.data(), set_total.size());
    }

    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[qmrbench::kLargestFile + 8]);
    for (std::size_t i = 0; i < files.size(); ++i) {
      const qmrbench::SetFile& file = files[i];
      qmrbench::FillFile(file, bytes.get());
      const Bytes header = EntryHeader(file);
      File& volume = *volumes[static_cast<std::size_t>(volume_of[i])];
      volume.Write(header.data(), header.size());
      volume.Write(bytes.get(), file.size);
      File copy(out / "files" / file.name, 0644);
      copy.Write(bytes.get(), file.size);
      copy.SetLastWrite(file.last_write);
      copy.Close();
    }
    for (auto& volume : volumes) volume->Close();

    std::ofstream presets(out / "set" / payload::kPresetsFileName, std::ios::binary);
    presets << "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n";
    std::printf("%zu files, %llu bytes of data in %d volumes\n", files.size(),
                static_cast<unsigned long long>(total), qmrbench::kVolumes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qmrbench_set: %s\n", e.what());
    return 1;
  }
  return 0;
}
