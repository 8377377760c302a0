// Writes the benchmark's installation set: the launcher stub stamped and followed by volume 1,
// Disk2 and Disk3 beside it, the presets file, and the same files plainly in a directory of
// their own (what `cp -r` copies). --setup puts another setup program in the set (the Windows
// one timed under Wine) in place of a script that does nothing; the data files stay the same.
// --small-files N makes the set of N small files instead (bench_set.h).
//
//   qmrbench_set --stub PATH --out DIR [--seed N] [--setup PROGRAM] [--small-files N]
//   DIR/set/qmrsfx (or the stub's own name), DIR/set/Disk2, DIR/set/Disk3, DIR/set/qmrpresets.ini
//   DIR/files/<every file of the set>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_set.h"
#include "format/layout.h"
#include "pack/files.h"
#include "pack/set_files.h"
#include "pack/stub.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  qmrbench::Options options;
  if (!qmrbench::ParseOptions(argc, argv, &options) || options.stub.empty()) {
    std::fprintf(stderr,
                 "usage: qmrbench_set --stub PATH --out DIR [--seed N] [--setup PROGRAM] [--small-files N]\n");
    return 2;
  }
  try {
    const fs::path out = options.out, stub_path = options.stub;
    pack::Bytes setup_program;
    if (!options.setup.empty()) {
      setup_program = pack::ReadWholeFile(options.setup);
      if (setup_program.empty()) throw std::runtime_error(options.setup + ": cannot be read");
    }
    const std::vector<qmrbench::SetFile> files = qmrbench::SetFiles(options.seed, setup_program, options.small_files);
    const std::vector<int> volume_of = qmrbench::VolumeOfFiles(files);
    const std::uint64_t total = qmrbench::SetTotal(files);
    if (total > 0x7FFFFFFFu) throw std::runtime_error("the set is too large for its 32-bit total");

    fs::remove_all(out / "set");
    fs::remove_all(out / "files");
    fs::create_directories(out / "set");
    fs::create_directories(out / "files");

    // Volume 1 is the stamped stub followed by the set total and its entries; every following
    // volume starts with the set total too.
    std::vector<pack::Bytes> volumes(qmrbench::kVolumes);
    volumes[0] = pack::ReadWholeFile(stub_path);
    std::string error;
    if (!pack::StampStub(&volumes[0], static_cast<std::uint32_t>(volumes[0].size()), "1.13a", &error))
      throw std::runtime_error(stub_path.string() + ": " + error);
    for (pack::Bytes& volume : volumes) pack::AppendLE32(&volume, static_cast<std::uint32_t>(total));

    for (std::size_t i = 0; i < files.size(); ++i) {
      pack::Bytes bytes(files[i].size);
      qmrbench::FillFile(files[i], bytes.data());
      pack::AppendEntry(&volumes[static_cast<std::size_t>(volume_of[i])], files[i].name, files[i].last_write, bytes);
      qmrbench::WriteSetFile(out / "files", files[i], bytes.data());
    }
    for (int v = 0; v < qmrbench::kVolumes; ++v)
      pack::WriteFileWhole(out / "set" / (v == 0 ? stub_path.filename().string() : pack::VolumeFileName(v + 1)),
                           volumes[static_cast<std::size_t>(v)], 0755);

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
