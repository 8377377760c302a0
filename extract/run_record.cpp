// Runs the launcher's extraction engine over a set: a platform table laid over the one in use
// that stands in for the launcher's module (its path and resources 104 and 105), answers the
// disk prompt with Cancel, records every file, expansion, preset and start, and starts nothing.
// In the dry run the files the engine writes live in memory; the volumes are read for real.
#include "extract/run_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "extract/extract.h"
#include "format/layout.h"
#include "format/little_endian.h"
#include "format/names.h"
#include "platform/memory_resource.h"
#include "platform/system.h"
#include "szdd/header.h"
#include "szdd/szdd.h"

namespace engine_run {

namespace {

// Bytes kept of a file the engine writes, beyond the setup files kept whole: an SZDD header.
constexpr std::size_t kHeadSize = szdd::kHeaderSize;

// Appends to `kept` what of `count` bytes fits within its first `limit` bytes.
void Keep(Bytes* kept, const std::uint8_t* bytes, std::size_t count, std::size_t limit = kHeadSize) {
  kept->insert(kept->end(), bytes, bytes + std::min(count, limit - std::min(limit, kept->size())));
}

// The first bytes of a file, enough for an SZDD header; fewer when the file is shorter.
Bytes ReadHead(const char* path) {
  const SystemOps& sys = Sys();
  Bytes bytes;
  HANDLE file = sys.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(kHeadSize);
  DWORD read = 0;
  if (!sys.ReadFile(file, bytes.data(), static_cast<DWORD>(kHeadSize), &read, nullptr)) read = 0;
  sys.CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

// A file of the dry run's temporary directory.
struct MemoryFile {
  std::string path;  // as the engine named it
  std::string name;
  Bytes data;  // whole for the setup files, else its first kHeadSize bytes
  std::uint64_t size = 0;
  int record = -1;  // its RunFile, for an entry's file
  bool gone = false;  // deleted, or replaced by a file created under its name
};

// An open handle the table knows: a volume, an entry's output, or a file of the dry run.
struct Tracked {
  enum Kind { kVolume, kOutput, kMemory } kind;
  std::size_t index = 0;   // into volumes, files, or memory files
  std::uint64_t position = 0;
};

class Overlay;
Overlay* g_overlay = nullptr;

class Overlay {
 public:
  explicit Overlay(const RunOptions& options) : options_(options), base_(Sys()), previous_(&Sys()) {
    ops_ = base_;
    Fill();
    g_overlay = this;
    InstallSystem(&ops_);
  }
  ~Overlay() {
    for (auto& [handle, tracked] : handles_)
      if (tracked.kind != Tracked::kMemory) base_.CloseHandle(handle);
    InstallSystem(previous_);
    g_overlay = nullptr;
  }
  Overlay(const Overlay&) = delete;
  Overlay& operator=(const Overlay&) = delete;

  RunRecord record;

 private:
  bool dry() const { return options_.mode == RunMode::kDryRun; }
  // The name part of a path in the temporary directory (the engine writes nowhere else), or
  // empty for another path.
  std::string TempName(const char* path) const {
    const std::size_t n = std::strlen(g_run.temp_dir);
    if (std::strncmp(path, g_run.temp_dir, n) != 0) return {};
    return path + n;
  }
  // One of the two compressed setup files, which the hand-off expands.
  bool IsSetupFile(const std::string& name) const {
    return payload::SameFileName(name.c_str(), payload::kSetupInfoCompressed, options_.is_lead) ||
           payload::SameFileName(name.c_str(), payload::kSetupProgramCompressed, options_.is_lead);
  }
  // The live file of this name, by the rule by which the layers open an existing file.
  MemoryFile* FindMemory(const char* path) {
    for (MemoryFile& file : memory_)
      if (!file.gone && payload::SameFileName(file.path.c_str(), path, options_.is_lead)) return &file;
    return nullptr;
  }
  // Creates a file in memory, in place of the one of its name.
  std::size_t NewMemory(const char* path) {
    if (MemoryFile* old = FindMemory(path)) old->gone = true;
    memory_.push_back({path, TempName(path), {}, 0, -1});
    return memory_.size() - 1;
  }
  // The RunFile an open handle writes, or -1.
  int RecordOf(const Tracked& tracked) const {
    if (tracked.kind == Tracked::kOutput) return static_cast<int>(tracked.index);
    return tracked.kind == Tracked::kMemory ? memory_[tracked.index].record : -1;
  }
  HANDLE NewMemoryHandle(std::size_t index) {
    auto handle = std::make_unique<char>();
    HANDLE h = handle.get();
    owned_.push_back(std::move(handle));
    handles_[h] = {Tracked::kMemory, index, 0};
    return h;
  }

  HANDLE OpenVolume(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    const int number = g_run.volume_number;
    if (options_.last_volume != 0 && number > options_.last_volume) {
      record.stopped = true;
      base_.SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    const char* real = number == options_.first_volume ? options_.module_path.c_str() : path;
    HANDLE h = base_.CreateFileA(real, access, share, nullptr, disposition, flags, nullptr);
    RunVolume volume;
    volume.number = number;
    volume.path = path;
    volume.found = h != INVALID_HANDLE_VALUE;
    volume.start = number == 1 ? options_.payload_offset : 0;
    record.volumes.push_back(volume);
    if (h != INVALID_HANDLE_VALUE) {
      handles_[h] = {Tracked::kVolume, record.volumes.size() - 1, 0};
      current_volume_ = static_cast<int>(record.volumes.size() - 1);
    }
    // A handle is not a pointer into `real`, whatever its type says.
    // cppcheck-suppress returnDanglingLifetime
    return h;
  }

  // Records the file an entry is written to, from the header the engine has just read.
  std::size_t RecordEntryFile(const std::string& name) {
    RunFile file;
    file.name = name;
    if (current_volume_ >= 0) {
      RunVolume& volume = record.volumes[static_cast<std::size_t>(current_volume_)];
      file.volume = volume.number;
      for (auto& [handle, tracked] : handles_)
        if (tracked.kind == Tracked::kVolume && tracked.index == static_cast<std::size_t>(current_volume_))
          file.data_offset = tracked.position;
      volume.files.push_back(record.files.size());
      // The header just read ends with the entry's time and data size.
      const std::size_t end = volume.header.size();
      if (end >= payload::kFileTimeSize + payload::kDataSizeSize) {
        file.filetime = payload::ReadLE64(&volume.header[end - payload::kFileTimeSize - payload::kDataSizeSize]);
        file.announced_size = static_cast<std::int32_t>(payload::ReadLE32(&volume.header[end - payload::kDataSizeSize]));
      }
      volume.header.clear();
    }
    record.files.push_back(file);
    return record.files.size() - 1;
  }

  HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (path == g_run.module_path || std::strcmp(path, g_run.module_path) == 0)
      if (access == GENERIC_READ) return OpenVolume(path, access, share, disposition, flags);
    const std::string name = TempName(path);
    const bool entry = (access & GENERIC_WRITE) != 0 && !name.empty();
    HANDLE h = INVALID_HANDLE_VALUE;
    if (dry()) {
      if (access & GENERIC_WRITE) {
        h = NewMemoryHandle(NewMemory(path));
      } else if (MemoryFile* file = FindMemory(path)) {
        h = NewMemoryHandle(static_cast<std::size_t>(file - memory_.data()));
      } else if (access == 0) {
        base_.SetLastError(ERROR_FILE_NOT_FOUND);
      } else {
        h = base_.CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
      }
    } else {
      h = base_.CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    }
    // The hand-off tests that a setup file exists with no access rights.
    if (access == 0) record.expansions.push_back({name, h != INVALID_HANDLE_VALUE, false, false, -1, 0, {}});
    if (entry && h != INVALID_HANDLE_VALUE) {
      const std::size_t index = RecordEntryFile(name);
      entry_open_ = true;
      if (dry()) {
        memory_.back().record = static_cast<int>(index);
      } else {
        handles_[h] = {Tracked::kOutput, index, 0};
      }
    }
    return h;
  }

  BOOL Read(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read) {
    const auto it = handles_.find(file);
    if (it == handles_.end()) return base_.ReadFile(file, buffer, count, read, nullptr);
    Tracked& tracked = it->second;
    if (tracked.kind == Tracked::kMemory) {
      const MemoryFile& memory = memory_[tracked.index];
      const std::uint64_t available = memory.data.size() > tracked.position ? memory.data.size() - tracked.position : 0;
      *read = static_cast<DWORD>(std::min<std::uint64_t>(count, available));
      if (*read > 0) std::memcpy(buffer, memory.data.data() + tracked.position, *read);
      tracked.position += *read;
      return TRUE;
    }
    const BOOL ok = base_.ReadFile(file, buffer, count, read, nullptr);
    if (!ok || tracked.kind != Tracked::kVolume) return ok;
    RunVolume& volume = record.volumes[tracked.index];
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (*read == payload::kSetTotalSize && tracked.position == volume.start && !volume.accepted) {
      volume.set_total = static_cast<std::int32_t>(payload::ReadLE32(bytes));
      volume.accepted = volume.number == options_.first_volume || volume.set_total == g_run.set_total;
    } else if (volume.accepted && !entry_open_) {
      // Outside an entry's data, what the engine reads is the header of the entry it reads next.
      volume.header.insert(volume.header.end(), bytes, bytes + *read);
    }
    tracked.position += *read;
    return ok;
  }

  BOOL Write(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written) {
    const auto it = handles_.find(file);
    if (it == handles_.end()) return base_.WriteFile(file, buffer, count, written, nullptr);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (it->second.kind == Tracked::kMemory) {
      MemoryFile& memory = memory_[it->second.index];
      Keep(&memory.data, bytes, count, IsSetupFile(memory.name) ? SIZE_MAX : kHeadSize);
      memory.size += count;
      *written = count;
    } else if (!base_.WriteFile(file, buffer, count, written, nullptr)) {
      return FALSE;
    }
    const int index = RecordOf(it->second);
    if (index >= 0) {
      RunFile& record_file = record.files[static_cast<std::size_t>(index)];
      record_file.written += *written;
      record_file.chunks.push_back(*written);
      Keep(&record_file.head, bytes, *written);
    }
    return TRUE;
  }

  DWORD Seek(HANDLE file, LONG offset, PLONG high, DWORD method) {
    const auto it = handles_.find(file);
    if (it != handles_.end() && it->second.kind == Tracked::kMemory) {
      if (offset < 0 || method != FILE_BEGIN) return INVALID_SET_FILE_POINTER;
      it->second.position = static_cast<std::uint64_t>(offset);
      return static_cast<DWORD>(offset);
    }
    const DWORD result = base_.SetFilePointer(file, offset, high, method);
    if (it != handles_.end() && result != INVALID_SET_FILE_POINTER) it->second.position = result;
    return result;
  }

  DWORD Size(HANDLE file, LPDWORD high) {
    const auto it = handles_.find(file);
    if (it == handles_.end() || it->second.kind != Tracked::kMemory) return base_.GetFileSize(file, high);
    if (high != nullptr) *high = 0;
    return static_cast<DWORD>(memory_[it->second.index].size);
  }

  BOOL Time(HANDLE file, const FILETIME* last_write) {
    const auto it = handles_.find(file);
    const int index = it == handles_.end() ? -1 : RecordOf(it->second);
    if (index >= 0 && last_write != nullptr)
      record.files[static_cast<std::size_t>(index)].filetime =
          (static_cast<std::uint64_t>(last_write->dwHighDateTime) << 32) | last_write->dwLowDateTime;
    if (it != handles_.end() && it->second.kind == Tracked::kMemory) return TRUE;
    return base_.SetFileTime(file, nullptr, nullptr, last_write);
  }

  BOOL Close(HANDLE handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return base_.CloseHandle(handle);
    const Tracked tracked = it->second;
    handles_.erase(it);
    const int index = RecordOf(tracked);
    if (index >= 0) {
      entry_open_ = false;
      RunFile& file = record.files[static_cast<std::size_t>(index)];
      file.whole = file.written == static_cast<std::uint64_t>(std::max(file.announced_size, 0));
    }
    if (tracked.kind == Tracked::kMemory) return TRUE;
    if (tracked.kind == Tracked::kVolume) {
      RunVolume& volume = record.volumes[tracked.index];
      volume.position = tracked.position;
      DWORD high = 0;
      const DWORD size = base_.GetFileSize(handle, &high);
      volume.end = g_run.volume_left >= 0 ? tracked.position + static_cast<std::uint64_t>(g_run.volume_left)
                                          : (static_cast<std::uint64_t>(high) << 32 | size);
      current_volume_ = -1;
    }
    return base_.CloseHandle(handle);
  }

  BOOL Delete(LPCSTR path) {
    if (!dry()) return base_.DeleteFileA(path);
    MemoryFile* file = FindMemory(path);
    if (file != nullptr) file->gone = true;
    return file != nullptr;
  }

  INT LzOpen(LPSTR path, LPOFSTRUCT record_out, WORD style) {
    if (!dry()) {
      const INT handle = base_.LZOpenFileA(path, record_out, style);
      szdd::Header header;
      const Bytes head = (style & OF_CREATE) != 0 || handle < 0 ? Bytes() : ReadHead(path);
      if (szdd::ParseHeader(head.data(), head.size(), &header)) announced_[handle] = header.expanded_length;
      return handle;
    }
    // LZ32 keeps the path in the 128-byte field of its record.
    if (std::strlen(path) >= sizeof record_out->szPathName) return LZERROR_BADINHANDLE;
    if ((style & OF_CREATE) != 0) return static_cast<INT>(NewMemory(path));
    const MemoryFile* file = FindMemory(path);
    return file == nullptr ? LZERROR_BADINHANDLE : static_cast<INT>(file - memory_.data());
  }

  LONG LzCopy(INT source, INT target) {
    RunExpansion* expansion = record.expansions.empty() ? nullptr : &record.expansions.back();
    LONG copied = 0;
    Bytes out;
    if (!dry()) {
      copied = base_.LZCopy(source, target);
      if (expansion != nullptr && announced_.count(source) != 0) {
        expansion->announced = announced_[source];
        expansion->szdd = true;
      }
    } else {
      const Bytes& data = memory_[static_cast<std::size_t>(source)].data;
      szdd::Header header;
      if (szdd::ParseHeader(data.data(), data.size(), &header)) {
        const szdd::ExpandResult result = szdd::ExpandBuffer(data.data(), data.size(), &out);
        copied = result.status == szdd::Status::kNotSzdd ? LZERROR_UNKNOWNALG : static_cast<LONG>(out.size());
        if (expansion != nullptr) {
          expansion->announced = header.expanded_length;
          expansion->szdd = true;
        }
      } else {
        out = data;
        copied = static_cast<LONG>(out.size());
        if (expansion != nullptr) expansion->announced = static_cast<std::int64_t>(data.size());
      }
      MemoryFile& written = memory_[static_cast<std::size_t>(target)];
      written.size = out.size();
      Keep(&written.data, out.data(), out.size());
    }
    if (expansion != nullptr) {
      expansion->copied = true;
      expansion->expanded = copied;
      // The information file is kept whole, for the check of its text; the program, its head.
      const bool whole = expansion->compressed == payload::kSetupInfoCompressed;
      Keep(&expansion->head, out.data(), out.size(), whole ? SIZE_MAX : kHeadSize);
    }
    return copied;
  }

  void Fill();

  RunOptions options_;
  SystemOps base_;
  const SystemOps* previous_;
  SystemOps ops_;
  std::map<HANDLE, Tracked> handles_;
  std::vector<std::unique_ptr<char>> owned_;
  std::vector<MemoryFile> memory_;
  std::map<INT, std::int64_t> announced_;     // LZ handle -> the length its SZDD header announces
  int current_volume_ = -1;
  bool entry_open_ = false;  // an entry's file is open: the volume reads are its data
  std::uint8_t offset_resource_[payload::kOffsetResourceSize] = {};
  char version_resource_[payload::kVersionResourceSize] = {};
  MemoryResource resources_[2] = {{offset_resource_, sizeof offset_resource_}, {version_resource_, sizeof version_resource_}};

  friend struct Calls;
};

// The table's members: plain functions that reach the overlay in use.
struct Calls {
  static Overlay& O() { return *g_overlay; }
  static HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                                   DWORD flags, HANDLE) {
    return O().Create(path, access, share, disposition, flags);
  }
  static BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
    return O().Read(file, buffer, count, read);
  }
  static BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
    return O().Write(file, buffer, count, written);
  }
  static DWORD WINAPI SetFilePointer(HANDLE file, LONG offset, PLONG high, DWORD method) {
    return O().Seek(file, offset, high, method);
  }
  static DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) { return O().Size(file, high); }
  static BOOL WINAPI SetFileTime(HANDLE file, const FILETIME*, const FILETIME*, const FILETIME* last_write) {
    return O().Time(file, last_write);
  }
  static BOOL WINAPI CloseHandle(HANDLE handle) { return O().Close(handle); }
  static BOOL WINAPI DeleteFileA(LPCSTR path) { return O().Delete(path); }
  static BOOL WINAPI WritePrivateProfileStringA(LPCSTR, LPCSTR key, LPCSTR value, LPCSTR) {
    O().record.presets.emplace_back(key, value);
    return TRUE;
  }
  static HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    const auto id = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
    if (id == payload::kOffsetResourceId) return reinterpret_cast<HRSRC>(&O().resources_[0]);
    if (id == payload::kVersionResourceId) return reinterpret_cast<HRSRC>(&O().resources_[1]);
    return nullptr;
  }
  static void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) { *info = {}; }
  static BOOL WINAPI CreateProcessA(LPCSTR, LPSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                    DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION info) {
    O().record.command_line = command_line;
    *info = {};
    return TRUE;
  }
  static BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
    O().record.command_line = info->lpFile;
    return TRUE;
  }
  static HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return S_OK; }
  static int WINAPI MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
    if (!O().record.stopped) O().record.prompts.push_back(g_run.volume_number);
    return IDCANCEL;
  }
  static LRESULT WINAPI SendDlgItemMessageA(HWND, int, UINT, WPARAM, LPARAM) { return 0; }
  static BOOL WINAPI IsDBCSLeadByte(BYTE byte) { return O().options_.is_lead(byte) ? TRUE : FALSE; }
  static INT WINAPI LZOpenFileA(LPSTR path, LPOFSTRUCT record, WORD style) { return O().LzOpen(path, record, style); }
  static LONG WINAPI LZCopy(INT source, INT target) { return O().LzCopy(source, target); }
  static void WINAPI LZClose(INT handle) {
    if (O().options_.mode == RunMode::kWrite) O().base_.LZClose(handle);
  }
};

