// Making a set: entries, volume layout, the stamped launcher, and the files written whole.
#include "pack/builder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>

#include "format/layout.h"
#include "pack/files.h"
#include "pack/info_text.h"
#include "pack/paths.h"
#include "pack/reading.h"
#include "pack/set_files.h"
#include "pack/stub.h"
#include "szdd/szdd.h"

namespace pack {

Bytes Compress(const Bytes& data, std::uint8_t missing_char) {
  szdd::CompressOptions options;
  options.missing_char = missing_char;
  return szdd::CompressBuffer(data.data(), data.size(), options);
}

namespace {

constexpr std::uint64_t kMaxSetTotal = std::numeric_limits<std::int32_t>::max();

// The entry name of a distributor's file, in the stub's code page.
std::string NameInCodePage(const std::filesystem::path& path, CodePage code_page) {
  const std::string name = PathText(path.filename());
  std::string converted;
  if (!FromUtf8(name, code_page, &converted))
    throw PackError(PathText(path) + ": its name cannot be written in " + CodePageName(code_page) +
                    (code_page == CodePage::kCp932 ? ", the Windows launcher's code page" : ""));
  return converted;
}

// Reads a stub's resources and checks that a set can be appended to it: a launcher, carrying
// nothing after its executable image. Throws PackError with a reason after `named` (its path).
StubInfo CheckStub(const Bytes& stub, const std::string& named) {
  StubInfo info;
  std::string error;
  if (!InspectStub(stub, &info, &error)) throw PackError(named + ": " + error);
  // Stamping a signed stub breaks its signature, and its certificate table would sit inside
  // the set: sign the launcher the build writes instead.
  if (info.security.offset != 0 || info.security.size != 0)
    throw PackError(named + ": is signed (a certificate table of " + std::to_string(info.security.size) +
                    " bytes at offset " + std::to_string(info.security.offset) +
                    "); build from the unsigned launcher and sign the set's launcher after building");
  if (stub.size() > info.image_size)
    throw PackError(named + ": already carries " + std::to_string(stub.size() - info.image_size) +
                    " bytes after its executable image (a set?); pack a launcher as it was built");
  if (stub.size() > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
    throw PackError(named + ": is too large for the launcher's signed 32-bit payload offset");
  return info;
}

// Throws PackError when a version text (in the stub's code page) does not fit resource 105.
void CheckVersion(const std::string& version, CodePage code_page) {
  if (version.size() >= payload::kVersionResourceSize)
    throw PackError("the version text \"" + ToUtf8(version, code_page) + "\" is " + std::to_string(version.size()) +
                    " bytes; the launcher holds at most " + std::to_string(payload::kVersionResourceSize - 1));
}

// The files of a set already in `directory` (the launcher's name, Disk<n> in any letter case).
// Throws PackError when there are any and `force` is false, or `directory` is not a directory.
std::vector<std::filesystem::path> CheckOutputDirectory(const std::filesystem::path& directory,
                                                        const std::string& launcher_name, bool force) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> existing;
  const fs::file_status status = fs::status(directory, ec);
  if (!fs::exists(status)) return existing;
  if (!fs::is_directory(status)) throw PackError(PathText(directory) + ": exists and is not a directory");
  for (const fs::directory_entry& item : fs::directory_iterator(directory, ec)) {
    const std::string name = PathText(item.path().filename());
    if (name == launcher_name || VolumeNumberOf(name) != 0) existing.push_back(item.path());
  }
  if (ec) throw PackError(PathText(directory) + ": cannot read the directory: " + ec.message());
  std::sort(existing.begin(), existing.end());
  if (!existing.empty() && !force)
    throw PackError(PathText(directory) + ": already holds a set (" + PathText(existing.front().filename()) +
                    "); use --force to replace it");
  return existing;
}

}  // namespace

std::int32_t CheckEntries(std::vector<PackEntry>* entries, CodePage code_page) {
  std::vector<std::uint64_t> sizes;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const PackEntry& entry = (*entries)[i];
    const std::string named = entry.source + ": the entry name " + Quoted(entry.name, code_page);
    if (const std::string problem = EntryNameProblem(entry.name, code_page); !problem.empty())
      throw PackError(named + " " + problem + "; the launcher would refuse it");
    if (IsSetupFileName(entry.name, code_page, true))
      throw PackError(named + " is the name the launcher expands a setup file to");
    for (std::size_t j = 0; j < i; ++j)
      if (SameFileName(entry.name, (*entries)[j].name, code_page))
        throw PackError(named + " is also the name of " + (*entries)[j].source + "'s entry");
    if (entry.data.size() > kMaxSetTotal)
      throw PackError(entry.source + ": " + std::to_string(entry.data.size()) +
                      " bytes of data, more than an entry's signed 32-bit size can hold");
    sizes.push_back(entry.data.size());
  }
  const std::int32_t total = CheckSetTotal(sizes);
  std::stable_partition(entries->begin(), entries->end(), [](const PackEntry& e) { return e.data.empty(); });
  return total;
}

