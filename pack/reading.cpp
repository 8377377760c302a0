// Reading sets back: listing volumes and checking a whole set as the launcher reads it.
#include "pack/reading.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "format/layout.h"
#include "pack/files.h"
#include "pack/info_text.h"
#include "pack/paths.h"
#include "pack/set_files.h"
#include "szdd/szdd.h"

namespace pack {

namespace {

// LZ32 opens a path of at most 127 bytes (its open-file record's field, with the NUL).
constexpr std::size_t kLzPathLimit = 127;
constexpr std::size_t kPathLimit = payload::kTextSize - 1;
constexpr int kMostVolumes = 9999;

bool IsSetupFileName(const std::string& name, CodePage code_page) {
  return SameFileName(name, payload::kSetupInfoCompressed, code_page) ||
         SameFileName(name, payload::kSetupProgramCompressed, code_page);
}

// The volume file the launcher opens for volume `number`: the exact name, else the same name
// in another letter case (as the launcher's file layer finds it).
std::optional<std::filesystem::path> FindVolumeFile(const std::filesystem::path& directory, int number) {
  const std::string name = "Disk" + std::to_string(number);
  std::error_code ec;
  if (std::filesystem::is_regular_file(directory / name, ec)) return directory / name;
  for (const auto& item : std::filesystem::directory_iterator(directory, ec)) {
    const std::string other = PathText(item.path().filename());
    if (SameFileName(other, name, CodePage::kUtf8) && item.is_regular_file(ec)) return item.path();
  }
  return std::nullopt;
}

bool LooksLikeExecutable(const Bytes& bytes) {
  return (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') ||
         (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F');
}

std::string Count(std::size_t n, const std::string& noun) {
  if (n == 1) return "1 " + noun;
  if (noun.back() == 'y') return std::to_string(n) + " " + noun.substr(0, noun.size() - 1) + "ies";
  return std::to_string(n) + " " + noun + "s";
}

std::string Quoted(const std::string& name, CodePage code_page) { return "\"" + ToUtf8(name, code_page) + "\""; }

// A volume of the set as verify reads it: its file and where it starts and ends.
struct VolumeFile {
  std::string label;  // "volume 1 (launcher)" or "Disk2"
  Bytes bytes;
  std::size_t start = 0;
  std::size_t certificate_table = kNoCertificateTable;  // where volume 1 of a signed launcher ends
};

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

std::string CertificateTableText(const payload::SecurityDirectory& table) {
  return "certificate table at offset " + std::to_string(table.offset) + ", " + std::to_string(table.size) + " bytes";
}

}  // namespace

std::string TypicalTempDir(StubKind kind) {
  return kind == StubKind::kWindows ? "C:\\Documents and Settings\\Administrator\\Local Settings\\Temp\\" : "Z:\\tmp\\";
}

bool CleanupFit::fits() const { return static_cast<long>(temp_dir_bytes) <= longest_temp_dir; }

CleanupFit FitCleanupList(const std::string& temp_dir, const std::vector<std::string>& names) {
  CleanupFit fit;
  const std::size_t count = names.size();
  std::size_t name_bytes = 0;  // the names and their NULs
  long longest_temp_dir = std::numeric_limits<long>::max();
  for (const std::string& name : names) {
    name_bytes += name.size() + 1;
    fit.longest_path = std::max(fit.longest_path, temp_dir.size() + name.size());
    longest_temp_dir = std::min(longest_temp_dir, static_cast<long>(kPathLimit) - static_cast<long>(name.size()));
    if (IsSetupFileName(name, CodePage::kUtf8))
      longest_temp_dir = std::min(longest_temp_dir, static_cast<long>(kLzPathLimit) - static_cast<long>(name.size()));
  }
  fit.list_bytes = count * temp_dir.size() + name_bytes + 1;
  fit.margin = static_cast<long>(payload::kCleanupListSize) - static_cast<long>(fit.list_bytes);
  if (count > 0) {
    const long by_list = (static_cast<long>(payload::kCleanupListSize) - 1 - static_cast<long>(name_bytes)) /
                         static_cast<long>(count);
    longest_temp_dir = std::min(longest_temp_dir, by_list);
  }
  fit.longest_temp_dir = count > 0 ? longest_temp_dir : static_cast<long>(kPathLimit);
  fit.temp_dir_bytes = temp_dir.size();
  return fit;
}

ListedFile ListFile(const std::filesystem::path& path, const CodePage* code_page) {
  ListedFile listed;
  listed.path = path;
  const Bytes bytes = ReadWholeFile(path);
  std::string error;
  std::size_t start = 0;
  std::size_t table = kNoCertificateTable;
  if (InspectStub(bytes, &listed.stub, &error)) {
    listed.is_launcher = true;
    listed.volume = 1;
    if (listed.stub.payload_offset == payload::kUnstampedOffset)
      throw PackError(PathText(path) + ": a launcher with no set (its payload offset is not stamped)");
    start = listed.stub.payload_offset;
    listed.volume_end = payload::FirstVolumeEnd(listed.stub.security, listed.stub.payload_offset, bytes.size());
    if (listed.volume_end.damaged()) {
      listed.reading.damage = SecurityDirectoryProblem(listed.volume_end, listed.stub.payload_offset, bytes.size()) +
                              "; the launcher fails before it reads volume 1";
      return listed;
    }
    if (listed.volume_end.kind == payload::VolumeEndKind::kCertificateTable) table = listed.volume_end.end;
  } else {
    listed.volume = VolumeNumberOf(PathText(path.filename()));
    if (listed.volume == 0 && LooksLikeExecutable(bytes)) throw PackError(PathText(path) + ": " + error);
  }
  listed.reading = ReadVolume(bytes, start, table);

  CodePage shown = CodePage::kUtf8;
  if (code_page != nullptr) {
    shown = *code_page;
  } else if (listed.is_launcher) {
    shown = CodePageOf(listed.stub.kind);
  } else {
    for (const VolumeEntry& entry : listed.reading.entries)
      if (!IsValidUtf8(entry.name)) shown = CodePage::kCp932;
  }
  for (const VolumeEntry& entry : listed.reading.entries) {
    ListedEntry item;
    item.entry = entry;
    item.display_name = ToUtf8(entry.name, shown);
    const std::size_t end = std::min(bytes.size(), table);
    const std::size_t available = end - std::min(end, entry.data_position);
    const std::size_t size = entry.size < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(entry.size), available);
    szdd::Header header;
    if (size > 0 && szdd::ParseHeader(&bytes[entry.data_position], size, &header)) {
      item.szdd = true;
      item.expanded_size = header.expanded_length;
    }
    listed.entries.push_back(item);
  }
  return listed;
}

bool Verification::sound() const {
  return std::none_of(findings.begin(), findings.end(), [](const Finding& f) { return f.error; });
}

namespace {

// Where an entry was read: its volume's number, counted from 1.
struct Located {
  int volume;
  VolumeEntry entry;
};

// What verify has read of a set so far, shared by its phases.
struct SetCheck {
  Verification v;
  std::filesystem::path launcher;
  StubInfo stub;
  CodePage code_page = CodePage::kUtf8;
  std::vector<std::string> names;  // every entry's name, in the order read
  std::vector<Located> located;
  std::vector<Bytes> volume_bytes;  // the files of the volumes read, kept for expanding the setup files
  std::int64_t data_bytes = 0;
  std::int32_t set_total = 0;
  int last_read = 0;
  bool complete = false;  // every volume up to the set total was read whole

