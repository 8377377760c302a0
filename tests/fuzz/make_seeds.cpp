// Writes the seed corpora of the fuzz targets, made with the project's own set builder and
// codec: sound sets, damaged sets, compressed files, INI files.
// Usage: make_seeds OUTPUT_DIRECTORY   (creates one subdirectory per target)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/set_builder.h"
#include "szdd/szdd.h"

namespace {

using qmrtest::Bytes;
using qmrtest::VolumeBuilder;
namespace fs = std::filesystem;

Bytes Compress(const std::string& text) {
  return szdd::CompressBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// A whole set in the fuzz target's input form: the count of following volumes, their
// 3-byte lengths, the following volumes, then volume 1.
Bytes SetInput(const std::vector<Bytes>& volumes) {
  Bytes input = {static_cast<std::uint8_t>(volumes.size() - 1)};
  for (std::size_t i = 1; i < volumes.size(); ++i)
    for (int b = 0; b < 3; ++b) input.push_back(static_cast<std::uint8_t>(volumes[i].size() >> (8 * b)));
  for (std::size_t i = 1; i < volumes.size(); ++i) input.insert(input.end(), volumes[i].begin(), volumes[i].end());
  input.insert(input.end(), volumes[0].begin(), volumes[0].end());
  return input;
}

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  qmrtest::WriteBytes(dir / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_DIRECTORY\n");
    return 2;
  }
  const fs::path out = argv[1];
  const Bytes info = Compress("[Setup]\r\nTitle=Quillmoor\r\n[Account]\r\nPOP3Server=\r\n");
  const Bytes program = Compress("#!/bin/sh\nexit 0\n");
  const Bytes data = qmrtest::RandomBytes(3000, 1);
  const auto total = static_cast<std::int32_t>(info.size() + program.size() + data.size() + 5);

  const Bytes one_volume =
      VolumeBuilder(total).Entry("qmrsetup.in_", info).Entry("readme", qmrtest::ToBytes("hello")).Entry(
          "qmrsetup.ex_", program).Entry("data.bin", data).bytes();
  Save(out / "fuzz_extract", "one-volume", SetInput({one_volume}));
  const Bytes first = VolumeBuilder(total).Entry("qmrsetup.in_", info).Entry("readme", qmrtest::ToBytes("hello")).bytes();
  const Bytes second = VolumeBuilder(total).Entry("qmrsetup.ex_", program).bytes();
  const Bytes third = VolumeBuilder(total).Entry("data.bin", data).bytes();
  Save(out / "fuzz_extract", "three-volumes", SetInput({first, second, third}));
  Save(out / "fuzz_extract", "another-set-on-disk2", SetInput({first, VolumeBuilder(total + 1).bytes()}));
  Save(out / "fuzz_extract", "truncated", SetInput({Bytes(one_volume.begin(), one_volume.end() - 7)}));
  Save(out / "fuzz_extract", "escaping-name",
       SetInput({VolumeBuilder(4).Entry("..\\evil", qmrtest::ToBytes("evil")).bytes()}));
  Save(out / "fuzz_extract", "empty-set", SetInput({VolumeBuilder(0).bytes()}));

  Save(out / "fuzz_szdd", "text", Compress("Quillmoor Quillmoor Quillmoor, the mail client.\n"));
  Save(out / "fuzz_szdd", "runs", Compress(std::string(5000, 'a') + std::string(300, ' ')));
  Save(out / "fuzz_szdd", "binary", szdd::CompressBuffer(data.data(), data.size()));
  Save(out / "fuzz_szdd", "plain", qmrtest::ToBytes("not compressed"));

  Save(out / "fuzz_ini", "setup-inf", qmrtest::ToBytes("[Setup]\r\nTitle=Quillmoor\r\n\r\n[Account]\r\nPOP3Server=\r\n"));
  Save(out / "fuzz_ini", "no-section", qmrtest::ToBytes("; comment\nkey=value\n"));
  Save(out / "fuzz_ini", "quoted-bom", qmrtest::ToBytes("\xEF\xBB\xBF[account]\r\n pop3server = \"old\" \r\n[x]\r\n"));
  return 0;
}