std::int32_t CheckSetTotal(const std::vector<std::uint64_t>& data_sizes) {
  std::uint64_t total = 0;
  for (std::uint64_t size : data_sizes) {
    total += size;
    if (size > kMaxSetTotal || total > kMaxSetTotal)
      throw PackError("the set's data passes the signed 32-bit range of the set total (2147483647 bytes)");
  }
  return static_cast<std::int32_t>(total);
}

std::vector<std::vector<std::size_t>> PlanVolumes(std::uint64_t stub_size, const std::vector<PackEntry>& entries,
                                                  std::uint64_t disk_size) {
  if (stub_size + payload::kSetTotalSize > disk_size)
    throw PackError("the launcher stub (" + std::to_string(stub_size) + " bytes) and the set total do not fit a disk of " +
                    std::to_string(disk_size) + " bytes (--disk-size)");
  const std::uint64_t disk_room = disk_size - payload::kSetTotalSize;
  std::vector<std::vector<std::size_t>> volumes(1);
  std::uint64_t room = disk_size - stub_size - payload::kSetTotalSize;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t size = EntryRecordSize(entries[i].name.size(), entries[i].data.size());
    if (size > disk_room)
      throw PackError(entries[i].source + ": its entry takes " + std::to_string(size) +
                      " bytes, more than a disk of " + std::to_string(disk_size) + " bytes holds after the set total");
    if (size > room) {
      volumes.emplace_back();
      room = disk_room;
    }
    volumes.back().push_back(i);
    room -= size;
  }
  return volumes;
}

ComposedSet ComposeSet(Bytes stub, const std::string& version, const std::vector<PackEntry>& entries,
                       std::uint64_t disk_size) {
  CheckVersion(version, CodePageOf(CheckStub(stub, "the stub").kind));

  ComposedSet set;
  std::vector<std::uint64_t> sizes;
  sizes.reserve(entries.size());
  for (const PackEntry& entry : entries) sizes.push_back(entry.data.size());
  set.set_total = CheckSetTotal(sizes);
  set.volumes = PlanVolumes(stub.size(), entries, disk_size);

  std::string error;
  if (!StampStub(&stub, static_cast<std::uint32_t>(stub.size()), version, &error))
    throw PackError("cannot stamp the stub: " + error);
  set.launcher = std::move(stub);
  for (std::size_t v = 0; v < set.volumes.size(); ++v) {
    Bytes* volume = v == 0 ? &set.launcher : &set.disks.emplace_back();
    AppendLE32(volume, static_cast<std::uint32_t>(set.set_total));
    for (std::size_t index : set.volumes[v])
      AppendEntry(volume, entries[index].name, entries[index].filetime, entries[index].data);
  }
  return set;
}

std::vector<std::filesystem::path> WriteSetFiles(const ComposedSet& set, const std::filesystem::path& directory,
                                                 const std::string& launcher_name, unsigned mode, bool force) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // The directories this call creates, outermost first, to be removed again on failure.
  std::vector<fs::path> created;
  for (fs::path missing = directory; !missing.empty() && !fs::exists(fs::symlink_status(missing, ec));
       missing = missing.parent_path()) {
    created.insert(created.begin(), missing);
    if (missing == missing.parent_path()) break;
  }
  for (const fs::path& dir : created) {
    if (!fs::create_directory(dir, ec) || ec) {
      // The reason is taken before the clean-up's removals reuse the error code.
      const std::string reason = ec.message();
      for (auto it = created.rbegin(); it != created.rend(); ++it) fs::remove(*it, ec);
      throw PackError(PathText(directory) + ": cannot create the directory: " + reason);
    }
  }
  if (!fs::is_directory(directory, ec)) throw PackError(PathText(directory) + ": exists and is not a directory");

  const std::vector<fs::path> existing = CheckOutputDirectory(directory, launcher_name, force);

  std::vector<fs::path> written;
  try {
    // Disk2, Disk3, ... first and the launcher last: the set's entry point appears only once
    // every volume it asks for is in place.
    std::vector<std::unique_ptr<StagedFile>> staged;
    for (std::size_t d = 0; d < set.disks.size(); ++d) {
      staged.push_back(std::make_unique<StagedFile>(directory / VolumeFileName(static_cast<int>(d + 2))));
      staged.back()->WriteAll(set.disks[d], 0644);
    }
    staged.push_back(std::make_unique<StagedFile>(directory / launcher_name));
    staged.back()->WriteAll(set.launcher, mode);
    for (auto& file : staged) {
      file->Commit();
      written.push_back(file->final_path());
    }
  } catch (...) {
    if (!created.empty()) {
      for (const fs::path& path : written) fs::remove(path, ec);
      for (auto it = created.rbegin(); it != created.rend(); ++it) fs::remove(*it, ec);
    }
    throw;
  }
  // Volume files of a replaced set that this one does not have, in any letter case: the
  // launcher would take them for this set's.
  RemoveReplacedFiles(existing, written);
  std::rotate(written.begin(), written.end() - 1, written.end());
  return written;
}