void Overlay::Fill() {
  payload::WriteLE32(offset_resource_, options_.payload_offset);
  std::memcpy(version_resource_, options_.version.data(),
              std::min<std::size_t>(options_.version.size(), payload::kVersionResourceSize - 1));
  // Every operation the run stands in for: the module, the files, the hand-off and the prompt.
#define QMR_STAND_IN(name) ops_.name = Calls::name;
  QMR_STAND_IN(CreateFileA) QMR_STAND_IN(ReadFile) QMR_STAND_IN(WriteFile) QMR_STAND_IN(SetFilePointer)
  QMR_STAND_IN(GetFileSize) QMR_STAND_IN(SetFileTime) QMR_STAND_IN(CloseHandle) QMR_STAND_IN(DeleteFileA)
  QMR_STAND_IN(WritePrivateProfileStringA) QMR_STAND_IN(FindResourceA) QMR_STAND_IN(GetStartupInfoA)
  QMR_STAND_IN(CreateProcessA)
  QMR_STAND_IN(ShellExecuteExA) QMR_STAND_IN(CoInitializeEx) QMR_STAND_IN(MessageBoxA)
  QMR_STAND_IN(SendDlgItemMessageA) QMR_STAND_IN(LZOpenFileA) QMR_STAND_IN(LZCopy) QMR_STAND_IN(LZClose)
#undef QMR_STAND_IN
  ops_.LoadResource = LoadMemoryResource;
  ops_.LockResource = LockMemoryResource;
  ops_.SizeofResource = SizeofMemoryResource;
  // The dry run reads names in the launcher's code page; the real layer keeps its own rule.
  if (dry()) ops_.IsDBCSLeadByte = Calls::IsDBCSLeadByte;
}

}  // namespace

RunRecord RunEngine(const RunOptions& options) {
  RunRecord record;
  if (options.module_path.size() >= payload::kTextSize || options.temp_dir.size() >= payload::kTextSize) return record;
  Overlay overlay(options);
  ResetExtractionState();
  std::memcpy(g_run.module_path, options.module_path.c_str(), options.module_path.size() + 1);
  std::memcpy(g_run.temp_dir, options.temp_dir.c_str(), options.temp_dir.size() + 1);
  std::memcpy(g_run.version, options.version.data(),
              std::min<std::size_t>(options.version.size(), payload::kVersionResourceSize - 1));
  if (options.first_volume > 1) {
    g_run.volume_number = options.first_volume - 1;
    g_run.set_total = options.set_total;
  }
  const bool succeeded = ExtractAndLaunch() == 1;
  // The launcher deletes what a failed run extracted.
  if (!succeeded && options.mode == RunMode::kWrite) DeleteListedFiles(g_run.cleanup_list);
  std::swap(record, overlay.record);
  record.succeeded = succeeded;
  record.set_total = g_run.set_total;
  record.extracted_bytes = g_run.extracted_bytes;
  record.cleanup_bytes = g_run.list_position + 1;
  return record;
}

}  // namespace engine_run
