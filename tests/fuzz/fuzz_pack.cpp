// Fuzzes the packer's reading of sets, as `qmrpack list` and `qmrpack verify` use it, with
// whole sets: a launcher file and up to three following volumes (Disk2-Disk4) in a private
// directory, read in-process by pack::ListFile and pack::VerifySet.
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
// - A volume reads as the format lays it out: entries one after another from the set total
//   on, each whole but for a last one the reading calls damaged, and the entries of an
//   undamaged volume fill it to its end.
// - Listing in another code page changes the names shown and nothing else.
// - A set VerifySet calls sound lists as sound: the launcher lists as a launcher whose payload
//   offset is where its executable image ends; volume 1 and Disk2, Disk3, ... up to the volume
//   where the entries' data reaches the set total all exist and list without damage, with
//   volume 1's set total; their data adds up to exactly the set total; their names are whole,
//   accepted by the launcher and distinct; both setup files are among them, and each one in
//   SZDD form expands whole.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "format/layout.h"
#include "support/minimal_stubs.h"
#include "pack/files.h"
#include "pack/reading.h"
#include "szdd/szdd.h"

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

// The reading of a volume of `bytes` that starts at `start`, as the format lays it out.
void CheckReading(const pack::VolumeReading& reading, const Bytes& bytes, std::size_t start) {
  if (!reading.has_set_total) {
    Check(reading.entries.empty() && !reading.damage.empty());
    return;
  }
  std::size_t end = start + payload::kSetTotalSize;
  for (std::size_t i = 0; i < reading.entries.size(); ++i) {
    const pack::VolumeEntry& entry = reading.entries[i];
    const bool last = i + 1 == reading.entries.size();
    Check(entry.data_position >= end + payload::kNameLengthSize + payload::kFileTimeSize + payload::kDataSizeSize);
    Check(entry.data_position <= bytes.size());
    if (last && !reading.damage.empty()) break;
    Check(entry.size >= 0 && static_cast<std::size_t>(entry.size) <= bytes.size() - entry.data_position);
    end = entry.data_position + static_cast<std::size_t>(entry.size);
  }
  if (reading.damage.empty()) Check(end == bytes.size());
}

void CheckSameBut(const pack::ListedFile& a, const pack::ListedFile& b) {
  Check(a.is_launcher == b.is_launcher && a.volume == b.volume && a.reading.damage == b.reading.damage);
  Check(a.entries.size() == b.entries.size());
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const pack::ListedEntry &x = a.entries[i], &y = b.entries[i];
    Check(x.entry.name == y.entry.name && x.entry.size == y.entry.size &&
          x.entry.data_position == y.entry.data_position && x.szdd == y.szdd && x.expanded_size == y.expanded_size);
  }
}

// What the listing says of a set that VerifySet calls sound (see the file's comment).
void CheckSoundSet(const pack::ListedFile& launcher, const std::vector<Bytes>& files) {
  Check(launcher.is_launcher && launcher.stub.payload_offset == launcher.stub.image_size);
  Check(launcher.reading.has_set_total && launcher.reading.set_total >= 0);
  const CodePage code_page = pack::CodePageOf(launcher.stub.kind);
  const std::int64_t total = launcher.reading.set_total;
  std::int64_t data = 0;
  std::vector<std::pair<const Bytes*, pack::VolumeEntry>> entries;
  std::vector<pack::VolumeReading> readings;
  for (std::size_t number = 1;; ++number) {
    Check(number <= files.size());
    pack::VolumeReading reading = launcher.reading;
    if (number > 1) {
      const fs::path path = Directory() / ("Disk" + std::to_string(number));
      const std::optional<pack::ListedFile> listed = List(path, &code_page);
      // A volume file that happens to be a launcher itself lists as one; the launcher reads
      // it from its start all the same.
      reading = listed && !listed->is_launcher ? listed->reading : pack::ReadVolume(files[number - 1], 0);
      Check(reading.has_set_total && reading.set_total == total);
    }
    Check(reading.damage.empty());
    for (const pack::VolumeEntry& entry : reading.entries) {
      Check(entry.name_terminated && pack::EntryNameProblem(entry.name, code_page).empty());
      for (const auto& seen : entries) Check(!pack::SameFileName(seen.second.name, entry.name, code_page));
      entries.emplace_back(&files[number - 1], entry);
      data += entry.size;
    }
    if (data >= total) break;
  }
  Check(data == total);
  for (const char* setup : {payload::kSetupInfoCompressed, payload::kSetupProgramCompressed}) {
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& item) {
      return pack::SameFileName(item.second.name, setup, code_page);
    });
    Check(found != entries.end());
    const std::uint8_t* bytes = found->first->data() + found->second.data_position;
    const auto size = static_cast<std::size_t>(found->second.size);
    szdd::Header header;
    if (size == 0 || !szdd::ParseHeader(bytes, size, &header)) continue;
    Bytes expanded;
    Check(szdd::ExpandBuffer(bytes, size, &expanded).status == szdd::Status::kOk);
  }
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

  // list, as qmrpack list does it: each file on its own, then the volume files again in the
  // launcher's code page.
  const std::optional<pack::ListedFile> first = List(launcher, nullptr);
  if (first) {
    CheckReading(first->reading, files[0], first->is_launcher ? first->stub.payload_offset : 0);
    const CodePage other = first->is_launcher && first->stub.kind == pack::StubKind::kWindows ? CodePage::kUtf8
                                                                                               : CodePage::kCp932;
    if (const auto again = List(launcher, &other)) CheckSameBut(*first, *again);
  }
  for (std::size_t i = 1; i < files.size(); ++i) {
    const fs::path path = directory / ("Disk" + std::to_string(i + 1));
    const std::optional<pack::ListedFile> listed = List(path, nullptr);
    if (!listed) continue;
    CheckReading(listed->reading, files[i], listed->is_launcher ? listed->stub.payload_offset : 0);
    for (const CodePage code_page : {CodePage::kCp932, CodePage::kUtf8}) {
      const auto again = List(path, &code_page);
      Check(again.has_value());
      CheckSameBut(*listed, *again);
    }
  }

  // verify: no exception; a set it calls sound lists as sound.
  const pack::Verification verification = pack::VerifySet(launcher, "");
  if (verification.sound()) {
    Check(first.has_value());
    CheckSoundSet(*first, files);
  }
  return 0;
}
