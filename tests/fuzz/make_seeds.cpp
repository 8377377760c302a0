// Writes the seed corpora of the fuzz targets, made with the project's own set builder and
// codec: sound sets, damaged sets, compressed files, INI files.
// Usage: make_seeds OUTPUT_DIRECTORY   (creates one subdirectory per target)
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/minimal_stubs.h"
#include "pack/builder.h"
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

// ---- fuzz_pack ----

// Byte 0 of a fuzz_pack input, with the count of following volumes added.
constexpr std::uint8_t kWholeLauncher = 4, kWindowsStub = 8;

// A set in fuzz_pack's input form: byte 0, the following volumes' 3-byte lengths, the
// following volumes, then the launcher's part: the whole launcher file with kWholeLauncher,
// else what follows the minimal stub.
Bytes PackInput(std::uint8_t flags, const Bytes& launcher, const std::vector<Bytes>& disks) {
  Bytes input = {static_cast<std::uint8_t>(flags | disks.size())};
  for (const Bytes& disk : disks)
    for (int b = 0; b < 3; ++b) input.push_back(static_cast<std::uint8_t>(disk.size() >> (8 * b)));
  for (const Bytes& disk : disks) input.insert(input.end(), disk.begin(), disk.end());
  std::size_t skip = 0;
  if ((flags & kWholeLauncher) == 0)
    skip = (flags & kWindowsStub) != 0 ? qmrtest::PeStub().size() : qmrtest::ElfStub().size();
  input.insert(input.end(), launcher.begin() + static_cast<std::ptrdiff_t>(skip), launcher.end());
  return input;
}

pack::PackEntry PackEntry(const std::string& name, Bytes data) {
  return pack::PackEntry{name, name, qmrtest::kSampleTime, std::move(data)};
}