  void error(const std::string& text) { v.findings.push_back({true, text}); }
  void warning(const std::string& text) { v.findings.push_back({false, text}); }
};

// Where volume 1 ends: at the certificate table of a signed launcher, told as a fact. Returns
// false when the security directory lies: the launcher fails before it reads anything.
bool CheckCertificateTable(SetCheck* c, VolumeFile* first) {
  const payload::VolumeEnd end = payload::FirstVolumeEnd(c->stub.security, c->stub.payload_offset, first->bytes.size());
  if (end.damaged()) {
    c->error(SecurityDirectoryProblem(end, c->stub.payload_offset, first->bytes.size()) +
             ": the launcher takes the set for damaged and fails before it extracts anything");
    return false;
  }
  if (end.kind == payload::VolumeEndKind::kCertificateTable) {
    c->v.facts.push_back("signed: " + CertificateTableText(end.table) +
                         ", where volume 1 ends (the signature itself is not checked)");
    first->certificate_table = end.end;
  }
  return true;
}

// Reads the launcher: what it is, and where volume 1 starts and ends. Returns false when the
// set cannot be read any further.
bool ReadLauncher(SetCheck* c, VolumeFile* first) {
  first->label = "volume 1";
  try {
    first->bytes = ReadWholeFile(c->launcher);
  } catch (const PackError& e) {
    c->error(e.what());
    return false;
  }
  std::string reason;
  if (!InspectStub(first->bytes, &c->stub, &reason)) {
    c->error(NotALauncherProblem(c->launcher, reason));
    return false;
  }
  const StubInfo& stub = c->stub;
  c->code_page = CodePageOf(stub.kind);
  c->v.facts.push_back("launcher: " + PathText(c->launcher) + " (" +
                       (stub.kind == StubKind::kWindows ? "Windows" : "Linux") + "), version \"" +
                       ToUtf8(stub.version, c->code_page) + "\", names in " + CodePageName(c->code_page));
  if (stub.version.empty()) c->warning("the version text is empty: the prompts show \"Version\" with nothing after it");

  // The payload offset: the launcher seeks to it as a signed 32-bit value.
  if (stub.payload_offset == payload::kUnstampedOffset) {
    c->error("the payload offset (resource 104) is not stamped: the launcher carries no set");
    return false;
  }
  if (stub.payload_offset > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    c->error("the payload offset " + std::to_string(stub.payload_offset) +
             " is negative as the launcher reads it: its seek to volume 1 fails");
    return false;
  }
  if (stub.payload_offset != stub.image_size)
    c->error("the payload offset " + std::to_string(stub.payload_offset) +
             " is not where the launcher's executable image ends (" + std::to_string(stub.image_size) +
             "), where volume 1 starts");
  first->start = stub.payload_offset;
  return CheckCertificateTable(c, first);
}

// Reads Disk<number> beside the launcher into *volume. Returns false, with the error, when the
// launcher would find no such volume.
bool ReadFollowingVolume(SetCheck* c, int number, VolumeFile* volume) {
  const auto path = FindVolumeFile(c->launcher.parent_path(), number);
  if (!path) {
    c->error("Disk" + std::to_string(number) + " is missing beside the launcher: after volume " +
             std::to_string(number - 1) + " the entries hold " + std::to_string(c->data_bytes) + " of the set total's " +
             std::to_string(c->set_total) + " bytes, so the launcher asks for it");
    return false;
  }
  *volume = VolumeFile();
  volume->label = PathText(path->filename());
  try {
    volume->bytes = ReadWholeFile(*path);
  } catch (const PackError& e) {
    c->error(e.what());
    return false;
  }
  return true;
}

// Checks a volume's set total against the set's (volume 1 gives it). Returns false when the
// launcher reads no further.
bool CheckSetTotal(SetCheck* c, const VolumeReading& reading, int number, const std::string& where,
                   const std::string& label) {
  if (!reading.has_set_total) {
    c->error(where + ": " + reading.damage);
    return false;
  }
  if (number == 1) {
    c->set_total = reading.set_total;
    if (c->set_total < 0) {
      c->error("the set total " + std::to_string(c->set_total) + " is negative");
      return false;
    }
  } else if (reading.set_total != c->set_total) {
    c->error(where + " starts with the set total " + std::to_string(reading.set_total) + ", not the set's " +
             std::to_string(c->set_total) + ": the launcher takes it for a disk of another set and asks for " + label +
             " again");
    return false;
  }
  return true;
}

// Checks the names of a volume's entries and records them. Returns the volume's data bytes.
std::int64_t CheckEntries(SetCheck* c, const VolumeReading& reading, int number, const std::string& where) {
  std::int64_t volume_data = 0;
  for (std::size_t i = 0; i < reading.entries.size(); ++i) {
    const VolumeEntry& entry = reading.entries[i];
    const std::string entry_where = where + ", entry " + std::to_string(i + 1) + " " + Quoted(entry.name, c->code_page);
    if (!entry.name_terminated)
      c->error(entry_where + ": the counted name bytes do not end with its NUL (or hold another before it)");
    const std::string problem = EntryNameProblem(entry.name, c->code_page);
    if (!problem.empty()) c->error(entry_where + ": the name " + problem + "; the launcher refuses it");
    for (const char* expanded : {payload::kSetupInfoExpanded, payload::kSetupProgramExpanded})
      if (SameFileName(entry.name, expanded, c->code_page))
        c->warning(entry_where + ": the launcher replaces this file with the expanded setup file");
    for (const std::string& seen : c->names)
      if (SameFileName(seen, entry.name, c->code_page))
        c->error(entry_where + ": a second entry of this name, which overwrites the first");
    c->names.push_back(entry.name);
    c->located.push_back({number, entry});
    if (entry.size > 0) volume_data += entry.size;
  }
  return volume_data;
}

// Reads the volumes in the order and as far as the launcher reads them.
void WalkVolumes(SetCheck* c, VolumeFile first) {
  VolumeFile current = std::move(first);
  for (int number = 1; number <= kMostVolumes; ++number) {
    if (number > 1 && !ReadFollowingVolume(c, number, &current)) break;
    const VolumeReading reading = ReadVolume(current.bytes, current.start, current.certificate_table);
    const std::string where = number == 1 ? "volume 1 (in the launcher at " + std::to_string(current.start) + ")"
                                          : "volume " + std::to_string(number) + " (" + current.label + ")";
    if (!CheckSetTotal(c, reading, number, where, current.label)) break;
    c->last_read = number;
    const std::int64_t volume_data = CheckEntries(c, reading, number, where);
    c->data_bytes += volume_data;
    c->v.facts.push_back(where + ": " + Count(reading.entries.size(), "entry") + ", " + std::to_string(volume_data) +
                         " bytes of data");
    c->volume_bytes.push_back(std::move(current.bytes));
    if (!reading.damage.empty()) {
      c->error(where + ": " + reading.damage + "; the launcher fails there");
      break;
    }
    // The launcher looks for a following volume only while the data falls short of the total.
    if (c->data_bytes >= c->set_total) {
      c->complete = true;
      break;
    }
  }
}

// The set read whole: its totals, and a volume beside it that the launcher never opens.
void CheckTotals(SetCheck* c) {
  if (!c->complete) return;
  c->v.facts.push_back("set total: " + std::to_string(c->set_total) + " bytes; the entries' data: " +
                       std::to_string(c->data_bytes) + " bytes in " + Count(c->names.size(), "entry") + " on " +
                       Count(static_cast<std::size_t>(c->last_read), "volume"));
  if (c->data_bytes > c->set_total)
    c->error("the entries' data sizes add up to " + std::to_string(c->data_bytes) + " bytes, more than the set total " +
             std::to_string(c->set_total));
  const auto path = FindVolumeFile(c->launcher.parent_path(), c->last_read + 1);
  if (!path) return;
  VolumeReading extra;
  try {
    extra = ReadVolume(ReadWholeFile(*path), 0);
  } catch (const PackError&) {
  }
  if (extra.has_set_total && extra.set_total == c->set_total && !extra.entries.empty())
    c->error(PathText(path->filename()) + " is never read: the set total is reached on volume " +
             std::to_string(c->last_read) + ", so the launcher never extracts its " +
             Count(extra.entries.size(), "entry"));
  else
    c->warning(PathText(path->filename()) + " lies beside the launcher but is not part of this set");
}

// Warns when the expanded setup program is not one the launcher's system can start.
void CheckSetupProgram(SetCheck* c, const Bytes& expanded) {
  const bool windows_program = expanded.size() >= 2 && expanded[0] == 'M' && expanded[1] == 'Z';
  const bool linux_program =
      LooksLikeExecutable(expanded) || (expanded.size() >= 2 && expanded[0] == '#' && expanded[1] == '!');
  if (c->stub.kind == StubKind::kWindows && !windows_program)
    c->warning("the setup program is not a Windows executable (no \"MZ\"): Windows cannot start it");
  if (c->stub.kind == StubKind::kLinux && !linux_program)
    c->warning("the setup program is neither an ELF executable nor a script: the system cannot start it");
}

// The presets are written into the setup information file in the launcher's code page.
void WarnOfInfoText(SetCheck* c, const Bytes& expanded) {
  if (std::string warning = InfoTextWarning(expanded, c->code_page); !warning.empty()) c->warning(warning);
}

// Checks one setup file: present, and expanding to the whole length its header announces.
// Returns what it expands to, or nothing when it does not.
std::optional<std::string> CheckSetupFile(SetCheck* c, const char* name, const char* role) {
  const Located* found = nullptr;
  for (const Located& item : c->located)
    if (SameFileName(item.entry.name, name, c->code_page)) found = &item;
  if (found == nullptr) {
    if (c->complete) c->error(std::string("the set has no ") + name + " (" + role + ")");
    return std::nullopt;
  }
  const Bytes& file = c->volume_bytes[static_cast<std::size_t>(found->volume - 1)];
  const std::size_t available = file.size() - std::min(file.size(), found->entry.data_position);
  const std::size_t size =
      found->entry.size < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(found->entry.size), available);
  const std::uint8_t* data = size > 0 ? &file[found->entry.data_position] : nullptr;
  szdd::Header header;
  if (!szdd::ParseHeader(data, size, &header)) {
    c->warning(std::string(name) + " (" + role + ") is not compressed: the launcher copies it as it is");
    return std::nullopt;
  }
  Bytes expanded;
  const szdd::ExpandResult result = szdd::ExpandBuffer(data, size, &expanded);
  if (result.status != szdd::Status::kOk) {
    c->error(std::string(name) + " (" + role + ") does not expand: " +
             (result.status == szdd::Status::kNotSzdd ? "unknown compression mode"
                                                      : "its data ends after " + std::to_string(result.written) +
                                                            " of the " + std::to_string(header.expanded_length) +
                                                            " bytes its header announces"));
    return std::nullopt;
  }
  if (std::strcmp(name, payload::kSetupProgramCompressed) == 0) CheckSetupProgram(c, expanded);
  if (std::strcmp(name, payload::kSetupInfoCompressed) == 0) WarnOfInfoText(c, expanded);
  return std::string(name) + " expands to " + std::to_string(expanded.size()) + " bytes";
}

// The setup files: present, and expanding to the whole length their headers announce.
void CheckSetupFiles(SetCheck* c) {
  std::vector<std::string> expanded_facts;
  for (const auto& [name, role] : {std::pair{payload::kSetupInfoCompressed, "the setup information file"},
                                   std::pair{payload::kSetupProgramCompressed, "the setup program"}}) {
    if (auto fact = CheckSetupFile(c, name, role)) expanded_facts.push_back(std::move(*fact));
  }
  if (expanded_facts.empty()) return;
  std::string line = "setup files:";
  for (std::size_t i = 0; i < expanded_facts.size(); ++i) line += (i ? "; " : " ") + expanded_facts[i];
  c->v.facts.push_back(line);
}

// The clean-up list, for a temporary directory as the launcher's users have it.
void CheckLimits(SetCheck* c, const std::string& temp_dir_option) {
  if (c->names.empty()) return;
  const std::string temp_dir = temp_dir_option.empty() ? TypicalTempDir(c->stub.kind) : temp_dir_option;
  const CleanupFit fit = FitCleanupList(temp_dir, c->names);
  c->v.facts.push_back("clean-up list: " + std::to_string(c->names.size()) + " paths take " +
                       std::to_string(fit.list_bytes) + " of " + std::to_string(payload::kCleanupListSize) +
                       " bytes with the temporary directory " + temp_dir + " (margin " + std::to_string(fit.margin) +
                       " bytes); temporary directories of up to " + std::to_string(fit.longest_temp_dir) +
                       " bytes fit");
  if (!fit.fits())
    c->warning("with the temporary directory " + temp_dir + " (" + std::to_string(temp_dir.size()) +
               " bytes) the launcher cannot extract this set: it fits temporary directories of up to " +
               std::to_string(fit.longest_temp_dir) + " bytes (clean-up list margin " + std::to_string(fit.margin) +
               " bytes, longest path " + std::to_string(fit.longest_path) + " bytes)");
}

}  // namespace

Verification VerifySet(const std::filesystem::path& launcher, const std::string& temp_dir_option) {
  SetCheck check;
  check.launcher = launcher;
  VolumeFile first;
  if (!ReadLauncher(&check, &first)) return check.v;
  WalkVolumes(&check, std::move(first));
  CheckTotals(&check);
  CheckSetupFiles(&check);
  CheckLimits(&check, temp_dir_option);
  return check.v;
}

}  // namespace pack
