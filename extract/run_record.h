// The extraction engine run once over a set and recorded, for the packer's list, verify and
// extract: over a dry-run platform that reads the real launcher and volume files and records
// what the engine would write, or over the system's real platform layer, writing the files.
// Not part of the launcher: the launcher runs the engine over the platform alone.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "format/names.h"

namespace engine_run {

using Bytes = std::vector<std::uint8_t>;

enum class RunMode {
  kDryRun,  // reads the real volumes; files, expansions, presets and the start are recorded only
  kWrite,   // the real platform layer writes the files and expands the setup files; nothing starts
};

// A file the engine created for an entry.
struct RunFile {
  std::string name;  // bytes of the launcher's code page, as the entry names it
  int volume = 0;
  std::uint64_t data_offset = 0;  // where its data starts in the volume's file
  std::int32_t announced_size = 0;
  std::uint64_t filetime = 0;
  std::uint64_t written = 0;
  std::vector<std::uint32_t> chunks;  // the size of each write
  bool whole = false;                 // its data was copied and the file closed
  Bytes head;                         // its first bytes, enough for an SZDD header
};

// A volume the engine opened, or a following volume it looked for.
struct RunVolume {
  int number = 0;
  std::string path;               // the path the engine opened, in the launcher's form
  bool found = false;             // the file could be opened
  bool accepted = false;          // its set total was read and is the set's
  std::int32_t set_total = 0;     // the first 4 bytes of a following volume, as read
  std::uint64_t start = 0;        // where its set total lies in the file
  std::uint64_t end = 0;          // where the volume ends in the file (a signed launcher's table)
  std::uint64_t position = 0;     // where the engine stopped reading
  std::vector<std::size_t> files; // indexes into RunRecord::files, in the order written
  Bytes header;  // what the engine read of the header after the last entry it wrote: where it stopped
};

// The expansion of a setup file by the hand-off.
struct RunExpansion {
  std::string compressed;  // its name
  bool found = false;      // the hand-off found it in the temporary directory
  bool copied = false;     // LZCopy ran
  bool szdd = false;       // it is in SZDD form
  std::int64_t announced = -1;  // the length its SZDD header announces (its size, uncompressed)
  std::int64_t expanded = 0;    // what LZCopy returned
  Bytes head;                   // the first bytes of the expanded file (the information file whole)
};

struct RunRecord {
  bool succeeded = false;  // ExtractAndLaunch returned 1: the setup program would have started
  std::int32_t set_total = 0;
  std::int64_t extracted_bytes = 0;
  std::uint32_t cleanup_bytes = 0;  // the clean-up list's bytes, its final empty string included
  std::vector<RunVolume> volumes;   // every open of a volume path, in order
  std::vector<RunFile> files;
  std::vector<int> prompts;         // the disk prompts the engine showed (the volume number)
  std::vector<RunExpansion> expansions;
  std::vector<std::pair<std::string, std::string>> presets;  // key and value the hand-off would write
  std::string command_line;  // the setup program's command line, when the hand-off would start it
  bool stopped = false;      // the run was stopped after `last_volume`
};

struct RunOptions {
  // The launcher, or the following volume `first_volume` reads alone, in the launcher's form.
  std::string module_path;
  std::uint32_t payload_offset = 0;  // the launcher's resources 104 and 105
  std::string version;
  payload::LeadBytePredicate is_lead = payload::IsLeadByteNone;  // the launcher's code page
  std::string temp_dir;        // the temporary directory as the launcher sees it, ending in '\'
  RunMode mode = RunMode::kDryRun;
  int first_volume = 1;        // above 1: `file` is that volume, read with the set total it starts with
  std::int32_t set_total = 0;  // the set total of a volume read alone
  int last_volume = 0;         // when not 0, the run stops after this volume
};

// Runs ExtractAndLaunch once over the set, with the platform table of `options.mode` installed
// over the table in use, and returns what it did. A disk prompt is answered Cancel. In kWrite
// mode a failed run deletes the files of its clean-up list, as the launcher does. The module
// path and the temporary directory fit the launcher's 260-byte texts (the caller checks).
RunRecord RunEngine(const RunOptions& options);

}  // namespace engine_run
