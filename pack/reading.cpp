// Sets read back through the launcher's own engine: the record of a run explained as a listing,
// a verdict with the first point of failure, or an extraction.
#include "pack/reading.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <optional>

#include "format/layout.h"
#include "format/little_endian.h"
#include "pack/files.h"
#include "pack/info_text.h"
#include "pack/paths.h"
#include "pack/set_files.h"
#include "szdd/szdd.h"

namespace pack {

using namespace engine_run;  // the record this file explains

namespace {

// LZ32 opens a path of at most 127 bytes (its open-file record's field, with the NUL).
constexpr std::size_t kLzPathLimit = 127;
constexpr std::size_t kPathLimit = payload::kTextSize - 1;
// The temporary directory list runs with: the shortest the launcher can have, so that only
// the set itself, not a path limit, stops the engine.
const char kListTempDir[] = "\\";

bool LooksLikeExecutable(const Bytes& bytes) { return StartsWith(bytes, kPeMagic) || StartsWith(bytes, kElfMagic); }

// "1 entry", "2 entries".
std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string VolumeLabel(const RunVolume& volume) {
  return volume.number == 1 ? "volume 1 (in the launcher at " + std::to_string(volume.start) + ")"
                            : "volume " + std::to_string(volume.number) + " (" + VolumeFileName(volume.number) + ")";
}

// A compressed setup file's name with its role: "qmrsetup.ex_ (the setup program)".
std::string WithRole(const std::string& name) {
  return name + (name == payload::kSetupInfoCompressed ? " (the setup information file)" : " (the setup program)");
}

// What a security directory that lies says, in one line.
std::string SecurityDirectoryProblem(const payload::VolumeEnd& end, std::uint32_t payload_offset,
                                     std::size_t file_size) {
  const std::string at = std::to_string(end.table.offset);
  const std::string table = "the security directory's certificate table (offset " + at + ", " +
                            std::to_string(end.table.size) + " bytes)";
  switch (end.kind) {
    case payload::VolumeEndKind::kTableEmpty:
      return "the security directory names a certificate table of 0 bytes at offset " + at;
    case payload::VolumeEndKind::kTableInImage:
      return table + " starts before volume 1's set total ends (offset " +
             std::to_string(static_cast<std::uint64_t>(payload_offset) + payload::kSetTotalSize) + ")";
    case payload::VolumeEndKind::kTableUnaligned:
      return table + " does not start on an 8-byte boundary";
    case payload::VolumeEndKind::kTablePastFileEnd:
      return table + " runs past the end of the file (" + std::to_string(file_size) + " bytes)";
    case payload::VolumeEndKind::kTableNotAtFileEnd:
      return table + " ends before the end of the file (" + std::to_string(file_size) + " bytes)";
    default:
      return {};
  }
}

// Why the engine stopped inside `volume`, the volume it failed in, in the launcher's terms; empty
// when the volume was read to its end. *limit tells a path limit of the temporary directory.
std::string EntryFailure(const RunRecord& record, const RunVolume& volume, CodePage code_page,
                         const std::string& temp_dir, bool* limit) {
  const std::string entry = "entry " + std::to_string(volume.files.size() + 1);
  std::uint64_t header = volume.start + payload::kSetTotalSize;
  if (!volume.files.empty()) {
    const RunFile& last = record.files[volume.files.back()];
    const std::uint64_t announced = static_cast<std::uint64_t>(std::max(last.announced_size, 0));
    if (!last.whole) {
      const std::uint64_t available = volume.end > last.data_offset ? volume.end - last.data_offset : 0;
      const std::string named = "entry " + std::to_string(volume.files.size());
      if (available >= announced) return named + " " + Quoted(last.name, code_page) + ": the launcher cannot write its file";
      return "the volume ends inside the data of " + named + " (" + std::to_string(available) + " of " +
             std::to_string(announced) + " bytes)";
    }
    header = last.data_offset + announced;
  }
  if (header >= volume.end) return {};
  const std::uint64_t left = volume.end - header;
  const Bytes& bytes = volume.header;  // what the engine read of the entry's header
  const std::string at = " (its header at offset " + std::to_string(header) + ")";
  if (bytes.empty()) return "the launcher cannot read " + entry + at;
  const std::size_t fixed = payload::kNameLengthSize + bytes[0] + payload::kFileTimeSize + payload::kDataSizeSize;
  if (left < fixed)
    return "the volume ends inside the header of " + entry + " (" + std::to_string(left) + " of " +
           std::to_string(fixed) + " bytes)" + at;
  if (bytes.size() < fixed) return "the launcher cannot read " + entry + at;
  std::string name(reinterpret_cast<const char*>(&bytes[1]), bytes[0]);
  name.resize(std::strlen(name.c_str()));
  const std::string named = entry + " " + Quoted(name, code_page) + ": ";
  if (const std::string problem = EntryNameProblem(name, code_page); !problem.empty())
    return named + "the name " + problem + "; the launcher refuses it" + at;
  *limit = true;
  const std::size_t path = temp_dir.size() + name.size();
  if (path > kPathLimit)
    return named + "its path takes " + std::to_string(path) + " bytes, more than the " + std::to_string(kPathLimit) +
           " the launcher's texts hold" + at;
  if (record.cleanup_bytes + path + 1 > payload::kCleanupListSize)
    return named + "its path does not fit the clean-up list (" + std::to_string(record.cleanup_bytes) + " of its " +
           std::to_string(payload::kCleanupListSize) + " bytes taken)" + at;
  *limit = false;
  return named + "the launcher cannot create its file" + at;
}

// Why the hand-off failed: a setup file missing or not expanding whole, or a path too long.
std::string HandOffFailure(const RunRecord& record, const std::string& temp_dir, bool* limit) {
  for (const RunExpansion& e : record.expansions) {
    const std::string name = WithRole(e.compressed);
    if (!e.found) return "the set has no " + name;
    *limit = !e.copied && temp_dir.size() + e.compressed.size() >= kLzPathLimit;
    if (*limit)
      return name + ": its path takes " + std::to_string(temp_dir.size() + e.compressed.size()) +
             " bytes, more than the " + std::to_string(kLzPathLimit) + " LZ32 opens";
    if (!e.copied) return name + " cannot be expanded";
    if (e.expanded != e.announced)
      return name + " does not expand: " +
             (e.expanded < 0 ? std::string("unknown compression mode")
                             : "its data ends after " + std::to_string(e.expanded) + " of the " +
                                   std::to_string(e.announced) + " bytes its header announces");
  }
  *limit = true;
  return "the setup program's quoted path does not fit the launcher's " + std::to_string(payload::kTextSize) +
         "-byte command line";
}

// The engine's options for the set a launcher (or a volume read alone) carries: its path in the
// launcher's form, its resources, names in its code page. Throws PackError when the path or the
// temporary directory does not fit the launcher's 260-byte texts. With `volume`, the run reads
// that volume alone, starting with `set_total`.
RunOptions EngineOptions(const std::filesystem::path& file, const StubInfo& stub, const std::string& temp_dir,
                         RunMode mode = RunMode::kDryRun, int volume = 0, std::int32_t set_total = 0) {
  RunOptions options{WindowsForm(file), stub.payload_offset, stub.version, LeadBytesOf(CodePageOf(stub.kind)),
                     temp_dir, mode, std::max(volume, 1), set_total, volume};
  for (const auto& [text, what] : {std::pair{options.module_path, PathText(file)}, {temp_dir, "the temporary directory " + temp_dir}})
    if (text.size() >= payload::kTextSize)
      throw PackError(what + " takes " + std::to_string(text.size()) + " bytes; the launcher's texts hold " +
                      std::to_string(payload::kTextSize - 1));
  return options;
}

// Refuses a launcher that carries no set. Throws PackError.
void RequireSet(const std::filesystem::path& launcher, const StubInfo& stub) {
  if (stub.payload_offset == payload::kUnstampedOffset)
    throw PackError(PathText(launcher) + ": a launcher with no set (its payload offset is not stamped)");
}

const RunVolume* LastAccepted(const RunRecord& record) {
  const RunVolume* last = nullptr;
  for (const RunVolume& volume : record.volumes)
    if (volume.accepted) last = &volume;
  return last;
}

// The first point where the launcher fails on a run's record, in its terms, and what the user
// sees there. *limit tells a failure that a shorter temporary directory avoids.
std::string Failure(const RunRecord& record, CodePage code_page, const std::string& temp_dir, bool* limit) {
  *limit = false;
  const RunVolume* last = LastAccepted(record);
  if (!record.prompts.empty()) {
    const int n = record.prompts.back();
    const std::string disk = VolumeFileName(n);
    for (const RunVolume& volume : record.volumes) {
      if (volume.number != n || !volume.found) continue;
      if (volume.position < payload::kSetTotalSize)
        return VolumeLabel(volume) + " ends before its set total: the launcher asks for " + disk + " again";
      return VolumeLabel(volume) + " starts with the set total " + std::to_string(volume.set_total) + ", not the set's " +
             std::to_string(record.set_total) + ": the launcher takes it for a disk of another set and asks for " +
             disk + " again";
    }
    return disk + " is missing beside the launcher: after volume " + std::to_string(n - 1) + " the entries hold " +
           std::to_string(record.extracted_bytes) + " of the set total's " + std::to_string(record.set_total) +
           " bytes, so the launcher asks for it";
  }
  if (!record.expansions.empty()) return HandOffFailure(record, temp_dir, limit) + "; the launcher shows its error message";
  if (last == nullptr)
    return (record.volumes.empty() ? "volume 1" : VolumeLabel(record.volumes.front())) +
           ": the launcher cannot read the volume's set total; it shows its error message";
  std::string problem = EntryFailure(record, *last, code_page, temp_dir, limit);
  if (problem.empty())
    return VolumeFileName(last->number + 1) + ": its path beside the launcher does not fit the launcher's " +
           std::to_string(payload::kTextSize) + "-byte text";
  return VolumeLabel(*last) + (problem.compare(0, 6, "entry ") == 0 ? ", " : ": ") + problem +
         "; the launcher fails there and shows its error message";
}

// What verify has read of a set so far, shared by its phases.
struct SetCheck {
  Verification v;
  std::filesystem::path launcher;
  StubInfo stub;
  CodePage code_page = CodePage::kUtf8;
  std::string temp_dir;
  RunRecord record;

