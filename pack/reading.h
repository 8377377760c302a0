// Reading sets back: the entries of launcher and volume files, and the check of a whole set as
// the launcher will read it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/format.h"
#include "pack/names.h"
#include "pack/stub.h"

namespace pack {

// ---- The clean-up list ----

// The temporary directory a set is checked against when none is given: a long one that is
// common on the stub's platform, in the Windows form the launcher sees.
std::string TypicalTempDir(StubKind kind);

// How the entries' paths fit the launcher's limits for one temporary directory: each path
// (directory and name) at most kTextSize - 1 bytes, all of them NUL-separated and followed by
// an empty string in the kCleanupListSize bytes of the clean-up list, and the setup files'
// paths within the 127 bytes LZ32 can open.
struct CleanupFit {
  std::size_t list_bytes = 0;    // the clean-up list's bytes, the final empty string included
  long margin = 0;               // kCleanupListSize - list_bytes (negative: it does not fit)
  std::size_t longest_path = 0;  // the longest entry path, in bytes
  long longest_temp_dir = 0;     // the longest temporary directory (with its backslash) that still fits
  std::size_t temp_dir_bytes = 0;
  // True when the directory is within all three limits.
  bool fits() const;
};
CleanupFit FitCleanupList(const std::string& temp_dir, const std::vector<std::string>& names);

// ---- list ----

struct ListedEntry {
  VolumeEntry entry;
  std::string display_name;  // UTF-8
  bool szdd = false;
  std::uint32_t expanded_size = 0;  // from the SZDD header
};

struct ListedFile {
  std::filesystem::path path;
  bool is_launcher = false;
  StubInfo stub;           // for a launcher
  int volume = 0;          // 1 for a launcher, n for "Disk<n>", 0 when the name does not tell
  payload::VolumeEnd volume_end;  // for a launcher: where volume 1 ends, at a certificate table when signed
  VolumeReading reading;
  std::vector<ListedEntry> entries;
};

// Reads a launcher (volume 1 at its stamped offset, up to its certificate table when it is
// signed) or a volume file. A launcher whose security directory lies is listed as damaged, with
// no entries. Names are shown in `code_page` when given, else in the launcher's, else as UTF-8
// when they decode so and as code page 932 otherwise. Throws PackError for a file that cannot be read, an executable that
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
  bool sound() const;
};

// Checks the set a launcher carries, reading volume 1 and the Disk<n> files beside it as the
// launcher does: the stamped offset, the set total at the start of every volume, whole
// entries, names the launcher accepts, the sum of the data sizes, both setup files present and
// expandable, and the clean-up list for `temp_dir` (the typical one when empty; a warning).
Verification VerifySet(const std::filesystem::path& launcher, const std::string& temp_dir);

}  // namespace pack