// The packer's own sets from the minimal stubs, sound and damaged, and launchers damaged in
// their headers.
void SavePackSeeds(const fs::path& dir, const Bytes& info, const Bytes& program, const Bytes& data) {
  const std::vector<pack::PackEntry> entries = {
      PackEntry("qmrsetup.in_", info), PackEntry("qmrsetup.ex_", program),
      PackEntry("readme.tx_", Compress(std::string(200, 'r'))), PackEntry("data.bin", data),
      PackEntry("more.bin", qmrtest::RandomBytes(data.size(), 2))};
  const Bytes elf = qmrtest::ElfStub(), pe = qmrtest::PeStub();
  const pack::ComposedSet one = pack::ComposeSet(elf, "1.13a", entries, 1 << 20);
  Save(dir, "linux-one-volume", PackInput(0, one.launcher, one.disks));
  Save(dir, "linux-one-volume-whole", PackInput(kWholeLauncher, one.launcher, one.disks));
  // Disks that hold the stub and the small entries, then data.bin, then more.bin: three volumes.
  const pack::ComposedSet three = pack::ComposeSet(elf, "1.13a", entries, elf.size() + data.size() + 40);
  Save(dir, "linux-volumes", PackInput(0, three.launcher, three.disks));
  std::vector<pack::PackEntry> japanese = entries;
  japanese[2].name = "\x83\x5c\x83\x74\x83\x67.tx_";  // ソフト.tx_ in code page 932, 0x5C trail byte
  const pack::ComposedSet windows = pack::ComposeSet(pe, "1.13a", japanese, pe.size() + data.size() + 40);
  Save(dir, "windows-volumes", PackInput(kWindowsStub, windows.launcher, windows.disks));
  Save(dir, "windows-volumes-whole", PackInput(kWholeLauncher, windows.launcher, windows.disks));

  // Damage in the volumes: each as verify names it.
  std::vector<Bytes> disks = three.disks;
  disks.back().resize(disks.back().size() - 5);
  Save(dir, "truncated-last-disk", PackInput(0, three.launcher, disks));
  disks = three.disks;
  disks[0][0] ^= 1;
  Save(dir, "another-set-on-disk2", PackInput(0, three.launcher, disks));
  disks = three.disks;
  disks.push_back(qmrtest::VolumeBuilder(three.set_total).Entry("extra", qmrtest::ToBytes("never read")).bytes());
  Save(dir, "volume-never-read", PackInput(0, three.launcher, disks));
  Save(dir, "missing-last-disk", PackInput(0, three.launcher, {three.disks.begin(), three.disks.end() - 1}));

  // One volume after the Linux stub, written entry by entry.
  using qmrtest::VolumeBuilder;
  auto save_volume = [&](const std::string& name, const VolumeBuilder& builder) {
    Bytes launcher = elf;
    launcher.insert(launcher.end(), builder.bytes().begin(), builder.bytes().end());
    Save(dir, name, PackInput(0, launcher, {}));
  };
  const auto total = static_cast<std::int32_t>(info.size() + program.size());
  save_volume("minimal-sound", VolumeBuilder(total).Entry("qmrsetup.in_", info).Entry("qmrsetup.ex_", program));
  save_volume("negative-size",
              VolumeBuilder(total).Entry("qmrsetup.in_", info).EntryWithSize("qmrsetup.ex_", -1, program));
  const Bytes zero = qmrtest::LE32(0);
  save_volume("name-without-nul",
              VolumeBuilder(total).Entry("qmrsetup.in_", info).Raw({3, 'a', 'b', 'c'}).Raw(zero).Raw(zero).Raw(zero));
  save_volume("same-name-twice", VolumeBuilder(total + 2)
                                     .Entry("qmrsetup.in_", info)
                                     .Entry("A", {1})
                                     .Entry("a", {2})
                                     .Entry("qmrsetup.ex_", program));
  save_volume("no-setup-program",
              VolumeBuilder(static_cast<std::int32_t>(info.size())).Entry("qmrsetup.in_", info));
  const Bytes cut(program.begin(), program.end() - 3);
  save_volume("setup-program-cut-short", VolumeBuilder(static_cast<std::int32_t>(info.size() + cut.size()))
                                             .Entry("qmrsetup.in_", info)
                                             .Entry("qmrsetup.ex_", cut));
  save_volume("data-past-the-total",
              VolumeBuilder(total - 1).Entry("qmrsetup.in_", info).Entry("qmrsetup.ex_", program));

  // Damage in the launcher itself.
  Bytes unstamped = elf;
  unstamped.insert(unstamped.end(), one.launcher.begin() + static_cast<std::ptrdiff_t>(elf.size()),
                   one.launcher.end());
  Save(dir, "unstamped-launcher", PackInput(kWholeLauncher, unstamped, {}));
  Bytes moved = one.launcher;
  std::string error;
  pack::StampStub(&moved, static_cast<std::uint32_t>(elf.size() + 1), "1.13a", &error);
  Save(dir, "offset-past-the-image", PackInput(kWholeLauncher, moved, {}));
  Bytes pe_damaged = windows.launcher;
  qmrtest::Put32(&pe_damaged, 512 + 104, 0x7FFFFFF0u);  // resource 104's data far outside the file
  Save(dir, "windows-resource-outside", PackInput(kWholeLauncher, pe_damaged, windows.disks));
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

  SavePackSeeds(out / "fuzz_pack", info, program, data);

  Save(out / "fuzz_ini", "setup-inf", qmrtest::ToBytes("[Setup]\r\nTitle=Quillmoor\r\n\r\n[Account]\r\nPOP3Server=\r\n"));
  Save(out / "fuzz_ini", "no-section", qmrtest::ToBytes("; comment\nkey=value\n"));
  Save(out / "fuzz_ini", "quoted-bom", qmrtest::ToBytes("\xEF\xBB\xBF[account]\r\n pop3server = \"old\" \r\n[x]\r\n"));
  return 0;
}