  void fact(const std::string& text) { v.facts.push_back(text); }
  void error(const std::string& text) { v.findings.push_back({true, text}); }
  void warning(const std::string& text) { v.findings.push_back({false, text}); }
};

// Reads the launcher: what it is, where volume 1 starts and where it ends. Returns why the
// launcher fails before it reads volume 1, or an empty text.
std::string ReadLauncher(SetCheck* c) {
  Bytes bytes;
  try {
    bytes = ReadWholeFile(c->launcher);
  } catch (const PackError& e) {
    return e.what();
  }
  std::string reason;
  if (!InspectStub(bytes, &c->stub, &reason)) return NotALauncherProblem(c->launcher, reason);
  const StubInfo& stub = c->stub;
  c->code_page = CodePageOf(stub.kind);
  c->fact("launcher: " + PathText(c->launcher) + " (" + (stub.kind == StubKind::kWindows ? "Windows" : "Linux") +
          "), version \"" + ToUtf8(stub.version, c->code_page) + "\", names in " + CodePageName(c->code_page));
  if (stub.version.empty()) c->warning("the version text is empty: the prompts show \"Version\" with nothing after it");
  // The payload offset: the launcher seeks to it as a signed 32-bit value.
  if (stub.payload_offset == payload::kUnstampedOffset)
    return "the payload offset (resource 104) is not stamped: the launcher carries no set";
  if (stub.payload_offset > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    return "the payload offset " + std::to_string(stub.payload_offset) +
           " is negative as the launcher reads it: its seek to volume 1 fails";
  const payload::VolumeEnd end = payload::FirstVolumeEnd(stub.security, stub.payload_offset, bytes.size());
  if (end.damaged())
    return SecurityDirectoryProblem(end, stub.payload_offset, bytes.size()) +
           ": the launcher takes the set for damaged and fails before it extracts anything";
  if (end.kind == payload::VolumeEndKind::kCertificateTable)
    c->fact("signed: certificate table at offset " + std::to_string(end.table.offset) + ", " +
            std::to_string(end.table.size) + " bytes, where volume 1 ends (the signature itself is not checked)");
  return {};
}

// The volumes as the engine read them, and the names of their entries.
void ExplainVolumes(SetCheck* c) {
  const RunRecord& r = c->record;
  std::vector<std::string> seen;
  for (const RunVolume& volume : r.volumes) {
    if (!volume.accepted) continue;
    std::int64_t data = 0;
    for (std::size_t i = 0; i < volume.files.size(); ++i) {
      const RunFile& file = r.files[volume.files[i]];
      data += std::max(file.announced_size, 0);
      const std::string where = VolumeLabel(volume) + ", entry " + std::to_string(i + 1) + " " + Quoted(file.name, c->code_page);
      if (IsSetupFileName(file.name, c->code_page, true))
        c->warning(where + ": the launcher replaces this file with the expanded setup file");
      for (const std::string& other : seen)
        if (SameFileName(other, file.name, c->code_page))
          c->warning(where + ": a second entry of this name, which overwrites the first");
      seen.push_back(file.name);
    }
    c->fact(VolumeLabel(volume) + ": " + Count(volume.files.size(), "entry", "entries") + ", " + std::to_string(data) +
            " bytes of data");
  }
}

// Tells of a Disk<n> beside the launcher after the last volume the engine read: one of this
// set whose entries the engine never extracts, or a file of another set.
void CheckNextVolume(SetCheck* c, int last) {
  const std::filesystem::path directory = c->launcher.parent_path();
  const std::string name = VolumeFileName(last + 1);
  std::optional<std::filesystem::path> path;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(directory.empty() ? "." : directory, ec))
    if (SameFileName(PathText(item.path().filename()), name, CodePage::kUtf8) && item.is_regular_file(ec)) {
      path = item.path();
      if (PathText(item.path().filename()) == name) break;
    }
  if (!path) return;
  const RunRecord next =
      RunEngine(EngineOptions(*path, c->stub, kListTempDir, RunMode::kDryRun, last + 1, c->record.set_total));
  const RunVolume* volume = LastAccepted(next);
  if (volume != nullptr && !volume->files.empty() && volume->set_total == c->record.set_total)
    c->warning(PathText(path->filename()) + " is never read: the set total is reached on volume " + std::to_string(last) +
               ", so the launcher never extracts its " + Count(volume->files.size(), "entry", "entries"));
  else
    c->warning(PathText(path->filename()) + " lies beside the launcher but is not part of this set");
}

// The set read whole: its totals, a volume beside it that the launcher never opens.
void ExplainTotals(SetCheck* c) {
  const RunRecord& r = c->record;
  if (r.extracted_bytes < r.set_total) return;
  const int last = LastAccepted(r) != nullptr ? LastAccepted(r)->number : 0;
  c->fact("set total: " + std::to_string(r.set_total) + " bytes; the entries' data: " +
          std::to_string(r.extracted_bytes) + " bytes in " + Count(r.files.size(), "entry", "entries") +
          " on " + Count(static_cast<std::size_t>(last), "volume", "volumes"));
  if (r.extracted_bytes > r.set_total)
    c->warning("the entries' data sizes add up to " + std::to_string(r.extracted_bytes) +
               " bytes, more than the set total " + std::to_string(r.set_total));
  CheckNextVolume(c, last);
}

// The setup files as the hand-off expanded them.
void ExplainSetupFiles(SetCheck* c) {
  std::string line;
  for (const RunExpansion& e : c->record.expansions) {
    if (!e.found || !e.copied) continue;
    const std::string name = WithRole(e.compressed);
    if (!e.szdd) c->warning(name + " is not compressed: the launcher copies it as it is");
    if (e.expanded != e.announced || !e.szdd) continue;
    line += (line.empty() ? " " : "; ") + e.compressed + " expands to " + std::to_string(e.expanded) + " bytes";
    // The presets are written into the setup information file in the launcher's code page.
    if (e.compressed == payload::kSetupInfoCompressed)
      if (std::string warning = InfoTextWarning(e.head, c->code_page); !warning.empty()) c->warning(warning);
    if (e.compressed != payload::kSetupProgramCompressed) continue;
    if (c->stub.kind == StubKind::kWindows && !StartsWith(e.head, kPeMagic))
      c->warning("the setup program is not a Windows executable (no \"MZ\"): Windows cannot start it");
    if (c->stub.kind == StubKind::kLinux && !LooksLikeExecutable(e.head) && !StartsWith(e.head, "#!"))
      c->warning("the setup program is neither an ELF executable nor a script: the system cannot start it");
  }
  if (!line.empty()) c->fact("setup files:" + line);
}

// The clean-up list and the path limits, with their margins for the temporary directory.
void ExplainLimits(SetCheck* c, long longest) {
  const RunRecord& r = c->record;
  if (r.files.empty() || !r.succeeded) return;
  c->fact("clean-up list: " + std::to_string(r.files.size()) + " paths take " + std::to_string(r.cleanup_bytes) +
          " of " + std::to_string(payload::kCleanupListSize) + " bytes with the temporary directory " + c->temp_dir +
          " (margin " +
          std::to_string(static_cast<long>(payload::kCleanupListSize) - static_cast<long>(r.cleanup_bytes)) +
          " bytes); temporary directories of up to " + std::to_string(longest) + " bytes fit");
}

std::vector<std::string> NamesOf(const RunRecord& record) {
  std::vector<std::string> names;
  for (const RunFile& file : record.files) names.push_back(file.name);
  return names;
}

}  // namespace

std::string TypicalTempDir(StubKind kind) {
  return kind == StubKind::kWindows ? "C:\\Documents and Settings\\Administrator\\Local Settings\\Temp\\" : "Z:\\tmp\\";
}

std::string TempDirProblem(const std::string& temp_dir) {
  if (temp_dir.empty()) return "the temporary directory is empty; the launcher always has one";
  const bool drive = temp_dir.size() >= 3 && std::isalpha(static_cast<unsigned char>(temp_dir[0])) &&
                     temp_dir[1] == ':' && temp_dir[2] == '\\';
  const bool network = temp_dir.size() >= 3 && temp_dir[0] == '\\' && temp_dir[1] == '\\' && temp_dir[2] != '\\';
  if (!drive && !network)
    return "\"" + temp_dir + "\" is not a Windows path (C:\\..., or Z:\\... for the Linux launcher's view)";
  const std::size_t bytes = temp_dir.size() + (temp_dir.back() == '\\' ? 0 : 1);
  if (bytes > kPathLimit)
    return "the temporary directory takes " + std::to_string(bytes) + " bytes with its backslash; the launcher's text holds " +
           std::to_string(kPathLimit);
  return {};
}

long LongestTempDir(const std::vector<std::string>& names) {
  long longest = static_cast<long>(kPathLimit);
  std::size_t name_bytes = 0;  // the names and their NULs
  for (const std::string& name : names) {
    name_bytes += name.size() + 1;
    longest = std::min(longest, static_cast<long>(kPathLimit) - static_cast<long>(name.size()));
    if (IsSetupFileName(name, CodePage::kUtf8))
      longest = std::min(longest, static_cast<long>(kLzPathLimit) - static_cast<long>(name.size()));
  }
  if (!names.empty())
    longest = std::min(longest, (static_cast<long>(payload::kCleanupListSize) - 1 - static_cast<long>(name_bytes)) /
                                    static_cast<long>(names.size()));
  return longest;
}

ListedFile ListFile(const std::filesystem::path& path, const CodePage* code_page) {
  ListedFile listed;
  listed.path = path;
  const Bytes bytes = ReadWholeFile(path);
  std::string error;
  StubInfo stub;  // for a volume alone, the code page only
  int first_volume = 1;
  std::int32_t set_total = 0;
  if (InspectStub(bytes, &listed.stub, &error)) {
    listed.is_launcher = true;
    listed.volume = 1;
    RequireSet(path, listed.stub);
    listed.volume_end = payload::FirstVolumeEnd(listed.stub.security, listed.stub.payload_offset, bytes.size());
    if (listed.volume_end.damaged()) {
      listed.damage = SecurityDirectoryProblem(listed.volume_end, listed.stub.payload_offset, bytes.size()) +
                      "; the launcher fails before it reads volume 1";
      return listed;
    }
    stub = listed.stub;
  } else {
    listed.volume = VolumeNumberOf(PathText(path.filename()));
    if (listed.volume == 0 && LooksLikeExecutable(bytes)) throw PackError(PathText(path) + ": " + error);
    if (bytes.size() < payload::kSetTotalSize) {
      listed.damage = "the volume ends before its set total";
      return listed;
    }
    first_volume = listed.volume != 0 ? listed.volume : 2;
    set_total = static_cast<std::int32_t>(payload::ReadLE32(bytes.data()));
    stub.kind = code_page != nullptr && *code_page == CodePage::kCp932 ? StubKind::kWindows : StubKind::kLinux;
  }
  const RunRecord record =
      RunEngine(EngineOptions(path, stub, kListTempDir, RunMode::kDryRun, first_volume, set_total));
  const RunVolume* volume = LastAccepted(record);
  if (volume == nullptr) {
    listed.damage = "the volume ends before its set total";
    return listed;
  }
  listed.has_set_total = true;
  listed.set_total = listed.is_launcher ? record.set_total : set_total;
  // The engine read the volume whole when it went on to the next one or to the hand-off.
  if (!record.succeeded && !record.stopped && record.expansions.empty() && record.prompts.empty()) {
    bool limit = false;
    listed.damage = EntryFailure(record, *volume, CodePageOf(stub.kind), kListTempDir, &limit);
  }

  CodePage shown = code_page != nullptr ? *code_page : CodePageOf(stub.kind);
  if (code_page == nullptr && !listed.is_launcher) {
    shown = CodePage::kUtf8;
    for (std::size_t index : volume->files)
      if (!IsValidUtf8(record.files[index].name)) shown = CodePage::kCp932;
  }
  for (std::size_t index : volume->files) {
    const RunFile& file = record.files[index];
    szdd::Header header;
    const bool szdd = szdd::ParseHeader(file.head.data(), file.head.size(), &header);
    listed.entries.push_back({file.name, ToUtf8(file.name, shown), file.filetime, file.announced_size, szdd,
                              szdd ? header.expanded_length : 0});
  }
  return listed;
}

Verification VerifySet(const std::filesystem::path& launcher, const std::string& temp_dir_option) {
  SetCheck c;
  c.launcher = launcher;
  if (const std::string failure = ReadLauncher(&c); !failure.empty()) {
    c.error(failure);
    return c.v;
  }
  c.temp_dir = temp_dir_option.empty() ? TypicalTempDir(c.stub.kind) : temp_dir_option;
  c.record = RunEngine(EngineOptions(launcher, c.stub, c.temp_dir));
  const RunRecord& r = c.record;
  if (c.stub.payload_offset != c.stub.image_size)  // an error only where the launcher fails
    c.v.findings.push_back({!r.succeeded, "the payload offset " + std::to_string(c.stub.payload_offset) +
                                              " is not where the launcher's executable image ends (" +
                                              std::to_string(c.stub.image_size) + "), where volume 1 starts"});
  ExplainVolumes(&c);
  ExplainTotals(&c);
  ExplainSetupFiles(&c);
  long longest = LongestTempDir(NamesOf(r));
  if (!r.succeeded) {
    bool limit = false;
    std::string failure = Failure(r, c.code_page, c.temp_dir, &limit);
    if (limit) {
      // The names past the point of failure count too: the set as a short directory reads it.
      const RunRecord shortest = RunEngine(EngineOptions(launcher, c.stub, kListTempDir));
      longest = shortest.succeeded ? LongestTempDir(NamesOf(shortest)) : -1;
      failure += "; with the temporary directory " + c.temp_dir + " (" + std::to_string(c.temp_dir.size()) +
                 " bytes) the launcher cannot extract this set: " +
                 (longest < 0 ? std::string("its names alone outgrow the launcher's limits")
                              : "it fits temporary directories of up to " + std::to_string(longest) + " bytes");
    }
    c.v.limited = limit && c.v.sound();  // the path limit is the only error
    c.error(failure);
  }
  c.v.longest_temp_dir = longest;
  ExplainLimits(&c, longest);
  return c.v;
}

RunRecord ExtractSet(const std::filesystem::path& launcher, const std::filesystem::path& directory) {
  StubInfo stub;
  std::string reason;
  if (!InspectStub(ReadWholeFile(launcher), &stub, &reason)) throw PackError(PathText(launcher) + ": " + reason);
  RequireSet(launcher, stub);
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) throw PackError(PathText(directory) + ": cannot create the directory: " + ec.message());
  std::string temp_dir = WindowsForm(directory);
  if (temp_dir.back() != '\\') temp_dir += '\\';
  RunRecord record = RunEngine(EngineOptions(launcher, stub, temp_dir, RunMode::kWrite));
  if (!record.succeeded) {
    bool limit = false;
    throw PackError(PathText(launcher) + ": " + Failure(record, CodePageOf(stub.kind), temp_dir, &limit));
  }
  return record;
}

}  // namespace pack
