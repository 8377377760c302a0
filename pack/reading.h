// Sets read back through the launcher's own engine (extract/run_record.h): listing volumes, checking a
// whole set as the launcher extracts it, and extracting it into a directory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/run_record.h"
#include "pack/format.h"
#include "pack/names.h"
#include "pack/stub.h"

namespace pack {

// ---- The temporary directory ----

// The temporary directory a set is checked against when none is given: a long one that is
// common on the stub's platform, in the Windows form the launcher sees.
std::string TypicalTempDir(StubKind kind);

// Why the launcher could never be given this temporary directory (empty, not a Windows path
// such as a POSIX one, longer than its 259-byte text), or an empty text when it could.
std::string TempDirProblem(const std::string& temp_dir);

// The longest temporary directory (with its backslash) in which entries of these names still
// fit the launcher's limits: each path within 259 bytes, the setup files' paths within the
// 127 bytes LZ32 opens, and every path with its NUL and the final empty string within the
// 8,192-byte clean-up list.
long LongestTempDir(const std::vector<std::string>& names);

// ---- list ----

// One entry as the engine read it.
struct ListedEntry {
  std::string name;          // bytes of the code page, as the launcher takes it
  std::string display_name;  // UTF-8
  std::uint64_t filetime = 0;
  std::int32_t size = 0;     // the size its header announces
  bool szdd = false;
  std::uint32_t expanded_size = 0;  // from the SZDD header
};

struct ListedFile {
  std::filesystem::path path;
  bool is_launcher = false;
  StubInfo stub;           // for a launcher
  int volume = 0;          // 1 for a launcher, n for "Disk<n>", 0 when the name does not tell
  payload::VolumeEnd volume_end;  // for a launcher: where volume 1 ends, at a certificate table when signed
  bool has_set_total = false;
  std::int32_t set_total = 0;
  std::vector<ListedEntry> entries;
  // Where and why the launcher fails inside this volume; empty when it reads it whole.
  std::string damage;
};

// Reads a launcher's volume 1, or a volume file alone, through the engine. A launcher whose
// security directory lies is listed as damaged, with no entries. Names are shown in
// `code_page` when given, else in the launcher's, else as UTF-8 when they decode so and as
// code page 932 otherwise. Throws PackError for a file that cannot be read, an executable that
// is not a launcher, or a launcher with no set stamped.
ListedFile ListFile(const std::filesystem::path& path, const CodePage* code_page);

// ---- verify ----

struct Finding {
  bool error = true;  // false: a warning, which leaves the set sound
  std::string text;
};

struct Verification {
  std::vector<std::string> facts;  // what was read, one line each
  std::vector<Finding> findings;
  bool limited = false;       // the launcher fails only on a path limit of the temporary directory
  long longest_temp_dir = 0;  // the longest temporary directory the set fits
  // True exactly when the launcher's engine extracts the set and would start its setup program.
  bool sound() const { return std::none_of(findings.begin(), findings.end(), [](const auto& f) { return f.error; }); }
};

// Runs the launcher's engine over the set a launcher carries (Disk2, Disk3, ... beside it) with
// `temp_dir` (the typical one when empty) as its temporary directory, and explains the record:
// what it read, the first point where it fails, and what it adds beyond the launcher (the
// signature's location, the margins of the path limits, dubious names) as warnings.
Verification VerifySet(const std::filesystem::path& launcher, const std::string& temp_dir);

// ---- extract ----

// Extracts the set into `directory` (created when missing) over the system's own platform
// layer, as the launcher does into its temporary directory: the entries' files with their
// times, the setup files expanded; no presets are written and nothing is started. Returns
// the record. Throws PackError, with the point where the launcher fails (a missing Disk<n>
// among them), when it does not extract whole; what it wrote is then deleted.
engine_run::RunRecord ExtractSet(const std::filesystem::path& launcher, const std::filesystem::path& directory);

}  // namespace pack