void RemoveReplacedFiles(const std::vector<std::filesystem::path>& old,
                         const std::vector<std::filesystem::path>& written) {
  std::error_code ec;
  for (const std::filesystem::path& path : old) {
    const bool is_written = std::any_of(written.begin(), written.end(), [&](const std::filesystem::path& file) {
      std::error_code same_ec;
      return std::filesystem::equivalent(path, file, same_ec);
    });
    if (!is_written) std::filesystem::remove(path, ec);
  }
}

namespace {

// Reads the set just written as the launcher does: a build reports success only for a set whose
// every volume is in place and reads whole. A temporary directory too long for its paths is a
// warning: the set extracts where the directory is shorter.
void CheckWrittenSet(const std::filesystem::path& launcher, const std::string& temp_dir,
                     std::vector<std::string>* warnings) {
  const Verification v = VerifySet(launcher, temp_dir);
  if (v.sound()) return;
  if (v.limited && v.longest_temp_dir > 0) {
    warnings->push_back("with the temporary directory " + temp_dir +
                        " the entries' paths exceed the launcher's limits; the set extracts only where the "
                        "temporary directory has at most " + std::to_string(v.longest_temp_dir) + " bytes");
    return;
  }
  for (const Finding& finding : v.findings)
    if (finding.error) throw PackError(PathText(launcher) + ": the set written does not read back: " + finding.text);
}


// Reads the distributor's files into entries: the setup information file and the setup program
// first, compressed under their fixed names, then the other files, compressed under their
// shipped names or, with `store`, as they are. Throws PackError.
std::vector<PackEntry> PrepareEntries(const BuildOptions& options, CodePage code_page, Progress* progress) {
  struct Source {
    std::filesystem::path path;
    CompressedName entry;  // the entry's name, and the character its SZDD header records
    bool compress;
  };
  std::vector<Source> sources = {
      {options.setup_info, {payload::kSetupInfoCompressed, 'f'}, true},
      {options.setup_program, {payload::kSetupProgramCompressed, 'e'}, true},
  };
  for (const std::filesystem::path& file : options.files) {
    const std::string name = NameInCodePage(file, code_page);
    sources.push_back({file, options.store ? CompressedName{name} : ShippedCompressedName(name, code_page),
                       !options.store});
  }
  std::vector<PackEntry> entries;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const Source& source = sources[i];
    if (progress != nullptr)
      progress->Step(i, sources.size(), (source.compress ? "compressing " : "reading ") + PathText(source.path));
    // Braced, so the time is taken before the data is read.
    PackEntry& entry = entries.emplace_back(
        PackEntry{source.entry.name, PathText(source.path), LastWriteTime(source.path), ReadWholeFile(source.path)});
    if (i == 0) entry.data = InfoTextForStub(entry.data, code_page, options.convert_info, entry.source);
    if (source.compress) entry.data = Compress(entry.data, source.entry.missing_char);
  }
  return entries;
}
}  // namespace

BuildResult BuildSet(const BuildOptions& options, Progress* progress) {
  Bytes stub = ReadWholeFile(options.stub);
  const StubInfo info = CheckStub(stub, PathText(options.stub));
  const CodePage code_page = CodePageOf(info.kind);
  std::string version = info.version;
  if (options.version && !FromUtf8(*options.version, code_page, &version))
    throw PackError("the version text \"" + *options.version + "\" cannot be written in " + CodePageName(code_page));
  CheckVersion(version, code_page);

  const std::string launcher_name = PathText(options.stub.filename());
  const bool replacing = !CheckOutputDirectory(options.out_dir, launcher_name, options.force).empty();

  BuildResult result;
  result.stub_kind = info.kind;
  result.entries = PrepareEntries(options, code_page, progress);
  CheckEntries(&result.entries, code_page);
  if (progress != nullptr) progress->Step(1, 2, "laying out the volumes");
  ComposedSet set = ComposeSet(std::move(stub), version, result.entries, options.disk_size);
  result.file_sizes.push_back(set.launcher.size());
  for (const Bytes& disk : set.disks) result.file_sizes.push_back(disk.size());
  const std::uintmax_t bytes = std::accumulate(result.file_sizes.begin(), result.file_sizes.end(), std::uintmax_t{0});
  if (progress != nullptr) progress->Step(2, 2, "writing " + std::to_string(bytes) + " bytes");
  result.files = WriteSetFiles(set, options.out_dir, launcher_name, PermissionBits(options.stub) & 0777, options.force);

  // A launcher of the replaced set under another name now reads this set's volumes as its own.
  if (replacing)
    for (const std::filesystem::path& other : OtherLaunchers(options.out_dir, launcher_name))
      result.warnings.push_back(PathText(other) + ": a launcher of the replaced set, left under another name; it " +
                                "no longer works with the volumes beside it: delete it");

  for (PackEntry& entry : result.entries) entry.data = Bytes();
  CheckWrittenSet(result.files.front(), TypicalTempDir(info.kind), &result.warnings);
  set.launcher = Bytes();
  set.disks.assign(set.disks.size(), Bytes());
  result.layout = std::move(set);
  return result;
}

}  // namespace pack
