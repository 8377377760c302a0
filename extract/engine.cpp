// The extraction engine: writes every entry of every volume into the temporary directory,
// counts the data against the set total, reports progress and lists each created file.
#include "extract/extract.h"
#include "extract/text.h"
#include "format/little_endian.h"
#include "platform/system.h"
#include "res/ids.h"

namespace {


// True when `path` can be appended to the clean-up list and still leave room for the empty
// string that ends it.
bool FitsCleanupList(const char* path) {
  const std::uint32_t length = static_cast<std::uint32_t>(Sys().lstrlenA(path));
  return g_run.list_position + length + 1 + 1 <= payload::kCleanupListSize;
}

// Lists a file the run created, once: a second entry of one name (in any spelling) would be
// deleted twice, and the second time could reach a file of another spelling the run never wrote.
void AppendToCleanupList(const char* path) {
  const SystemOps& sys = Sys();
  for (std::uint32_t at = 0; at < g_run.list_position; at += static_cast<std::uint32_t>(sys.lstrlenA(g_run.cleanup_list + at)) + 1)
    if (payload::SameFileName(g_run.cleanup_list + at, path, sys.IsDBCSLeadByte)) return;
  sys.lstrcpyA(g_run.cleanup_list + g_run.list_position, path);
  g_run.list_position += static_cast<std::uint32_t>(sys.lstrlenA(path)) + 1;
}

// Copies `size` data bytes from the volume into `out` in chunks of the copy buffer.
int CopyEntryData(HANDLE volume, HANDLE out, std::int32_t size) {
  std::int32_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(size - done < payload::kCopyChunkSize ? size - done
                                                                                 : payload::kCopyChunkSize);
    if (ReadVolumeBlock(volume, g_run.copy_buffer, chunk) != chunk) return 0;
    if (!WriteBlock(out, g_run.copy_buffer, chunk)) return 0;
    done += static_cast<std::int32_t>(chunk);
    g_run.extracted_bytes += chunk;
    ReportProgress();
  }
  return 1;
}

// Writes one entry whose name length byte has been read. Returns 0 on failure, with the
// output file closed (the volume is the caller's).
int ExtractEntry(HANDLE volume, BYTE name_length) {
  const SystemOps& sys = Sys();
  // The name is read first: its counted bytes are read whole and end at a NUL among
  // them, or at their end when the writer left the NUL out.
  char* name = g_run.scratch.entry.name;
  if (name_length > 0 && ReadVolumeBlock(volume, name, name_length) != name_length) return 0;
  name[name_length] = '\0';

  FILETIME last_write;
  unsigned char time_bytes[payload::kFileTimeSize];
  if (ReadVolumeBlock(volume, time_bytes, sizeof time_bytes) != sizeof time_bytes) return 0;
  last_write.dwLowDateTime = static_cast<DWORD>(payload::ReadLE32(time_bytes));
  last_write.dwHighDateTime = static_cast<DWORD>(payload::ReadLE32(time_bytes + 4));

  unsigned char size_bytes[payload::kDataSizeSize];
  if (ReadVolumeBlock(volume, size_bytes, sizeof size_bytes) != sizeof size_bytes) return 0;
  const std::int32_t size = static_cast<std::int32_t>(payload::ReadLE32(size_bytes));

  // A name with a directory part would write outside the temporary directory, and a path that
  // does not fit the texts or the clean-up list would escape the clean-up: a corrupt set.
  if (!payload::IsPlainFileName(name, sys.IsDBCSLeadByte)) return 0;
  char* path = g_run.scratch.entry.path;
  if (!JoinTexts(path, payload::kTextSize, g_run.temp_dir, name) || !FitsCleanupList(path)) return 0;

  HANDLE out = sys.CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 0;
  AppendToCleanupList(path);
  if (!CopyEntryData(volume, out, size)) {
    sys.CloseHandle(out);
    return 0;
  }
  sys.SetFileTime(out, nullptr, nullptr, &last_write);
  sys.CloseHandle(out);
  return 1;
}

