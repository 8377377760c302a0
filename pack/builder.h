// Making a set: entries from the distributor's files, their places on the volumes, and the
// launcher and volume files, written whole or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pack/format.h"
#include "pack/names.h"
#include "pack/stub.h"

namespace pack {

// The data in SZDD form, its header recording `missing_char` for the name's final '_'.
Bytes Compress(const Bytes& data, std::uint8_t missing_char);

// A 1.44 MB floppy disk: the default bound of the launcher file and of each following volume.
inline constexpr std::uint64_t kFloppyDiskSize = 1457664;

// An entry ready to be written: its name in the stub's code page, its time and its data.
struct PackEntry {
  std::string name;
  std::string source;  // the file it comes from, for messages
  std::uint64_t filetime = 0;
  Bytes data;
};

// Checks the entries against the format and the launcher (names it accepts and that do not
// collide, sizes a set total can count) and puts them in the order they are written: entries
// without data first, so that no volume holds empty entries alone after the one that
// completes the set total (the launcher stops reading there). Returns the set total.
// Throws PackError naming the first entry at fault.
std::int32_t CheckEntries(std::vector<PackEntry>* entries, CodePage code_page);

// The set total of entries of these data sizes. Throws PackError when it passes the signed
// 32-bit range the launcher counts it in.
std::int32_t CheckSetTotal(const std::vector<std::uint64_t>& data_sizes);

// Places the entries, in order, on volumes of at most `disk_size` bytes: volume 1 is the
// launcher file (the stub, then the set total and entries), each following volume a file of
// its own starting with the set total. An entry that does not fit goes to the next volume;
// volume 1 may hold the set total alone. Returns the entry indexes of each volume. Throws
// PackError when the stub leaves no room for the set total, or an entry is larger than a disk.
std::vector<std::vector<std::size_t>> PlanVolumes(std::uint64_t stub_size, const std::vector<PackEntry>& entries,
                                                  std::uint64_t disk_size);

// A set in memory: the stamped launcher carrying volume 1, and Disk2, Disk3, ...
struct ComposedSet {
  Bytes launcher;
  std::vector<Bytes> disks;
  std::vector<std::vector<std::size_t>> volumes;  // entry indexes per volume
  std::int32_t set_total = 0;
};

// Stamps the stub (payload offset = its size, version text in its code page) and lays out the
// checked entries. Throws PackError for a stub that is not a launcher or already carries data.
ComposedSet ComposeSet(Bytes stub, const std::string& version, const std::vector<PackEntry>& entries,
                       std::uint64_t disk_size);

// Writes a composed set into `directory` (created when absent): the launcher under
// `launcher_name` with permission bits `mode`, then Disk2, Disk3, .... Every file is written
// under a temporary name and renamed into place once all are whole; on failure nothing of them
// is left (nor the directory, when this call created it). A directory that already holds a set
// (the launcher's name or a Disk<n> file) is refused unless `force`; with `force`, volume files
// the new set does not have are deleted. Returns the paths written.
std::vector<std::filesystem::path> WriteSetFiles(const ComposedSet& set, const std::filesystem::path& directory,
                                                 const std::string& launcher_name, unsigned mode, bool force);

// Deletes the files of a replaced set (`old`) that are none of the files just `written`. A file
// is recognised as written by what the file system says it is, not by the spelling of its path:
// where names ignore letter case, an old "DISK2" is the new "Disk2".
void RemoveReplacedFiles(const std::vector<std::filesystem::path>& old,
                         const std::vector<std::filesystem::path>& written);

// What `qmrpack build` is asked to do.
struct BuildOptions {
  std::filesystem::path stub;
  std::filesystem::path out_dir;
  std::filesystem::path setup_program;
  std::filesystem::path setup_info;
  std::vector<std::filesystem::path> files;
  std::optional<std::string> version;  // UTF-8; the stub's own version text when absent
  std::uint64_t disk_size = kFloppyDiskSize;
  bool store = false;  // the other files go in as they are instead of compressed
  bool force = false;
  bool convert_info = false;  // the setup information file is UTF-8, converted into the stub's code page
};

// Told of each step of a build, for a progress display.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void Step(std::size_t done, std::size_t total, const std::string& what) = 0;
};

struct BuildResult {
  std::vector<std::filesystem::path> files;  // the launcher, then Disk2, Disk3, ...
  std::vector<std::uintmax_t> file_sizes;    // the bytes written to each of them
  std::vector<PackEntry> entries;            // data dropped; names, sources and times kept
  ComposedSet layout;                        // volumes and total; launcher and disk bytes dropped
  StubKind stub_kind = StubKind::kWindows;
  std::vector<std::string> warnings;
};

// Reads the stub and the files, compresses them, and writes the set. Throws PackError.
BuildResult BuildSet(const BuildOptions& options, Progress* progress);

}  // namespace pack
