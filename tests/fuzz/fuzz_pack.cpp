// Fuzzes qmrpack list and verify against the launcher's own engine with whole sets: a launcher
// file and up to three following volumes (Disk2-Disk4) in a private directory, read in-process by
// pack::ListFile and pack::VerifySet, and extracted by the engine over the testing platform.
//
// Input: byte 0: bits 0-1 give the number of following volumes (0-3); bit 2 set: the launcher
// file is the input's last part, whole (so the stub's own headers are fuzzed too); clear: a
// minimal stub (bit 3: the Windows one, else the Linux one) stamped as the packer stamps it,
// with the input's last part appended as volume 1. Then one 3-byte little-endian length per
// following volume; the rest, in order, is volume 2, 3, ... and last the launcher's part.
//
// Checked on every input:
// - ListFile throws nothing but PackError; VerifySet throws nothing (it reports every problem
//   of a set as a finding).
// - Listing a launcher in another code page changes the names shown and nothing else.
// - verify's verdict is the launcher's: VerifySet calls the set sound exactly when the engine,
//   extracting into a real temporary directory of the same path, succeeds (for every set whose
//   names the POSIX layer under the testing platform can write: see PosixNamesEveryEntry).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "format/names.h"
#include "pack/paths.h"
#include "pack/reading.h"
#include "support/launcher_verdict.h"
#include "support/minimal_stubs.h"

namespace {

namespace fs = std::filesystem;
using pack::Bytes;
using pack::CodePage;

// The private directory the set is written to; removed when the run ends normally.
const fs::path& Directory() {
  static const fs::path* directory = [] {
    std::string pattern = (fs::temp_directory_path() / "qmrfuzzpack-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Directory(), ignored);
    });
    return new fs::path(pattern);
  }();
  return *directory;
}

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Check(bool condition) {
  if (!condition) std::abort();
}

std::optional<pack::ListedFile> List(const fs::path& path, const CodePage* code_page) {
  try {
    return pack::ListFile(path, code_page);
  } catch (const pack::PackError&) {
    return std::nullopt;
  }
}

void CheckSameBut(const pack::ListedFile& a, const pack::ListedFile& b) {
  Check(a.is_launcher == b.is_launcher && a.volume == b.volume && a.damage == b.damage);
  Check(a.entries.size() == b.entries.size());
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const pack::ListedEntry &x = a.entries[i], &y = b.entries[i];
    Check(x.name == y.name && x.size == y.size && x.filetime == y.filetime && x.szdd == y.szdd &&
          x.expanded_size == y.expanded_size);
  }
}

// False when a name holds a double-byte character of code page 932 whose trail byte is 0x5C.
// The Windows launcher writes such a name as one file; the testing platform runs over the POSIX
// layer, whose names are UTF-8 and which takes that byte for a backslash, so the engine there
// cannot be the reference for that set.
bool PosixNamesEveryEntry(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    for (const char* p = name.c_str(); *p != '\0'; p += payload::CharacterLength(p, payload::IsLeadByteCp932))
      if (payload::CharacterLength(p, payload::IsLeadByteCp932) == 2 && p[1] == '\\') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const fs::path& directory = Directory();
  for (const auto& item : fs::directory_iterator(directory)) fs::remove_all(item.path());

  // Split the input into the files of a set.
  const int following = data[0] & 3;
  const bool whole_launcher = (data[0] & 4) != 0;
  const bool windows = (data[0] & 8) != 0;
  std::size_t at = 1;
  std::vector<std::size_t> lengths;
  for (int i = 0; i < following; ++i) {
    std::size_t length = 0;
    for (int b = 0; b < 3; ++b) length |= static_cast<std::size_t>(at < size ? data[at++] : 0) << (8 * b);
    lengths.push_back(length);
  }
  std::vector<Bytes> files(1);  // the launcher, then Disk2, Disk3, ...
  for (int i = 0; i < following; ++i) {
    const std::size_t length = std::min(lengths[static_cast<std::size_t>(i)], size - at);
    files.emplace_back(data + at, data + at + length);
    at += length;
  }
  if (!whole_launcher) {
    files[0] = windows ? qmrtest::PeStub() : qmrtest::ElfStub();
    std::string error;
    Check(pack::StampStub(&files[0], static_cast<std::uint32_t>(files[0].size()), "1.13a", &error));
  }
  files[0].insert(files[0].end(), data + at, data + size);
  const fs::path launcher = directory / "qmrsfx";
  Write(launcher, files[0]);
  for (std::size_t i = 1; i < files.size(); ++i) Write(directory / ("Disk" + std::to_string(i + 1)), files[i]);

  // list, as qmrpack list does it: each file on its own, then again in the other code page.
  std::vector<std::string> names;  // every entry's name, as the engine read it
  const std::optional<pack::ListedFile> first = List(launcher, nullptr);
  if (first) {
    for (const pack::ListedEntry& entry : first->entries) names.push_back(entry.name);
    const CodePage other = first->is_launcher && first->stub.kind == pack::StubKind::kWindows ? CodePage::kUtf8
                                                                                               : CodePage::kCp932;
    const auto again = List(launcher, &other);
    Check(again.has_value());
    if (first->is_launcher) CheckSameBut(*first, *again);
  }
  for (std::size_t i = 1; i < files.size(); ++i) {
    const fs::path path = directory / ("Disk" + std::to_string(i + 1));
    const std::optional<pack::ListedFile> listed = List(path, nullptr);
    if (!listed) continue;
    for (const pack::ListedEntry& entry : listed->entries) names.push_back(entry.name);
    // A volume alone is read by the name rule of the code page it is listed in (UTF-8 unless
    // told); only the names shown change with the code page of a launcher.
    for (const CodePage code_page : {CodePage::kCp932, CodePage::kUtf8}) {
      const auto again = List(path, &code_page);
      Check(again.has_value());
      if (code_page == CodePage::kUtf8 || listed->is_launcher) CheckSameBut(*listed, *again);
    }
  }

  // verify against the engine, both with the same temporary directory.
  const fs::path temp = directory / "tmp";
  fs::create_directory(temp);
  const std::string temp_dir = pack::WindowsForm(temp) + "\\";
  const bool sound = pack::VerifySet(launcher, temp_dir).sound();
  const bool engine = qmrtest::LauncherExtracts(launcher, files[0], temp_dir);
  if (!PosixNamesEveryEntry(names)) return 0;
  Check(sound == engine);
  return 0;
}