// Writes every entry of one volume. Returns 0 on failure; the volume stays open.
int ExtractVolume(HANDLE volume) {
  for (;;) {
    BYTE name_length = 0;
    // A read that does not yield the byte, an error included, ends the volume, as does the
    // alignment before a signed launcher's certificate table.
    if (!ReadEntryStart(volume, &name_length)) return 1;
    if (!ExtractEntry(volume, name_length)) return 0;
  }
}

// Deletes a file the hand-off expanded into the temporary directory.
void DeleteExpandedFile(const char* name) {
  char* path = g_run.scratch.expansion.target;
  if (JoinTexts(path, payload::kTextSize, g_run.temp_dir, name)) Sys().DeleteFileA(path);
}

// Expands the setup files, writes the presets and starts the setup program. A hand-off that
// fails removes what it expanded, as the run's clean-up removes what the entries wrote: a
// failed run leaves no setup program or information file of its own behind.
int RunSetupHandOff() {
  if (!ExpandSetupFile(payload::kSetupInfoCompressed, payload::kSetupInfoExpanded)) return 0;
  if (ExpandSetupFile(payload::kSetupProgramCompressed, payload::kSetupProgramExpanded)) {
    WritePresets();
    if (LaunchSetup()) return 1;
    DeleteExpandedFile(payload::kSetupProgramExpanded);
  }
  DeleteExpandedFile(payload::kSetupInfoExpanded);
  return 0;
}

}  // namespace

int ExtractAndLaunch() {
  // Every output path is the temporary directory followed by a name; one that could not be
  // given its trailing backslash (too long) leaves no room for any name.
  if (!EndsWithBackslash(g_run.temp_dir, Sys().IsDBCSLeadByte)) return 0;
  for (;;) {
    HANDLE volume = OpenNextVolume();
    if (volume == INVALID_HANDLE_VALUE) return 0;
    const int ok = ExtractVolume(volume);
    Sys().CloseHandle(volume);
    if (!ok) return 0;
    // A following volume is looked for only while the data written falls short of the total.
    if (g_run.extracted_bytes >= g_run.set_total) break;
  }
  return RunSetupHandOff();
}

void ReportProgress() {
  // 64-bit arithmetic: the percentage never wraps, so it never moves backwards.
  std::int64_t percent = 100;
  if (g_run.set_total != 0) percent = g_run.extracted_bytes * 100 / g_run.set_total;
  if (percent > INT32_MAX) percent = INT32_MAX;
  if (percent > g_run.last_percent) {
    Sys().SendDlgItemMessageA(g_run.dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    g_run.last_percent = static_cast<std::int32_t>(percent);
  }
}

void UnlistFile(const char* path) {
  const SystemOps& sys = Sys();
  char* const list = g_run.cleanup_list;
  std::uint32_t kept = 0;
  for (std::uint32_t at = 0; at < g_run.list_position;) {
    const auto length = static_cast<std::uint32_t>(sys.lstrlenA(list + at)) + 1;
    if (!payload::SameFileName(list + at, path, sys.IsDBCSLeadByte)) {
      for (std::uint32_t i = 0; i < length; ++i) list[kept + i] = list[at + i];
      kept += length;
    }
    at += length;
  }
  // What the list no longer holds is zeroed, so that it still ends in an empty text.
  for (std::uint32_t i = kept; i < g_run.list_position; ++i) list[i] = '\0';
  g_run.list_position = kept;
}

void DeleteListedFiles(const char* list) {
  const SystemOps& sys = Sys();
  int position = 0;
  while (position < payload::kCleanupListSize && list[position] != '\0') {
    sys.DeleteFileA(list + position);
    while (position < payload::kCleanupListSize && list[position] != '\0') ++position;
    ++position;
  }
}
